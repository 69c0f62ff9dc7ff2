#include "solve/landscape.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <queue>
#include <random>

#include "core/failure.h"
#include "solve/interval_recursion.h"

namespace {

// ---------------------------------------------------------------------------
// The landscape's value algebras over the interval recursion, beside its best
// value (BestValue).

constexpr SelectionCount kCountLimit = ~SelectionCount{0};

// The best value and the number of selections reaching it, saturated.
struct CountedBest {
  struct Value {
    int64_t value;
    SelectionCount count;
  };
  static constexpr bool kAnyOrder = true;  // exact, saturated sums
  Value Zero() const { return {kNoValue, 0}; }
  Value One() const { return {0, 1}; }
  Value Plus(Value a, Value b) const {
    if (a.value != b.value) return a.value > b.value ? a : b;
    const SelectionCount sum = a.count + b.count;
    return {a.value, sum < a.count ? kCountLimit : sum};
  }
  Value Times(Value a, Value b) const {
    if (a.value <= kNoValue || b.value <= kNoValue) return Zero();
    SelectionCount product = kCountLimit;
    if (a.count == 0 || b.count <= kCountLimit / a.count) product = a.count * b.count;
    return {a.value + b.value, product};
  }
  Value Weight(int64_t w) const { return {w, 1}; }
  bool IsZero(Value a) const { return a.value <= kNoValue; }
  Value Sum(const Value* terms, size_t count) const {
    Value total = Zero();
    for (size_t k = 0; k < count; ++k) total = Plus(total, terms[k]);
    return total;
  }
};

// ln of the sum of exp(value / T): the Boltzmann sum in log space.
struct LogSum {
  using Value = double;
  static constexpr bool kAnyOrder = false;  // rounding depends on the order
  double inverse_temperature;
  Value Zero() const { return -std::numeric_limits<double>::infinity(); }
  Value One() const { return 0; }
  // Below this difference the smaller term is lost in rounding (exp(-38) <
  // 2^-53) and is dropped without calling exp.
  static constexpr double kNegligible = -38;
  Value Plus(Value a, Value b) const {
    if (a < b) std::swap(a, b);
    if (!(b - a > kNegligible)) return a;
    return a + std::log1p(std::exp(b - a));
  }
  // A sum gathered term by term with one exp each: the largest term so far and
  // the sum of all terms scaled by it; ln of the sum only at the end.
  struct Accumulator {
    double top = -std::numeric_limits<double>::infinity();
    double scaled = 0;
  };
  void Add(Accumulator* total, Value term) const {
    if (term == Zero()) return;
    if (total->scaled == 0) {
      *total = {term, 1};
    } else if (term <= total->top) {
      const double difference = term - total->top;
      if (difference > kNegligible) total->scaled += std::exp(difference);
    } else {
      const double difference = total->top - term;
      total->scaled = (difference > kNegligible ? total->scaled * std::exp(difference) : 0) + 1;
      total->top = term;
    }
  }
  Value Result(const Accumulator& total) const {
    return total.scaled == 0 ? Zero() : total.top + std::log(total.scaled);
  }
  // The sum of many terms with one logarithm: the largest, and the others
  // scaled by it.
  Value Sum(const Value* terms, size_t count) const {
    Value top = Zero();
    for (size_t k = 0; k < count; ++k) top = std::max(top, terms[k]);
    if (top == Zero()) return top;
    double scaled = 0;
    for (size_t k = 0; k < count; ++k) {
      const double difference = terms[k] - top;
      if (difference > kNegligible) scaled += std::exp(difference);
    }
    return top + std::log(scaled);
  }
  Value Times(Value a, Value b) const { return a + b; }
  Value Weight(int64_t w) const { return static_cast<double>(w) * inverse_temperature; }
  bool IsZero(Value a) const { return a == Zero(); }
};

// Calls step(item) for every item in the reverse of ForEachItemInsideOut's order.
template <typename Step>
void ForEachItemOutsideIn(const QuadModel& model, int32_t band, Step&& step) {
  for (int32_t a = 1; a <= model.n; ++a) {
    step(Item{Part::kExterior, a, 0});
    const int32_t reach = std::min(band - 1, model.n - a);
    for (int32_t d = reach; d >= 0; --d) step(Item{Part::kInterval, a, a + d});
    for (int32_t q = model.first_row[a + 1] - 1; q >= model.first_row[a]; --q) {
      step(Item{Part::kClosed, q, 1});
      step(Item{Part::kClosed, q, 0});
      step(Item{Part::kFree, q, 0});
    }
  }
  step(Item{Part::kExterior, model.n + 1, 0});
}

// The outside values of an algebra, gathered term by term; read them with
// algebra.Result.
template <typename Algebra>
using OutsideOf = ItemTables<typename Algebra::Accumulator>;

// The outside pass: every item's value over the rest of the selections that
// derive it (Exterior(1) is the whole). Items are visited in the reverse of
// the inside order, so each is complete before it passes its value on.
template <typename Algebra>
OutsideOf<Algebra> FillOutside(const QuadModel& model, const Algebra& algebra, const TablesOf<Algebra>& inside) {
  OutsideOf<Algebra> outside;
  outside.Allocate(model, typename Algebra::Accumulator{algebra.Zero()});
  algebra.Add(&outside.At(Item{Part::kExterior, 1, 0}), algebra.One());
  ForEachItemOutsideIn(model, inside.band, [&](Item item) {
    const typename Algebra::Value from = algebra.Result(outside.At(item));
    if (algebra.IsZero(from)) return;
    ForEachAlternative(model, item, [&](int64_t weight, Item left, Item right) {
      const typename Algebra::Value base = algebra.Times(from, algebra.Weight(weight));
      if (left.part != Part::kNone) {
        algebra.Add(&outside.At(left), algebra.Times(base, Inside(algebra, inside, right)));
      }
      if (right.part != Part::kNone) {
        algebra.Add(&outside.At(right), algebra.Times(base, Inside(algebra, inside, left)));
      }
    });
  });
  return outside;
}

// ---------------------------------------------------------------------------
// The suboptimal search: a depth-first walk over the alternatives, pruned by
// the inside best of what is still pending. The best values are read from the
// tables of BestValue or of CountedBest.

inline int64_t ValueOf(int64_t value) { return value; }
inline int64_t ValueOf(const CountedBest::Value& value) { return value.value; }

template <typename Tables>
struct SuboptSearch {
  const QuadModel& model;
  const Tables& best;
  int64_t threshold;
  int64_t max_listed;
  // The walk stops once it has counted more selections than this.
  uint64_t budget = UINT64_MAX;
  bool stopped = false;
  std::vector<Item> pending = {};
  std::vector<int32_t> chosen = {};
  uint64_t total = 0;
  // The selections listed so far, flat; cut back to the best max_listed
  // whenever twice as many (at least 4096 more) are held.
  SuboptListing listed = {};
  // After a cut: the value of the last selection kept; a later selection worth
  // less can never be listed and is only counted.
  int64_t floor = INT64_MIN;

