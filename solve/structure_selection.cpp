#include "solve/structure_selection.h"

#include <algorithm>

#include "model/feasible_pairs.h"

EncodedStructure EncodeStructure(const QuadModel& model, int32_t min_distance, const std::vector<BasePair>& pairs) {
  std::vector<BasePair> sorted = pairs;
  std::sort(sorted.begin(), sorted.end(),
            [](const BasePair& x, const BasePair& y) { return x.i != y.i ? x.i < y.i : x.j < y.j; });
  EncodedStructure encoded;
  encoded.chosen.assign(static_cast<size_t>(model.quad_count) + 1, 0);
  // partner[p]: the position paired with p among the nested, representable pairs.
  std::vector<int32_t> partner(static_cast<size_t>(model.n) + 2, 0);
  std::vector<BasePair> kept;
  const int32_t window = PairingWindowWidth(model.n);
  for (const BasePair& pair : sorted) {
    bool crosses = false;
    for (const BasePair& other : kept) {
      if ((other.i < pair.i && pair.i < other.j && other.j < pair.j) || other.i == pair.i || other.j == pair.j ||
          other.i == pair.j || other.j == pair.i) {
        crosses = true;
        break;
      }
    }
    if (crosses) {
      encoded.pseudoknotted.push_back(pair);
    } else if (!CanPair(model.buffer[pair.i], model.buffer[pair.j])) {
      encoded.mismatched.push_back(pair);
    } else if (pair.j - pair.i <= min_distance || pair.j - pair.i > window) {
      encoded.out_of_range.push_back(pair);
    } else {
      kept.push_back(pair);
      partner[pair.i] = pair.j;
      partner[pair.j] = pair.i;
    }
  }
  std::vector<uint8_t> in_quad(static_cast<size_t>(model.n) + 2, 0);
  for (int32_t q = 1; q <= model.quad_count; ++q) {
    const int32_t* quad = MatrixRow(model.quads, q);
    if (partner[quad[0]] == quad[1] && partner[quad[2]] == quad[3]) {
      encoded.chosen[q] = 1;
      in_quad[quad[0]] = in_quad[quad[2]] = 1;
    }
  }
  for (const BasePair& pair : kept) {
    if (in_quad[pair.i] == 0) encoded.lone.push_back(pair);
  }
  return encoded;
}
