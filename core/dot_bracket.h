// Dot-bracket structures: '.' for an unpaired position, and four kinds of
// brackets, () [] {} <>, each kind balanced on its own (so that pseudoknots
// can be written with a second kind).
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

// A base pair of positions i < j, counted from 1.
struct BasePair {
  int32_t i;
  int32_t j;
};

// The pairs of structure, sorted by i. Throws Failure kData with the message
// "position <p>: <reason>" (p counted from 1) for the first fault: a character
// that is neither '.' nor a bracket, a closer with no opener of its kind, or an
// opener never closed (the leftmost of the innermost unclosed ones).
std::vector<BasePair> MatchBrackets(std::string_view structure);
