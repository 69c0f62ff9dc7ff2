#include "model/quad_model.h"

#include <algorithm>

#include "model/feasible_pairs.h"
#include "model/stack_score.h"
#include "model/stacked_quads.h"

namespace {

// Candidates of one row whose conflicts are decided at a time.
constexpr int32_t kFlagChunk = 2048;

// Counts the chosen m in first..first + count - 1 whose flag is set.
int64_t CountChosenFlags(const uint8_t* flags, const uint8_t* chosen, int32_t count) {
  int64_t total = 0;
  for (int32_t k = 0; k < count; ++k) total += flags[k] & (chosen[k] != 0);
  return total;
}

}  // namespace

QuadModel MakeQuadModel(const char* buffer, int32_t n, IntMatrix quads, int32_t quad_count,
                        int32_t add_quads, int32_t penalty) {
  QuadModel model{buffer, n, quads, quad_count, add_quads, penalty, nullptr, nullptr, nullptr,
                  nullptr, {}};
  model.first_row = IndexQuadsByPosition(quads, quad_count, n);
  model.next = LinkStackedQuads(quads, quad_count, model.first_row);
  model.chain = AllocateIntArray(quad_count);
  model.score = AllocateIntArray(quad_count);
  for (int32_t l = 1; l <= quad_count; ++l) {
    model.score[l] = StackScore(buffer, MatrixRow(quads, l));
    // The bonus goes to the quad that continues the link partner's stack,
    // wherever that quad is numbered, as the Q file writes it.
    const int32_t link = model.next[l];
    if (add_quads != 0 && link > 0) model.chain[l] = model.next[link];
  }
  model.columns = SplitQuadColumns(quads, quad_count);
  return model;
}

QuadModel BuildQuadModel(const char* buffer, int32_t n, int32_t min_distance, int32_t add_quads,
                         int32_t penalty) {
  int32_t pair_count = 0;
  const IntMatrix pairs = BuildPairTable(buffer, n, min_distance, &pair_count);
  int32_t quad_count = 0;
  const IntMatrix quads = BuildQuadTable(pairs, pair_count, &quad_count);
  return MakeQuadModel(buffer, n, quads, quad_count, add_quads, penalty);
}

int64_t SelectionValue(const QuadModel& model, const uint8_t* chosen, int64_t* conflict_count) {
  int64_t value = 0;
  int64_t conflicts = 0;
  uint8_t flags[kFlagChunk];
  for (int32_t l = 1; l <= model.quad_count; ++l) {
    if (chosen[l] == 0) continue;
    value += model.score[l];
    if (model.next[l] > 0 && chosen[model.next[l]] != 0) value += kStackLinkValue;
    if (model.chain[l] > 0 && chosen[model.chain[l]] != 0) value += kChainBonusValue;
    // Only rows up to LastCouplingRow can conflict with l.
    const int32_t* ql = MatrixRow(model.quads, l);
    const int32_t last_row = LastCouplingRow(ql, model.first_row);
    for (int64_t first = int64_t{l} + 1; first <= last_row; first += kFlagChunk) {
      const int32_t chunk_last = static_cast<int32_t>(std::min<int64_t>(last_row, first + kFlagChunk - 1));
      const int32_t from = static_cast<int32_t>(first);
      FlagQuadConflicts(ql, model.columns, from, chunk_last, flags);
      conflicts += CountChosenFlags(flags, chosen + from, chunk_last - from + 1);
    }
  }
  if (conflict_count != nullptr) *conflict_count = conflicts;
  return value + conflicts * model.penalty;
}

void ListRowConflicts(const QuadModel& model, const uint8_t* chosen, int32_t l,
                      std::vector<int32_t>* columns) {
  uint8_t flags[kFlagChunk];
  const int32_t* ql = MatrixRow(model.quads, l);
  const int32_t last_row = LastCouplingRow(ql, model.first_row);
  for (int64_t first = int64_t{l} + 1; first <= last_row; first += kFlagChunk) {
    const int32_t chunk_last = static_cast<int32_t>(std::min<int64_t>(last_row, first + kFlagChunk - 1));
    const int32_t from = static_cast<int32_t>(first);
    FlagQuadConflicts(ql, model.columns, from, chunk_last, flags);
    for (int32_t m = from; m <= chunk_last; ++m) {
      if (flags[m - from] != 0 && chosen[m] != 0) columns->push_back(m);
    }
  }
}

std::vector<QuadCouple> ListSelectionConflicts(const QuadModel& model, const uint8_t* chosen) {
  std::vector<QuadCouple> couples;
  std::vector<int32_t> columns;
  for (int32_t l = 1; l <= model.quad_count; ++l) {
    if (chosen[l] == 0) continue;
    columns.clear();
    ListRowConflicts(model, chosen, l, &columns);
    for (int32_t m : columns) couples.push_back(QuadCouple{l, m});
  }
  return couples;
}

int32_t QuadModelBound(const QuadModel& model) {
  // Every quad is the link partner of at most one quad and the chain partner of
  // at most one, so the column couplings are flags.
  std::vector<uint8_t> linked_from(static_cast<size_t>(model.quad_count) + 1, 0);
  std::vector<uint8_t> chained_from(static_cast<size_t>(model.quad_count) + 1, 0);
  for (int32_t l = 1; l <= model.quad_count; ++l) {
    if (model.next[l] > 0) linked_from[model.next[l]] = 1;
    if (model.chain[l] > 0) chained_from[model.chain[l]] = 1;
  }
  int32_t bound = 0;
  for (int32_t q = 1; q <= model.quad_count; ++q) {
    const int32_t links = (model.next[q] > 0) + linked_from[q];
    const int32_t chains = (model.chain[q] > 0) + chained_from[q];
    bound = std::max(bound, model.score[q] + links * kStackLinkValue + chains * kChainBonusValue);
  }
  return bound;
}
