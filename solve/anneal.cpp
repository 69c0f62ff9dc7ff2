#include "solve/anneal.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <type_traits>
#include <utility>

#include "core/work_threads.h"

#include "model/quad_couplings.h"
#include "model/row_entries.h"

namespace {

// Counts the couplings of each row in both directions, and takes the scores.
template <typename Value>
struct RowCounter {
  SparseRows<Value>* rows;
  void Entry(int32_t row, int32_t column, Value value) {
    if (row == column) {
      rows->score[row] = value;
      return;
    }
    ++rows->start[row + 1];
    ++rows->start[column + 1];
  }
};

// Stores each coupling in both rows, at the next free place of each.
template <typename Value>
struct RowFiller {
  std::vector<int64_t>* at;
  SparseRows<Value>* rows;
  void Entry(int32_t row, int32_t column, Value value) {
    if (row == column) return;
    const int64_t a = (*at)[row]++, b = (*at)[column]++;
    rows->column[a] = column;
    rows->value[a] = value;
    rows->column[b] = row;
    rows->value[b] = value;
  }
};

// The rows of q variables, walk(l, visitor) giving row l's entries (each
// coupling once, in one of its two rows) as visitor.Entry calls.
template <typename Value, typename Walk>
SparseRows<Value> BuildCouplingRows(int32_t q, const Walk& walk) {
  SparseRows<Value> rows;
  rows.score.assign(static_cast<size_t>(q) + 1, 0);
  rows.start.assign(static_cast<size_t>(q) + 2, 0);
  RowCounter<Value> counter{&rows};
  for (int32_t l = 1; l <= q; ++l) walk(l, counter);
  for (int32_t v = 1; v <= q + 1; ++v) rows.start[v] += rows.start[v - 1];
  rows.column.resize(static_cast<size_t>(rows.start[q + 1]));
  rows.value.resize(rows.column.size());
  std::vector<int64_t> at(rows.start.begin(), rows.start.end() - 1);
  RowFiller<Value> filler{&at, &rows};
  for (int32_t l = 1; l <= q; ++l) walk(l, filler);
  return rows;
}

}  // namespace

CouplingRows MakeCouplingRows(const QuadModel& model) {
  uint8_t flags[kFlagChunk];
  return BuildCouplingRows<int32_t>(model.quad_count,
                           [&](int32_t l, auto& visitor) { WalkRowEntryCalls(model, l, flags, visitor); });
}

CouplingRows MakeKeptCouplingRows(const QuadModel& model, const KeptVariables& kept) {
  return BuildCouplingRows<int32_t>(static_cast<int32_t>(kept.original.size()) - 1,
                           [&](int32_t k, auto& visitor) { WalkKeptRowEntries(model, kept, k, visitor); });
}

namespace {

// The rows of entries, each value times sign, converted to Value.
template <typename Value>
SparseRows<Value> BuildEntryRows(const QuboEntries& entries, Value sign) {
  const size_t count = entries.row.size();
  // Row l + 1's entries are the ones whose smaller node is l, as the walkers
  // above give them: each coupling once, in one of its two rows.
  std::vector<int64_t> first(static_cast<size_t>(entries.node_count) + 1, 0);
  for (size_t k = 0; k < count; ++k) ++first[static_cast<size_t>(entries.row[k]) + 1];
  for (size_t l = 1; l < first.size(); ++l) first[l] += first[l - 1];
  std::vector<int64_t> order(count);
  std::vector<int64_t> at(first.begin(), first.end() - 1);
  for (size_t k = 0; k < count; ++k) order[static_cast<size_t>(at[static_cast<size_t>(entries.row[k])]++)] = static_cast<int64_t>(k);
  return BuildCouplingRows<Value>(entries.node_count, [&](int32_t l, auto& visitor) {
    for (int64_t e = first[static_cast<size_t>(l) - 1]; e < first[static_cast<size_t>(l)]; ++e) {
      const size_t k = static_cast<size_t>(order[static_cast<size_t>(e)]);
      visitor.Entry(entries.row[k] + 1, entries.column[k] + 1, static_cast<Value>(sign * static_cast<Value>(entries.value[k])));
    }
  });
}

}  // namespace

CouplingRows MakeEntryRows(const QuboEntries& entries, int32_t sign) { return BuildEntryRows<int32_t>(entries, sign); }

RealCouplingRows MakeRealEntryRows(const QuboEntries& entries, double sign) {
  return BuildEntryRows<double>(entries, sign);
}

namespace {

// xoshiro256** (Blackman and Vigna), seeded through splitmix64: fast, and the
// same numbers on every platform.
class FlipGenerator {
 public:
  explicit FlipGenerator(uint64_t seed) {
    for (uint64_t& word : state_) {
      seed += 0x9E3779B97F4A7C15ull;
      uint64_t z = seed;
      z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
      z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
      word = z ^ (z >> 31);
    }
  }
  // A uniform number in [0, 1), 53 bits.
  double Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }

