// Dot-bracket structures: '.' for an unpaired position, and four kinds of
// brackets, () [] {} <>, each kind balanced on its own (so that pseudoknots
// can be written with a second kind).
#pragma once

#include <cstdint>
#include <string>
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

// The dot-bracket line of length characters for pairs (positions from 1, each
// position in at most one pair, any order): the pairs are taken in 5' order and
// each is written with the first of () [] {} <> whose pairs written so far it
// does not cross, so that MatchBrackets reads the line back as exactly these
// pairs. Throws Failure kData "position <i>: the pair <i>-<j> crosses pairs of all
// four bracket kinds" when none is left, or "position <p>: ..." for a position
// out of range or paired twice.
std::string FormatDotBracket(std::vector<BasePair> pairs, int32_t length);
