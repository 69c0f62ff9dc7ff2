// rnaqubo's run: one straight pipeline from the command line to the outputs.
#pragma once

// Runs rnaqubo on the command line argc/argv: arguments, sequence, pairs, quads,
// "dot_paren.txt", the Q_nested_ listing and the Q file, in this order, with the
// progress lines on standard output. Every failure is reported here with
// rnaqubo's fixed message; returns the exit status.
int RunRnaqubo(int argc, char** argv);
