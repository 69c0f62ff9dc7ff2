// rnaqubo's usage lines, help text and version line.
#pragma once

#include <cstdio>

// Writes the two usage lines, with program (argv[0]) in each, to stream.
void PrintUsage(std::FILE* stream, const char* program);

// Writes the usage lines and a description of the arguments and outputs to
// standard output. Returns the exit status: 0, or 2 if standard output fails.
int PrintHelp(const char* program);

// Writes "rnaqubo <version>" to standard output. Returns the exit status: 0, or
// 2 if standard output fails.
int PrintVersion();
