// The one interval recursion over the conflict-free selections of a quad
// model: the items a selection splits into, the alternatives of each item, the
// tables of one value algebra and the inside pass that fills them. The optimum
// (optimum.h) and the landscape (landscape.h) are value algebras over it, so
// the model's alternatives are stated here alone. No I/O; nothing ends the
// process; memory failures throw std::bad_alloc.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "model/feasible_pairs.h"
#include "model/quad_couplings.h"
#include "model/quad_model.h"

// ---------------------------------------------------------------------------
// The decomposition. Items are the pieces a selection splits into:
//   Exterior(a)     the selections within positions a..n;
//   Interval(a, b)  the selections within a..b (b - a below the band);
//   Free(q)         inside chosen quad q (i, k) when the quad one step inside
//                   is not chosen: the selections within i + 2..k - 2 that do
//                   not choose the quad two steps inside (that case carries
//                   q's chain bonus and is an alternative of Closed);
//   Closed(q, p)    q chosen with everything inside it; p = 1 when the quad one
//                   step outside is chosen and its chain bonus goes to the quad
//                   one step inside q.
// Each item's selections are the disjoint union of its alternatives: a weight
// (the model's entries the alternative adds) and up to two sub-items.

enum class Part : uint8_t { kNone, kExterior, kInterval, kFree, kClosed };

struct Item {
  Part part;
  int32_t x;  // a, or the quad q
  int32_t y;  // b, or p
};

constexpr Item kNoItem{Part::kNone, 0, 0};

// The outer pair's 3' position of quad q.
inline int32_t OuterEnd(const QuadModel& model, int32_t q) { return MatrixRow(model.quads, q)[1]; }

// Calls start(head, next) for every way a selection within a..b (a <= b)
// begins at a, in the order of next: a left unpaired (head kNoItem, next
// a + 1), then a opening each quad q (a, k) with k <= b (head Closed(q, 0),
// next k + 1; the quad with k == b only when spanning). What follows lies
// within next..b. The intervals, the exterior and Free take their
// alternatives from here, and the inside pass fills a row of intervals with it.
template <typename Start>
inline void ForEachStart(const QuadModel& model, int32_t a, int32_t b, bool spanning, Start&& start) {
  start(kNoItem, a + 1);
  for (int32_t q = model.first_row[a]; q < model.first_row[a + 1]; ++q) {
    const int32_t k = OuterEnd(model, q);
    if (k > b || (k == b && !spanning)) break;
    start(Item{Part::kClosed, q, 0}, k + 1);
  }
}

// Calls visit(weight, left, right) for every alternative of item (left and
// right may be kNoItem: the empty selection). For Exterior, Interval and Free
// the first alternative is the first position left unpaired (left the rest,
// right kNoItem), or the empty selection of an empty interval; then the quads
// the first position opens, nearest partner first (left the quad, right the
// rest). For Closed: the quad one step inside chosen, then the quad two steps
// inside with q's chain bonus, then Free.
template <typename Visit>
inline void ForEachAlternative(const QuadModel& model, Item item, Visit&& visit) {
  switch (item.part) {
    case Part::kNone:
      return;
    case Part::kExterior: {
      const int32_t a = item.x;
      if (a > model.n) {
        visit(int64_t{0}, kNoItem, kNoItem);
        return;
      }
      ForEachStart(model, a, model.n, true, [&](Item head, int32_t next) {
        const Item rest{Part::kExterior, next, 0};
        if (head.part == Part::kNone) {
          visit(int64_t{0}, rest, kNoItem);
        } else {
          visit(int64_t{0}, head, rest);
        }
      });
      return;
    }
    case Part::kInterval:
    case Part::kFree: {
      int32_t a = item.x, b = item.y;
      if (item.part == Part::kFree) {
        const int32_t* quad = MatrixRow(model.quads, item.x);
        a = quad[0] + 2;
        b = quad[1] - 2;
      }
      if (a > b) {
        visit(int64_t{0}, kNoItem, kNoItem);
        return;
      }
      ForEachStart(model, a, b, item.part == Part::kInterval, [&](Item head, int32_t next) {
        const Item rest = next > b ? kNoItem : Item{Part::kInterval, next, b};
        if (head.part == Part::kNone) {
          visit(int64_t{0}, rest, kNoItem);
        } else {
          visit(int64_t{0}, head, rest);
        }
      });
      return;
    }
    case Part::kClosed: {
      const int32_t q = item.x;
      const int64_t score = model.score[q];
      const int32_t link = model.next[q];
      const int32_t carries = model.chain[q] > 0 ? 1 : 0;
      if (link > 0) {
        visit(score + kStackLinkValue + item.y * kChainBonusValue, Item{Part::kClosed, link, carries}, kNoItem);
        const int32_t two_inside = model.next[link];
        if (two_inside > 0) visit(score + carries * kChainBonusValue, Item{Part::kClosed, two_inside, 0}, kNoItem);
      }
      visit(score, Item{Part::kFree, q, 0}, kNoItem);
      return;
    }
  }
}

