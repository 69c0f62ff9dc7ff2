// The five arguments that define a model, as rnaqubo and rnaqubo-fold take them:
// the sequence file, n, the minimum distance, add_quads and the penalty.
#pragma once

#include <cstdint>

// The model arguments, in command-line order.
struct RunParameters {
  const char* input_RNA_sequence_filename;  // used unchanged to open and to name outputs
  int32_t sequence_length;                  // n, the number of bases the file must hold
  int32_t min_distance_allowed_between_positions;  // a pair needs j - i above this
  int32_t add_quads;                        // non-zero switches the chain bonus on
  int32_t M_penalty;                        // value written for every conflicting couple
};

// Number of words ParseModelArguments takes.
constexpr int kModelArgumentCount = 5;

// The names of the model arguments, in order, as usage lines show them.
constexpr const char* kModelArgumentNames =
    "input_RNA_sequence_filename sequence_length min_distance_allowed_between_positions add_quads0/1 M_penalty";

// Converts text the way the standard string-to-integer conversion does: leading
// white space, an optional sign, decimal digits, the rest ignored; no digits gives 0.
// Returns false (value untouched) when the digits do not fit in a signed 32-bit integer.
bool ConvertArgument(const char* text, int32_t* value);

// The parameters of words[0..4]. Every number is converted before the length is
// checked. Throws Failure kUsage "Number out of range: <word>" (the word as
// given) for the first number that does not fit, and Failure kData "Error in
// sequence length <n>" for n < 1.
RunParameters ParseModelArguments(const char* const* words);
