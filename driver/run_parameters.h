// The five command-line arguments of a run and their conversion.
#pragma once

#include <cstdint>

// The run parameters, in command-line order.
struct RunParameters {
  const char* input_RNA_sequence_filename;  // used unchanged to open and to name outputs
  int32_t sequence_length;                  // n, the number of bases the file must hold
  int32_t min_distance_allowed_between_positions;  // a pair needs j - i above this
  int32_t add_quads;                        // non-zero switches the chain bonus on
  int32_t M_penalty;                        // value written for every conflicting couple
};

// Converts text the way the standard string-to-integer conversion does: leading
// white space, an optional sign, decimal digits, the rest ignored; no digits gives 0.
// Returns false (value untouched) when the digits do not fit in a signed 32-bit integer.
bool ConvertArgument(const char* text, int32_t* value);

// Handles the command line of a run: the usage lines and status 2 for a wrong
// argument count, "--help" and "--version" alone, "Number out of range" and status 2
// for a number that does not fit, "Error in sequence length" and status 1 for n < 1.
// Returns the parameters only for a command line that can start a run.
RunParameters ParseRunParameters(int argc, char** argv);
