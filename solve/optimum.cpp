#include "solve/optimum.h"

#include <algorithm>
#include <vector>

#include "solve/interval_recursion.h"

namespace {

// The tie rule's rank of an alternative of item: its place in the recursion's
// order (the first position unpaired, then its nearest partner), except that in
// Closed the quad two steps inside (the first inside position with its
// farthest partner) ranks after Free (that position unpaired or with a nearer
// partner).
inline int32_t TieRank(const QuadModel& model, Item item, Item left, int32_t place) {
  if (item.part != Part::kClosed) return place;
  if (left.part == Part::kFree) return 1;
  return left.x == model.next[item.x] ? 0 : 2;
}

}  // namespace

int64_t FoldOptimum(const QuadModel& model, uint8_t* chosen) {
  std::fill(chosen, chosen + static_cast<size_t>(model.quad_count) + 1, uint8_t{0});
  const BestValue algebra;
  const TablesOf<BestValue> tables = FillInside(model, algebra);
  // From the whole down: each item takes the alternative of least rank that
  // reaches its value.
  std::vector<Item> pending{Item{Part::kExterior, 1, 0}};
  while (!pending.empty()) {
    const Item item = pending.back();
    pending.pop_back();
    if (item.part == Part::kClosed) chosen[item.x] = 1;
    const int64_t value = tables.At(item);
    Item left = kNoItem, right = kNoItem;
    int32_t best_rank = INT32_MAX, place = 0;
    ForEachAlternative(model, item, [&](int64_t weight, Item sub_left, Item sub_right) {
      const int32_t rank = TieRank(model, item, sub_left, place++);
      if (rank < best_rank && AlternativeValue(algebra, tables, weight, sub_left, sub_right) == value) {
        best_rank = rank;
        left = sub_left;
        right = sub_right;
      }
    });
    if (right.part != Part::kNone) pending.push_back(right);
    if (left.part != Part::kNone) pending.push_back(left);
  }
  return tables.exterior[1];
}

void WriteDotBracket(const QuadModel& model, const uint8_t* chosen, char* out) {
  std::fill(out, out + model.n, '.');
  out[model.n] = '\0';
  for (int32_t q = 1; q <= model.quad_count; ++q) {
    if (chosen[q] != 0) MarkQuadPairs(model, &q, 1, out);
  }
}