  // Whether listed selection x comes before y.
  bool Before(size_t x, size_t y) const {
    if (listed.values[x] != listed.values[y]) return listed.values[x] > listed.values[y];
    return std::lexicographical_compare(listed.quads.begin() + static_cast<std::ptrdiff_t>(listed.starts[x]),
                                        listed.quads.begin() + static_cast<std::ptrdiff_t>(listed.starts[x + 1]),
                                        listed.quads.begin() + static_cast<std::ptrdiff_t>(listed.starts[y]),
                                        listed.quads.begin() + static_cast<std::ptrdiff_t>(listed.starts[y + 1]));
  }

  int64_t BestOf(Item item) const { return item.part == Part::kNone ? 0 : ValueOf(best.At(item)); }

  // Quad d of stored selection x plus 1, or 0 past its end.
  uint32_t QuadAt(size_t x, size_t d) const {
    const size_t at = listed.starts[x] + d;
    return at < listed.starts[x + 1] ? static_cast<uint32_t>(listed.quads[at]) + 1 : 0;
  }

  // Sorts the stored selections first..end - 1, equal in their first depth
  // quads, by their quad lists: three-way partitions on quad depth.
  void SortByQuads(size_t* first, size_t* end, size_t depth) const {
    while (end - first > 1) {
      if (end - first < 16) {
        std::sort(first, end, [&](size_t x, size_t y) {
          for (size_t d = depth;; ++d) {
            const uint32_t a = QuadAt(x, d), c = QuadAt(y, d);
            if (a != c) return a < c;
            if (a == 0) return false;
          }
        });
        return;
      }
      const uint32_t pivot = QuadAt(first[(end - first) / 2], depth);
      size_t* less = first;
      size_t* greater = end;
      for (size_t* at = first; at < greater;) {
        const uint32_t key = QuadAt(*at, depth);
        if (key < pivot) {
          std::swap(*at++, *less++);
        } else if (key > pivot) {
          std::swap(*at, *--greater);
        } else {
          ++at;
        }
      }
      SortByQuads(first, less, depth);
      SortByQuads(greater, end, depth);
      if (pivot == 0) return;  // lists that ended here are equal
      first = less;
      end = greater;
      ++depth;
    }
  }