// ---------------------------------------------------------------------------
// Value algebras: Zero (no selection), One (the empty selection), Plus (either
// of two disjoint sets), Times (one piece with another), Weight (the entries an
// alternative adds); kAnyOrder when Plus gives the same result to the bit in
// any order and grouping of its terms, so that the inside pass may gather a
// row of intervals alternative by alternative.

// Below every reachable value.
constexpr int64_t kNoValue = INT64_MIN / 4;

// The best value (max-plus).
struct BestValue {
  using Value = int64_t;
  static constexpr bool kAnyOrder = true;
  static Value Zero() { return kNoValue; }
  static Value One() { return 0; }
  static Value Plus(Value a, Value b) { return std::max(a, b); }
  // Reachable values lie far inside int64's range, so Zero plus any of them
  // stays below every reachable value: no check needed.
  static Value Times(Value a, Value b) { return a + b; }
  static Value Weight(int64_t w) { return w; }
  static bool IsZero(Value a) { return a <= kNoValue; }
  using Accumulator = Value;
  static void Add(Accumulator* total, Value term) { *total = std::max(*total, term); }
  static Value Result(Accumulator total) { return total; }
  static Value Sum(const Value* terms, size_t count) {
    Value best = Zero();
    for (size_t k = 0; k < count; ++k) best = std::max(best, terms[k]);
    return best;
  }
};

// ---------------------------------------------------------------------------
// The tables of one algebra: a value per item.

template <typename Value>
struct ItemTables {
  int32_t band = 0;
  std::vector<Value> exterior;  // a = 1..n + 1
  std::vector<Value> interval;  // a * band + (b - a), a = 1..n, 0 <= b - a < band
  std::vector<Value> free;      // q = 1..quad_count
  std::vector<Value> closed;    // 2q + p

  void Allocate(const QuadModel& model, Value fill) {
    band = std::min(PairingWindowWidth(model.n), model.n) + 1;
    exterior.assign(static_cast<size_t>(model.n) + 2, fill);
    interval.assign((static_cast<size_t>(model.n) + 2) * band, fill);
    free.assign(static_cast<size_t>(model.quad_count) + 1, fill);
    closed.assign(2 * (static_cast<size_t>(model.quad_count) + 1), fill);
  }
  // The cell of item (not kNone).
  Value& At(Item item) {
    switch (item.part) {
      case Part::kExterior:
        return exterior[item.x];
      case Part::kInterval:
        return interval[static_cast<size_t>(item.x) * band + static_cast<size_t>(item.y - item.x)];
      case Part::kFree:
        return free[item.x];
      default:
        return closed[2 * static_cast<size_t>(item.x) + item.y];
    }
  }
  const Value& At(Item item) const { return const_cast<ItemTables*>(this)->At(item); }
};

template <typename Algebra>
using TablesOf = ItemTables<typename Algebra::Value>;

// The inside value of item (One for kNoItem).
template <typename Algebra>
inline typename Algebra::Value Inside(const Algebra& algebra, const TablesOf<Algebra>& tables, Item item) {
  return item.part == Part::kNone ? algebra.One() : tables.At(item);
}

// The value of one alternative: its weight with the inside values of its
// sub-items.
template <typename Algebra>
inline typename Algebra::Value AlternativeValue(const Algebra& algebra, const TablesOf<Algebra>& tables,
                                                int64_t weight, Item left, Item right) {
  return algebra.Times(algebra.Weight(weight),
                       algebra.Times(Inside(algebra, tables, left), Inside(algebra, tables, right)));
}

// The inside value of item from its alternatives: gathered term by term when
// the algebra allows any order, else summed at once (terms is scratch space).
template <typename Algebra>
inline typename Algebra::Value Evaluate(const QuadModel& model, const Algebra& algebra,
                                        const TablesOf<Algebra>& tables, Item item,
                                        std::vector<typename Algebra::Value>* terms) {
  if constexpr (Algebra::kAnyOrder) {
    typename Algebra::Value total = algebra.Zero();
    ForEachAlternative(model, item, [&](int64_t weight, Item left, Item right) {
      total = algebra.Plus(total, AlternativeValue(algebra, tables, weight, left, right));
    });
    return total;
  } else {
    terms->clear();
    ForEachAlternative(model, item, [&](int64_t weight, Item left, Item right) {
      terms->push_back(AlternativeValue(algebra, tables, weight, left, right));
    });
    return algebra.Sum(terms->data(), terms->size());
  }
}

