// The letters of a sequence file for the Python module: rnaqubo's own input
// format (a count, then one word per base).
#pragma once

#include <string>

// The n letters (A, C, G, U) of the sequence file at path in rnaqubo's input
// format, read as rnaqubo reads it, n taken from the file's count. Throws
// FileFailure when the file cannot be read, and RunFailure (status 1) with
// "<path>: " and rnaqubo's message for bad content ("Nothing read from Sequence",
// "Invalid gene base read: <word>", "Error in sequence length <n>").
std::string ReadRnaquboSequenceFile(const std::string& path);