  // The stored selections in listing order: by value through buckets (values
  // lie within delta of the optimum), then each bucket by quad lists.
  std::vector<size_t> ListingOrder() const {
    const size_t count = listed.values.size();
    int64_t low = INT64_MAX, high = INT64_MIN;
    for (int64_t v : listed.values) {
      low = std::min(low, v);
      high = std::max(high, v);
    }
    std::vector<size_t> order(count);
    if (count == 0) return order;
    std::vector<size_t> bucket_start(static_cast<size_t>(high - low) + 2, 0);
    for (int64_t v : listed.values) ++bucket_start[static_cast<size_t>(high - v) + 1];
    for (size_t b = 1; b < bucket_start.size(); ++b) bucket_start[b] += bucket_start[b - 1];
    std::vector<size_t> next = bucket_start;
    for (size_t k = 0; k < count; ++k) order[next[static_cast<size_t>(high - listed.values[k])]++] = k;
    // Within a bucket: by quad lists, a multikey quicksort over the lists'
    // positions (a list that ends sorts before one that goes on).
    for (size_t b = 0; b + 1 < bucket_start.size(); ++b) {
      SortByQuads(order.data() + bucket_start[b], order.data() + bucket_start[b + 1], 0);
    }
    return order;
  }

  // Keeps only the first max_listed stored selections, in listing order.
  void Compact() {
    std::vector<size_t> order = ListingOrder();
    order.resize(std::min(order.size(), static_cast<size_t>(max_listed)));
    SuboptListing kept;
    kept.values.reserve(order.size());
    kept.starts.reserve(order.size() + 1);
    for (size_t k : order) {
      kept.values.push_back(listed.values[k]);
      kept.quads.insert(kept.quads.end(), listed.quads.begin() + static_cast<std::ptrdiff_t>(listed.starts[k]),
                        listed.quads.begin() + static_cast<std::ptrdiff_t>(listed.starts[k + 1]));
      kept.starts.push_back(kept.quads.size());
    }
    listed.values.swap(kept.values);
    listed.starts.swap(kept.starts);
    listed.quads.swap(kept.quads);
    if (!listed.values.empty() && static_cast<int64_t>(listed.values.size()) == max_listed) floor = listed.values.back();
  }

  void Emit(int64_t value) {
    if (++total > budget) {
      stopped = true;
      return;
    }
    if (max_listed <= 0 || value < floor) return;
    const size_t first = listed.quads.size();
    listed.quads.insert(listed.quads.end(), chosen.begin(), chosen.end());
    // A few dozen quads: insertion sort.
    for (size_t k = first + 1; k < listed.quads.size(); ++k) {
      const int32_t quad = listed.quads[k];
      size_t at = k;
      for (; at > first && listed.quads[at - 1] > quad; --at) listed.quads[at] = listed.quads[at - 1];
      listed.quads[at] = quad;
    }
    listed.values.push_back(value);
    listed.starts.push_back(listed.quads.size());
    const size_t limit = static_cast<size_t>(std::min<int64_t>(max_listed, INT64_MAX / 4)) * 2 + 4096;
    if (listed.values.size() >= limit) Compact();
  }