// Fills the row of Interval(a, b) for every b, an algebra of any order: for
// each start of a (ForEachStart), its term is added to every b it reaches, so
// the row is swept once a start, from the row of the start's next position.
// Each cell gathers its alternatives in their order, as Evaluate would. For the
// start of each quad t of a (the m-th of its row), before[m] receives the
// cell t spans as it stood before t's term: the interval without its spanning
// start, which is Free of the quad two steps outside t.
template <typename Algebra>
inline void FillIntervalRow(const QuadModel& model, const Algebra& algebra, TablesOf<Algebra>* tables, int32_t a,
                            typename Algebra::Value* before) {
  const size_t band = static_cast<size_t>(tables->band);
  typename Algebra::Value* row = tables->interval.data() + static_cast<size_t>(a) * band;
  const int32_t reach = std::min(tables->band - 1, model.n - a);
  ForEachStart(model, a, a + reach, true, [&](Item head, int32_t next) {
    const typename Algebra::Value value = Inside(algebra, *tables, head);
    const int32_t span = next - 1 - a;
    const typename Algebra::Value* rest = tables->interval.data() + static_cast<size_t>(next) * band;
    if (head.part == Part::kClosed) before[head.x - model.first_row[a]] = row[span];
    row[span] = algebra.Plus(row[span], value);
    for (int32_t d = span + 1; d <= reach; ++d) row[d] = algebra.Plus(row[d], algebra.Times(value, rest[d - span - 1]));
  });
}

// Calls step(item) for every item in an order where each item comes after all
// its sub-items: positions from 3' to 5'; at each position the quads' Free,
// then Closed, then the Interval row (row(a)), then Exterior.
template <typename Step, typename Row>
void ForEachItemInsideOut(const QuadModel& model, Step&& step, Row&& row) {
  step(Item{Part::kExterior, model.n + 1, 0});
  for (int32_t a = model.n; a >= 1; --a) {
    const int32_t first = model.first_row[a];
    const int32_t end = model.first_row[a + 1];
    for (int32_t q = first; q < end; ++q) {
      step(Item{Part::kFree, q, 0});
      step(Item{Part::kClosed, q, 0});
      step(Item{Part::kClosed, q, 1});
    }
    row(a);
    step(Item{Part::kExterior, a, 0});
  }
}

// The inside pass: every item's value over its selections. Flattened: the
// alternatives, the algebra and the tables' cells inline into one loop nest,
// where each alternative's parts are known. An algebra of any order fills each
// row of intervals at once and takes Free from the row two positions on
// (FillIntervalRow); any other evaluates every item from its alternatives.
template <typename Algebra>
[[gnu::flatten]] TablesOf<Algebra> FillInside(const QuadModel& model, const Algebra& algebra) {
  using Value = typename Algebra::Value;
  TablesOf<Algebra> tables;
  tables.Allocate(model, algebra.Zero());
  std::vector<Value> terms;
  const auto step = [&](Item item) { tables.At(item) = Evaluate(model, algebra, tables, item, &terms); };
  if constexpr (Algebra::kAnyOrder) {
    // before[a % 2]: FillIntervalRow's values of row a, kept until Free of the
    // quads of row a - 2 reads them.
    int32_t widest = 0;
    for (int32_t a = 1; a <= model.n; ++a) widest = std::max(widest, model.first_row[a + 1] - model.first_row[a]);
    std::vector<Value> before[2] = {std::vector<Value>(widest), std::vector<Value>(widest)};
    ForEachItemInsideOut(
        model,
        [&](Item item) {
          if (item.part != Part::kFree) return step(item);
          const int32_t* quad = MatrixRow(model.quads, item.x);
          const int32_t a = quad[0] + 2, b = quad[1] - 2;
          const int32_t link = model.next[item.x];
          const int32_t spanning = link > 0 ? model.next[link] : 0;
          Value& cell = tables.At(item);
          if (a > b) {
            cell = algebra.One();
          } else if (spanning > 0) {
            cell = before[a % 2][spanning - model.first_row[a]];
          } else {
            cell = tables.At(Item{Part::kInterval, a, b});
          }
        },
        [&](int32_t a) { FillIntervalRow(model, algebra, &tables, a, before[a % 2].data()); });
  } else {
    ForEachItemInsideOut(model, step, [&](int32_t a) {
      const int32_t reach = std::min(tables.band - 1, model.n - a);
      for (int32_t d = 0; d <= reach; ++d) step(Item{Part::kInterval, a, a + d});
    });
  }
  return tables;
}
