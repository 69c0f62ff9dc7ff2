// A sub-model over some of a model's variables, renumbered 1..Q' in their
// original order, and its entries: exactly the original entries whose row and
// column are both kept, in the Q file's order, walked through WalkRowEntries.
#pragma once

#include <cstdint>
#include <vector>

#include "model/quad_couplings.h"
#include "model/quad_model.h"
#include "model/row_entries.h"

// The kept variables: original[k] is the original number of new variable k
// (k = 1..Q', [0] = 0); renumbered[v] the new number of original variable v
// (v = 1..quad_count, 0 when dropped).
struct KeptVariables {
  std::vector<int32_t> original;
  std::vector<int32_t> renumbered;
};

// The kept variables of model for keep (quad_count + 1 bytes, keep[v] != 0 to
// keep variable v, [0] unused).
inline KeptVariables MakeKeptVariables(const QuadModel& model, const std::vector<uint8_t>& keep) {
  KeptVariables kept{{0}, std::vector<int32_t>(static_cast<size_t>(model.quad_count) + 1, 0)};
  for (int32_t v = 1; v <= model.quad_count; ++v) {
    if (keep[v] == 0) continue;
    kept.original.push_back(v);
    kept.renumbered[v] = static_cast<int32_t>(kept.original.size()) - 1;
  }
  return kept;
}

// Calls visitor.Entry(row, column, value) for every entry of new row k
// (1..Q'), in new numbers, in the order the original row's entries come in the
// Q file.
template <typename Visitor>
void WalkKeptRowEntries(const QuadModel& model, const KeptVariables& kept, int32_t k, Visitor& visitor) {
  // The original row's entries, those of kept columns renumbered (the
  // diagonal's column is the row itself, kept).
  struct Renumber {
    const KeptVariables& kept;
    int32_t row;
    Visitor& visitor;
    void Entry(int32_t, int32_t column, int32_t value) {
      if (kept.renumbered[column] != 0) visitor.Entry(row, kept.renumbered[column], value);
    }
  } renumber{kept, k, visitor};
  uint8_t flags[kFlagChunk];
  WalkRowEntryCalls(model, kept.original[k], flags, renumber);
}