  // Expands the pending items: fixed is the value of the weights taken so far,
  // rest the sum of the inside best of the pending items.
  void Expand(int64_t fixed, int64_t rest) {
    if (stopped) return;
    if (pending.empty()) {
      Emit(fixed);
      return;
    }
    const Item taken = pending.back();
    pending.pop_back();
    Item item = taken;
    const bool is_quad = item.part == Part::kClosed;
    if (is_quad) chosen.push_back(item.x);
    rest -= BestOf(item);
    // Free runs are walked position by position in this frame, so the depth
    // grows with the chosen quads, not with the positions.
    while (item.part != Part::kNone) {
      Item unpaired = kNoItem;
      bool unpaired_ok = false;
      ForEachAlternative(model, item, [&](int64_t weight, Item left, Item right) {
        if (stopped) return;
        const int64_t reach = fixed + weight + BestOf(left) + BestOf(right) + rest;
        if (reach < threshold) return;
        if (!is_quad && right.part == Part::kNone && left.part != Part::kClosed) {
          if (left.part == Part::kNone) {
            // This item is done: the rest of the pending items go on.
            Expand(fixed + weight, rest);
          } else {
            unpaired = left;
            unpaired_ok = true;
          }
          return;
        }
        if (right.part != Part::kNone) pending.push_back(right);
        pending.push_back(left);
        Expand(fixed + weight, rest + BestOf(left) + BestOf(right));
        pending.pop_back();
        if (right.part != Part::kNone) pending.pop_back();
      });
      if (!unpaired_ok) break;
      item = unpaired;
    }
    if (is_quad) chosen.pop_back();
    pending.push_back(taken);
  }
};

// The selections worth exactly level, appended to a listing in the order of
// their quad lists until it holds max_listed, without visiting the rest: a
// depth-first walk over the selections worth at least level. A selection's
// quads are chosen in the order of their positions, which is the order of
// their numbers, so a state of the walk is a prefix of the lists below it, and
// its branches differ in the next quad chosen (or in choosing none): the
// branch that chooses none comes first, then the others by that quad.
template <typename Tables>
struct OrderedSearch {
  const QuadModel& model;
  const Tables& best;
  int64_t level;
  size_t max_listed;
  SuboptListing* listing;
  // Whether a selection beyond the first max_listed was found.
  bool more = false;
  std::vector<int32_t> chosen = {};

  // A branch: the quad it chooses next, on top of its pending items (Closed).
  struct Branch {
    int32_t quad;
    int64_t fixed;
    int64_t rest;
    std::vector<Item> pending;
  };
  // The branches of one state, and the value of choosing no further quad.
  struct Branches {
    bool ends = false;
    int64_t end_value = 0;
    std::vector<Branch> next;
  };

  int64_t BestOf(Item item) const { return item.part == Part::kNone ? 0 : ValueOf(best.At(item)); }

  // Whether a branch worth reach goes on.
  bool Reaches(int64_t reach) const { return reach >= level; }

  // Follows the alternatives that choose no quad from the state (pending,
  // fixed, rest) and gathers its branches into out.
  void Gather(std::vector<Item>* pending, int64_t fixed, int64_t rest, Branches* out) {
    if (pending->empty()) {
      out->ends = true;
      out->end_value = fixed;
      return;
    }
    const Item taken = pending->back();
    if (taken.part == Part::kClosed) {
      out->next.push_back(Branch{taken.x, fixed, rest, *pending});
      return;
    }
    pending->pop_back();
    rest -= BestOf(taken);
    Item item = taken;
    while (item.part != Part::kNone) {
      Item unpaired = kNoItem;
      ForEachAlternative(model, item, [&](int64_t weight, Item left, Item right) {
        if (!Reaches(fixed + weight + BestOf(left) + BestOf(right) + rest)) return;
        if (right.part == Part::kNone && left.part != Part::kClosed && left.part != Part::kNone) {
          unpaired = left;
          return;
        }
        if (right.part != Part::kNone) pending->push_back(right);
        if (left.part != Part::kNone) pending->push_back(left);
        Gather(pending, fixed + weight, rest + BestOf(left) + BestOf(right), out);
        if (left.part != Part::kNone) pending->pop_back();
        if (right.part != Part::kNone) pending->pop_back();
      });
      item = unpaired;
    }
    pending->push_back(taken);
  }

  // Lists or counts the selection chosen so far, worth value.
  void Take(int64_t value) {
    if (value != level) return;  // above the level: listed at an earlier one
    if (listing->values.size() >= max_listed) {
      more = true;
      return;
    }
    listing->values.push_back(value);
    listing->quads.insert(listing->quads.end(), chosen.begin(), chosen.end());
    listing->starts.push_back(listing->quads.size());
  }

