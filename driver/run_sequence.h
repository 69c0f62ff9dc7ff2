// The run sequence: one straight pipeline from the command line to the outputs.
#pragma once

// Runs rnaqubo on the command line argc/argv: arguments, sequence, pairs, quads,
// "dot_paren.txt", the Q_nested_ listing and the Q file, in this order. Returns
// the exit status of a complete run; every failure ends the process itself.
int RunRnaqubo(int argc, char** argv);
