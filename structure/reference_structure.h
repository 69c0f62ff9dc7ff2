// A known secondary structure to compare a folded structure with: reading it from
// a dot-bracket file, and scoring a structure's base pairs against it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/dot_bracket.h"
#include "model/quad_model.h"

// A reference structure read from a file.
struct ReferenceStructure {
  std::string name;             // the record's ">name" (without '>'), empty for a bare line
  std::vector<BasePair> pairs;  // every bracket pair, pseudoknots included, sorted by i
};

// Parses text (size bytes, the contents of the file called path) as a reference for
// the sequence at buffer positions 1..n: either one structure line, or a record of a
// ">name" line, a sequence line and a structure line (the header and the sequence
// line are each optional). Blank lines, lines starting with '#' and CR before a line
// end are ignored. The structure is n characters of '.' and the brackets () [] {} <>,
// each kind balanced on its own (MatchBrackets); it may be followed by white space
// and an energy such as "(-12.30)".
// The sequence line must match buffer letter for letter (either case, T read as U).
// Returns the reference, or throws Failure kData with a message naming path and
// the line, position and character at fault.
ReferenceStructure ParseReferenceStructure(const std::string& path, const char* text, size_t size,
                                           const char* buffer, int32_t n);

// Reads the file at path and parses it as ParseReferenceStructure does. Throws
// Failure kFile "<path>: cannot read: <reason>" (with path and errno) when the
// file cannot be opened or read.
ReferenceStructure ReadReferenceStructure(const std::string& path, const char* buffer, int32_t n);

// Agreement of predicted pairs with reference pairs, counted as exact pair matches
// over the two sets (a pair listed twice counts once).
struct PairScores {
  int32_t true_pairs;       // pairs in both sets
  int32_t predicted_pairs;  // distinct predicted pairs
  int32_t reference_pairs;  // distinct reference pairs
  double sensitivity;       // true / reference
  double ppv;               // true / predicted
  double f1;                // 2 true / (predicted + reference)
};

// Scores predicted against reference (pairs with i < j, any order). A ratio whose
// denominator is 0 is 1 when both sets are empty and 0 otherwise.
PairScores ScorePairs(const std::vector<BasePair>& predicted,
                      const std::vector<BasePair>& reference);

// The three score lines, 4 decimals each:
// "sensitivity: 0.8125\nPPV: 0.7647\nF1: 0.7879\n", each line starting with
// prefix (such as "optimum " for the scores against the optimum's structure).
std::string FormatPairScores(const PairScores& scores, const char* prefix = "");

// The distinct pairs of pairs (i < j), sorted by i and then j.
std::vector<BasePair> SortedDistinctPairs(const std::vector<BasePair>& pairs);

// The distinct base pairs of the chosen quads (each quad's outer and inner pair),
// sorted; chosen holds quad_count + 1 bytes, chosen[v] != 0 for a chosen variable v.
std::vector<BasePair> SelectionPairs(const QuadModel& model, const uint8_t* chosen);