  // Walks the branches of a state in order.
  void Walk(Branches* branches) {
    if (branches->ends) Take(branches->end_value);
    std::sort(branches->next.begin(), branches->next.end(),
              [](const Branch& x, const Branch& y) { return x.quad < y.quad; });
    for (Branch& branch : branches->next) {
      if (more) return;
      chosen.push_back(branch.quad);
      const Item closed = branch.pending.back();
      branch.pending.pop_back();
      const int64_t rest = branch.rest - BestOf(closed);
      Branches inside;
      ForEachAlternative(model, closed, [&](int64_t weight, Item left, Item) {
        if (!Reaches(branch.fixed + weight + BestOf(left) + rest)) return;
        branch.pending.push_back(left);
        Gather(&branch.pending, branch.fixed + weight, rest + BestOf(left), &inside);
        branch.pending.pop_back();
      });
      branch.pending = {};
      Walk(&inside);
      chosen.pop_back();
    }
  }

  // Lists them; more tells whether others beyond max_listed exist.
  void Run() {
    std::vector<Item> pending{Item{Part::kExterior, 1, 0}};
    Branches start;
    Gather(&pending, 0, ValueOf(best.exterior[1]), &start);
    Walk(&start);
  }
};

}  // namespace

std::string FormatSelectionCount(SelectionCount count) {
  if (count == 0) return "0";
  std::string digits;
  while (count > 0) {
    digits.push_back(static_cast<char>('0' + static_cast<int>(count % 10)));
    count /= 10;
  }
  std::reverse(digits.begin(), digits.end());
  return digits;
}

QuadMarginals FindBestWith(const QuadModel& model) {
  const BestValue algebra;
  const TablesOf<BestValue> inside = FillInside(model, algebra);
  const OutsideOf<BestValue> outside = FillOutside(model, algebra, inside);
  QuadMarginals marginals;
  marginals.optimum = inside.exterior[1];
  marginals.best_with.assign(static_cast<size_t>(model.quad_count) + 1, 0);
  for (int32_t q = 1; q <= model.quad_count; ++q) {
    int64_t best = kNoValue;
    for (int32_t p = 0; p <= 1; ++p) {
      const Item item{Part::kClosed, q, p};
      best = algebra.Plus(best, algebra.Times(algebra.Result(outside.At(item)), inside.At(item)));
    }
    marginals.best_with[q] = best;
  }
  return marginals;
}

OptimaCount CountOptima(const QuadModel& model) {
  const CountedBest algebra;
  const TablesOf<CountedBest> inside = FillInside(model, algebra);
  const CountedBest::Value whole = inside.exterior[1];
  return OptimaCount{whole.value, whole.count, whole.count == kCountLimit};
}

namespace {

// The selections of model worth at least threshold, all of them (stopped
// false) or, past limit, stopped after counting limit + 1 (stopped true);
// listed up to max_listed.
template <typename Tables>
SuboptSearch<Tables> SearchAbove(const QuadModel& model, const Tables& best, int64_t threshold, uint64_t limit,
                                 int64_t max_listed) {
  SuboptSearch<Tables> search{model, best, threshold, max_listed};
  search.budget = limit;
  search.pending.push_back(Item{Part::kExterior, 1, 0});
  search.Expand(0, ValueOf(best.exterior[1]));
  return search;
}

// Moves the selections search holds into listing, in listing order.
template <typename Tables>
void TakeListed(SuboptSearch<Tables>* search, SuboptListing* listing) {
  if (search->listed.values.size() > static_cast<size_t>(std::max<int64_t>(search->max_listed, 0))) {
    search->Compact();
  }
  listing->order = search->ListingOrder();
  listing->values = std::move(search->listed.values);
  listing->starts = std::move(search->listed.starts);
  listing->quads = std::move(search->listed.quads);
}

}  // namespace