 private:
  static uint64_t Rotate(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  uint64_t Next() {
    const uint64_t result = Rotate(state_[1] * 5, 7) * 9, t = state_[1] << 17;
    state_[2] ^= state_[0];
    state_[3] ^= state_[1];
    state_[1] ^= state_[2];
    state_[0] ^= state_[3];
    state_[2] ^= t;
    state_[3] = Rotate(state_[3], 45);
    return result;
  }
  uint64_t state_[4];
};

// Below this exponent a move is refused without drawing: exp(-40) < 2^-57, less
// than the smallest uniform number above 0 that can be drawn.
constexpr double kNeverTaken = -40.0;



// One annealing walk over rows: its selection x, the field of each variable
// (the sum of its couplings to chosen variables), its value, and the best
// selection it has seen, kept up to date through a journal of flips.
template <typename Value, typename Total>
class Walker {
 public:
  explicit Walker(int32_t q)
      : q_(q), x_(static_cast<size_t>(q) + 1, 0), field_(static_cast<size_t>(q) + 1, 0), best_{x_, Total{0}},
        differs_(static_cast<size_t>(q) + 1, 0) {}

  // One sweep over variables 1..Q at the temperature whose inverse is inverse.
  void Sweep(const SparseRows<Value>& rows, double inverse, FlipGenerator& generator) {
    uint8_t* const x = x_.data();
    Total* const field = field_.data();
    const Value* const score = rows.score.data();
    const int64_t* const start = rows.start.data();
    const int32_t* const column = rows.column.data();
    const Value* const entry = rows.value.data();
    Total value = value_;
    for (int32_t v = 1; v <= q_; ++v) {
      const Total gain = (x[v] != 0 ? -1 : 1) * (score[v] + field[v]);
      if (gain < 0) {
        const double exponent = static_cast<double>(gain) * inverse;
        // A draw of exactly 0 takes any move, as exp(exponent) > 0 would.
        if (exponent < kNeverTaken || generator.Uniform() >= std::exp(exponent)) continue;
      }
      const int32_t change = x[v] != 0 ? -1 : 1;
      x[v] = static_cast<uint8_t>(x[v] ^ 1);
      for (int64_t k = start[v]; k < start[v + 1]; ++k) field[column[k]] += change * entry[k];
      value += gain;
      journal_.push_back(v);
      if (journal_.size() > 2 * static_cast<size_t>(q_)) FoldJournal();
      if (value > best_.value) {
        for (const int32_t flipped : journal_) best_.chosen[flipped] ^= 1;
        journal_.clear();
        best_.value = value;
      }
    }
    value_ = value;
  }

  // The value of the current selection.
  Total CurrentValue() const { return value_; }

  // The best selection seen, its value recomputed from the rows when the
  // running sums are not exact.
  BestSelection<Total> TakeBest(const SparseRows<Value>& rows) {
    if constexpr (!std::is_integral_v<Value>) best_.value = EvaluateRows(rows, best_.chosen);
    return std::move(best_);
  }

 private:
  // The value of chosen under rows, each coupling counted once.
  static Total EvaluateRows(const SparseRows<Value>& rows, const std::vector<uint8_t>& chosen) {
    Total sum = 0;
    for (size_t v = 1; v < chosen.size(); ++v) {
      if (chosen[v] == 0) continue;
      sum += rows.score[v];
      for (int64_t k = rows.start[v]; k < rows.start[v + 1]; ++k) {
        if (static_cast<size_t>(rows.column[k]) > v && chosen[rows.column[k]] != 0) sum += rows.value[k];
      }
    }
    return sum;
  }

  // The flips since best_ was last brought up to date: each is applied to best_
  // at most once, when a better selection is reached. Past 2Q entries the
  // journal is folded to the variables where x and best differ (at most Q), so
  // that it never holds more than 2Q + 1 flips however long the run.
  void FoldJournal() {
    for (const int32_t flipped : journal_) differs_[flipped] ^= 1;
    journal_.clear();
    for (int32_t u = 1; u <= q_; ++u) {
      if (differs_[u] != 0) journal_.push_back(u);
      differs_[u] = 0;
    }
  }

