#include "solve/structure_selection.h"

#include <algorithm>

#include "model/feasible_pairs.h"

namespace {

bool ByPosition(const BasePair& x, const BasePair& y) { return x.i != y.i ? x.i < y.i : x.j < y.j; }

// Whether pair crosses other or shares a position with it.
bool Clashes(const BasePair& pair, const BasePair& other) {
  return (other.i < pair.i && pair.i < other.j && other.j < pair.j) ||
         (pair.i < other.i && other.i < pair.j && pair.j < other.j) || other.i == pair.i || other.j == pair.j ||
         other.i == pair.j || other.j == pair.i;
}

}  // namespace

EncodedStructure EncodeStructure(const QuadModel& model, int32_t min_distance, const std::vector<BasePair>& pairs) {
  std::vector<BasePair> sorted = pairs;
  std::sort(sorted.begin(), sorted.end(), ByPosition);
  const auto holds = [&](int32_t i, int32_t j) {
    return std::binary_search(sorted.begin(), sorted.end(), BasePair{i, j}, ByPosition);
  };
  EncodedStructure encoded;
  encoded.chosen.assign(static_cast<size_t>(model.quad_count) + 1, 0);
  // Every quad both of whose pairs are in the structure, whatever else it holds.
  std::vector<BasePair> formed;
  for (int32_t q = 1; q <= model.quad_count; ++q) {
    const int32_t* quad = MatrixRow(model.quads, q);
    if (holds(quad[0], quad[1]) && holds(quad[2], quad[3])) {
      encoded.chosen[q] = 1;
      formed.push_back(BasePair{quad[0], quad[1]});
      formed.push_back(BasePair{quad[2], quad[3]});
    }
  }
  std::sort(formed.begin(), formed.end(), ByPosition);
  formed.erase(std::unique(formed.begin(), formed.end(),
                           [](const BasePair& x, const BasePair& y) { return x.i == y.i && x.j == y.j; }),
               formed.end());
  // The other pairs, each in the first list that applies; a pair is
  // pseudoknotted when it clashes with a formed pair or with a pair kept
  // before it.
  std::vector<BasePair> kept = formed;
  const int32_t window = PairingWindowWidth(model.n);
  for (const BasePair& pair : sorted) {
    if (std::binary_search(formed.begin(), formed.end(), pair, ByPosition)) continue;
    if (std::any_of(kept.begin(), kept.end(), [&](const BasePair& other) { return Clashes(pair, other); })) {
      encoded.pseudoknotted.push_back(pair);
    } else if (!CanPair(model.buffer[pair.i], model.buffer[pair.j])) {
      encoded.mismatched.push_back(pair);
    } else if (pair.j - pair.i <= min_distance || pair.j - pair.i > window) {
      encoded.out_of_range.push_back(pair);
    } else {
      kept.push_back(pair);
      encoded.lone.push_back(pair);
    }
  }
  return encoded;
}