SuboptListing ListSuboptimal(const QuadModel& model, const OptimumDistance& distance, int64_t max_listed) {
  const TablesOf<CountedBest> best = FillInside(model, CountedBest{});
  const CountedBest::Value whole = best.exterior[1];
  SuboptListing listing;
  listing.optimum = whole.value;
  listing.optima = OptimaCount{whole.value, whole.count, whole.count == kCountLimit};
  listing.delta = ResolveDistance(distance, listing.optimum);
  const uint64_t limit = static_cast<uint64_t>(std::max<int64_t>(max_listed, 0));
  // All of them fit, or not: at delta 0 the count says; otherwise a walk
  // that stops once it has counted more than the limit.
  int64_t level = listing.optimum;
  if (listing.delta == 0 ? !listing.optima.saturated && listing.optima.count <= limit : true) {
    SuboptSearch<TablesOf<CountedBest>> search =
        SearchAbove(model, best, listing.optimum - listing.delta, limit, max_listed);
    if (!search.stopped) {
      listing.total = search.total;
      TakeListed(&search, &listing);
      return listing;
    }
    // More than the limit: the lowest level such that the selections worth
    // more than it fit, by bisection on counts that stop past the limit (a
    // value some selection has: more lie at or above it than above it).
    int64_t low = listing.optimum - listing.delta, high = listing.optimum + 1;
    while (limit > 0 && high - low > 1) {
      const int64_t middle = low + (high - low) / 2;
      (SearchAbove(model, best, middle, limit, 0).stopped ? low : high) = middle;
    }
    level = low;
    if (limit > 0 && high <= listing.optimum) {
      SuboptSearch<TablesOf<CountedBest>> above = SearchAbove(model, best, high, limit, max_listed);
      TakeListed(&above, &listing);
      // Held flat in listing order.
      SuboptListing flat;
      for (size_t k = 0; k < listing.Count(); ++k) {
        const ListedSelection selection = listing.Selection(k);
        flat.values.push_back(selection.value);
        flat.quads.insert(flat.quads.end(), selection.quads.begin(), selection.quads.end());
        flat.starts.push_back(flat.quads.size());
      }
      listing.values = std::move(flat.values);
      listing.quads = std::move(flat.quads);
      listing.starts = std::move(flat.starts);
    }
  }
  // Then the selections worth exactly level in order, up to the limit; more
  // lie within delta than the limit (the optimum itself always does).
  OrderedSearch<TablesOf<CountedBest>> ordered{model, best, level, static_cast<size_t>(limit), &listing};
  if (limit > 0) ordered.Run();
  listing.order.resize(listing.values.size());
  for (size_t k = 0; k < listing.order.size(); ++k) listing.order[k] = k;
  if (listing.delta == 0) {
    listing.total = listing.optima.count;
    listing.exact = !listing.optima.saturated;
  } else {
    listing.total = limit;
    listing.exact = false;
  }
  return listing;
}

namespace {

// Beyond this |ln Z|, a double's spacing (2^-20 at 2^32) is no longer small
// against the differences of weights the probabilities are made of.
constexpr double kLogZLimit = 4294967296.0;

// Refuses a temperature so low that the model's values over it leave the
// range of doubles (ln Z infinite or undefined), or grow so large that the
// ensemble's probabilities and samples would lose their precision.
void RequireFiniteSum(double log_z, double temperature) {
  if (!std::isfinite(log_z) || std::abs(log_z) > kLogZLimit) {
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", temperature);
    throw Failure(FailureKind::kData,
                  std::string("temperature ") + text + " is too low for this model: " +
                      (std::isfinite(log_z) ? "ln Z is beyond 2^32, where the probabilities lose their precision"
                                            : "ln Z is not finite"));
  }
}

// The probability that q and the quad continuing its stack are both chosen,
// from the Closed alternative that chooses both.
double JointWithNext(const QuadModel& model, const LogSum& algebra, const TablesOf<LogSum>& inside,
                     const OutsideOf<LogSum>& outside, int32_t q, double log_z) {
  const int32_t link = model.next[q];
  const int32_t carries = model.chain[q] > 0 ? 1 : 0;
  double total = algebra.Zero();
  for (int32_t p = 0; p <= 1; ++p) {
    const int64_t weight = model.score[q] + kStackLinkValue + p * kChainBonusValue;
    total = algebra.Plus(total, algebra.Result(outside.At(Item{Part::kClosed, q, p})) + algebra.Weight(weight) +
                                    inside.At(Item{Part::kClosed, link, carries}));
  }
  return std::exp(total - log_z);
}

}  // namespace

void RequireEnsembleTemperature(int64_t optimum, double temperature) {
  // ln Z is at least optimum / T (the optimum's own weight), at most that plus
  // ln of the number of selections.
  RequireFiniteSum(static_cast<double>(optimum) / temperature, temperature);
}

