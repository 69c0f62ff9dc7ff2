#include "model/quad_model.h"

#include <algorithm>

#include "model/feasible_pairs.h"
#include "model/row_entries.h"
#include "model/stack_score.h"
#include "model/stacked_quads.h"

namespace {

// Sums the entries of a chosen row whose columns are chosen.
struct ChosenValue {
  const uint8_t* chosen;
  int64_t value = 0;
  int64_t conflicts = 0;
  void Diagonal(int32_t score) { value += score; }
  void Conflicts(int32_t first, const uint8_t* flags, int32_t count) {
    const uint8_t* chosen_from = chosen + first;
    int64_t total = 0;
    for (int32_t k = 0; k < count; ++k) total += flags[k] & (chosen_from[k] != 0);
    conflicts += total;
  }
  void Bonus(int32_t column) { value += chosen[column] != 0 ? kChainBonusValue : 0; }
  void Link(int32_t column) { value += chosen[column] != 0 ? kStackLinkValue : 0; }
};

// Collects the chosen columns of a row's conflict entries.
struct ChosenConflicts {
  const uint8_t* chosen;
  std::vector<int32_t>* columns;
  void Diagonal(int32_t) {}
  void Conflicts(int32_t first, const uint8_t* flags, int32_t count) {
    for (int32_t k = 0; k < count; ++k) {
      if (flags[k] != 0 && chosen[first + k] != 0) columns->push_back(first + k);
    }
  }
  void Bonus(int32_t) {}
  void Link(int32_t) {}
};

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
                         int32_t penalty, int32_t* pair_count) {
  int32_t feasible = 0;
  const IntMatrix pairs = BuildPairTable(buffer, n, min_distance, &feasible);
  if (pair_count != nullptr) *pair_count = feasible;
  int32_t quad_count = 0;
  const IntMatrix quads = BuildQuadTable(pairs, feasible, &quad_count);
  return MakeQuadModel(buffer, n, quads, quad_count, add_quads, penalty);
}

int64_t SelectionValue(const QuadModel& model, const uint8_t* chosen, int64_t* conflict_count) {
  ChosenValue sum{chosen};
  uint8_t flags[kFlagChunk];
  for (int32_t l = 1; l <= model.quad_count; ++l) {
    if (chosen[l] != 0) WalkRowEntries(model, l, flags, sum);
  }
  if (conflict_count != nullptr) *conflict_count = sum.conflicts;
  return sum.value + sum.conflicts * model.penalty;
}

void ListRowConflicts(const QuadModel& model, const uint8_t* chosen, int32_t l,
                      std::vector<int32_t>* columns) {
  ChosenConflicts list{chosen, columns};
  uint8_t flags[kFlagChunk];
  WalkRowEntries(model, l, flags, list);
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

void MarkQuadPairs(const QuadModel& model, const int32_t* quads, size_t count, char* structure) {
  for (size_t k = 0; k < count; ++k) {
    const int32_t* quad = MatrixRow(model.quads, quads[k]);
    structure[quad[0] - 1] = structure[quad[2] - 1] = '(';
    structure[quad[1] - 1] = structure[quad[3] - 1] = ')';
  }
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

bool PenaltyCertifies(int32_t penalty, int32_t bound) { return int64_t{penalty} <= -int64_t{bound}; }