  int32_t q_;
  std::vector<uint8_t> x_;
  std::vector<Total> field_;
  Total value_ = 0;
  BestSelection<Total> best_;
  std::vector<int32_t> journal_;
  std::vector<uint8_t> differs_;
};

template <typename Value, typename Total>
BestSelection<Total> Anneal(const SparseRows<Value>& rows, const std::vector<double>& temperatures, uint64_t seed) {
  FlipGenerator generator(seed);
  Walker<Value, Total> walker(static_cast<int32_t>(rows.score.size()) - 1);
  for (const double temperature : temperatures) walker.Sweep(rows, 1.0 / temperature, generator);
  return walker.TakeBest(rows);
}

template <typename Value, typename Total>
BestSelection<Total> Exchange(const SparseRows<Value>& rows, const std::vector<double>& ladder, int32_t rounds,
                              uint64_t seed) {
  FlipGenerator generator(seed);
  const int32_t q = static_cast<int32_t>(rows.score.size()) - 1;
  const size_t count = ladder.size();
  std::vector<Walker<Value, Total>> walkers;
  walkers.reserve(count);
  for (size_t k = 0; k < count; ++k) walkers.emplace_back(q);
  std::vector<double> inverse(count);
  for (size_t k = 0; k < count; ++k) inverse[k] = 1.0 / ladder[k];
  std::vector<size_t> at(count);  // at[k]: the walker at temperature k
  for (size_t k = 0; k < count; ++k) at[k] = k;
  for (int32_t round = 0; round < rounds; ++round) {
    for (size_t k = 0; k < count; ++k) walkers[at[k]].Sweep(rows, inverse[k], generator);
    for (size_t k = static_cast<size_t>(round % 2); k + 1 < count; k += 2) {
      const double exponent = static_cast<double>(walkers[at[k + 1]].CurrentValue() - walkers[at[k]].CurrentValue()) *
                              (inverse[k] - inverse[k + 1]);
      if (exponent < 0 && (exponent < kNeverTaken || generator.Uniform() >= std::exp(exponent))) continue;
      std::swap(at[k], at[k + 1]);
    }
  }
  std::vector<BestSelection<Total>> bests;
  for (Walker<Value, Total>& walker : walkers) bests.push_back(walker.TakeBest(rows));
  if (bests.empty()) return {std::vector<uint8_t>(static_cast<size_t>(q) + 1, 0), Total{0}};
  return std::move(bests[BestRestart(bests)]);
}

template <typename Value, typename Total>
std::vector<BestSelection<Total>> Restarts(const SparseRows<Value>& rows, const AnnealPlan& plan, int threads) {
  const size_t count = static_cast<size_t>(std::max<int64_t>(plan.restarts, 1));
  std::vector<BestSelection<Total>> results(count);
  std::atomic<size_t> next{0};
  const std::vector<std::exception_ptr> failures =
      RunEach(std::min(count, static_cast<size_t>(std::max(threads, 1))), [&](size_t) {
        for (size_t k = next++; k < count; k = next++) {
          const uint64_t seed = RestartSeed(plan.seed, static_cast<int64_t>(k));
          results[k] = plan.ladder.empty() ? Anneal<Value, Total>(rows, plan.schedule, seed)
                                           : Exchange<Value, Total>(rows, plan.ladder, plan.rounds, seed);
        }
      });
  for (const std::exception_ptr& failure : failures) {
    if (failure) std::rethrow_exception(failure);
  }
  return results;
}

}  // namespace

AnnealResult AnnealModel(const CouplingRows& rows, const std::vector<double>& temperatures, uint64_t seed) {
  return Anneal<int32_t, int64_t>(rows, temperatures, seed);
}

RealAnnealResult AnnealModel(const RealCouplingRows& rows, const std::vector<double>& temperatures, uint64_t seed) {
  return Anneal<double, double>(rows, temperatures, seed);
}

AnnealResult ExchangeReplicas(const CouplingRows& rows, const std::vector<double>& ladder, int32_t rounds,
                              uint64_t seed) {
  return Exchange<int32_t, int64_t>(rows, ladder, rounds, seed);
}

RealAnnealResult ExchangeReplicas(const RealCouplingRows& rows, const std::vector<double>& ladder, int32_t rounds,
                                  uint64_t seed) {
  return Exchange<double, double>(rows, ladder, rounds, seed);
}

uint64_t RestartSeed(uint64_t seed, int64_t k) {
  if (k == 0) return seed;
  uint64_t z = seed ^ (static_cast<uint64_t>(k) * 0xD1B54A32D192ED03ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

std::vector<AnnealResult> AnnealRestarts(const CouplingRows& rows, const AnnealPlan& plan, int threads) {
  return Restarts<int32_t, int64_t>(rows, plan, threads);
}

std::vector<RealAnnealResult> AnnealRestarts(const RealCouplingRows& rows, const AnnealPlan& plan, int threads) {
  return Restarts<double, double>(rows, plan, threads);
}

std::vector<double> GeometricSchedule(double hot, double cold, int32_t sweeps) {
  std::vector<double> temperatures(static_cast<size_t>(std::max(sweeps, 0)));
  for (int32_t s = 0; s < sweeps; ++s) {
    const double t = sweeps > 1 ? static_cast<double>(s) / (sweeps - 1) : 0.0;
    temperatures[s] = hot * std::pow(cold / hot, t);
  }
  return temperatures;
}

std::vector<double> GeometricLadder(double cold, double hot, int32_t count) {
  return GeometricSchedule(cold, hot, count);
}