EnsembleSummary ComputeEnsemble(const QuadModel& model, double temperature) {
  const LogSum algebra{1.0 / temperature};
  const TablesOf<LogSum> inside = FillInside(model, algebra);
  RequireFiniteSum(inside.exterior[1], temperature);
  const OutsideOf<LogSum> outside = FillOutside(model, algebra, inside);
  EnsembleSummary summary;
  summary.temperature = temperature;
  summary.log_z = inside.exterior[1];
  summary.quad_probability.assign(static_cast<size_t>(model.quad_count) + 1, 0.0);
  for (int32_t q = 1; q <= model.quad_count; ++q) {
    double total = algebra.Zero();
    for (int32_t p = 0; p <= 1; ++p) {
      const Item item{Part::kClosed, q, p};
      total = algebra.Plus(total, algebra.Result(outside.At(item)) + inside.At(item));
    }
    summary.quad_probability[q] = std::min(1.0, std::exp(total - summary.log_z));
  }
  // A pair is formed by the quad with it as outer pair, or by the one with it as
  // inner pair, or by both (then linked): P(outer) + P(inner) - P(both).
  std::vector<PairProbability> pairs;
  pairs.reserve(2 * static_cast<size_t>(model.quad_count));
  for (int32_t q = 1; q <= model.quad_count; ++q) {
    const int32_t* quad = MatrixRow(model.quads, q);
    const double chosen = summary.quad_probability[q];
    pairs.push_back(PairProbability{quad[0], quad[1], chosen});
    double inner = chosen;
    if (model.next[q] > 0) inner -= JointWithNext(model, algebra, inside, outside, q, summary.log_z);
    pairs.push_back(PairProbability{quad[2], quad[3], inner});
  }
  std::sort(pairs.begin(), pairs.end(), [](const PairProbability& x, const PairProbability& y) {
    return x.i != y.i ? x.i < y.i : x.j < y.j;
  });
  for (const PairProbability& pair : pairs) {
    if (!summary.pairs.empty() && summary.pairs.back().i == pair.i && summary.pairs.back().j == pair.j) {
      summary.pairs.back().probability += pair.probability;
    } else {
      summary.pairs.push_back(pair);
    }
  }
  for (PairProbability& pair : summary.pairs) pair.probability = std::clamp(pair.probability, 0.0, 1.0);
  return summary;
}

void SampleEnsemble(const QuadModel& model, double temperature, int64_t count, uint64_t seed,
                    const std::function<void(const ListedSelection&)>& take) {
  const LogSum algebra{1.0 / temperature};
  const TablesOf<LogSum> inside = FillInside(model, algebra);
  RequireFiniteSum(inside.exterior[1], temperature);
  std::mt19937_64 generator(seed);
  std::vector<Item> pending;
  for (int64_t s = 0; s < count; ++s) {
    ListedSelection sample;
    pending.assign(1, Item{Part::kExterior, 1, 0});
    while (!pending.empty()) {
      const Item item = pending.back();
      pending.pop_back();
      if (item.part == Part::kNone) continue;
      if (item.part == Part::kClosed) sample.quads.push_back(item.x);
      // A uniform number in [0, 1) from the top 53 bits, the same on every
      // platform; the alternative whose cumulative share first passes it wins
      // (the last one that can be chosen, should rounding leave a remainder).
      const double target = static_cast<double>(generator() >> 11) * 0x1.0p-53;
      const double whole = inside.At(item);
      double cumulative = 0;
      bool taken = false;
      int64_t last_weight = 0;
      Item last_left = kNoItem, last_right = kNoItem;
      ForEachAlternative(model, item, [&](int64_t weight, Item left, Item right) {
        if (taken) return;
        const double share = std::exp(algebra.Weight(weight) + Inside(algebra, inside, left) +
                                      Inside(algebra, inside, right) - whole);
        if (share <= 0) return;
        last_weight = weight;
        last_left = left;
        last_right = right;
        cumulative += share;
        if (cumulative > target) taken = true;
      });
      sample.value += last_weight;
      if (last_right.part != Part::kNone) pending.push_back(last_right);
      if (last_left.part != Part::kNone) pending.push_back(last_left);
    }
    std::sort(sample.quads.begin(), sample.quads.end());
    take(sample);
  }
}

std::vector<ListedSelection> SampleEnsemble(const QuadModel& model, double temperature, int64_t count,
                                            uint64_t seed) {
  std::vector<ListedSelection> samples;
  SampleEnsemble(model, temperature, count, seed, [&](const ListedSelection& sample) { samples.push_back(sample); });
  return samples;
}
