#include "solve/anneal.h"

#include <algorithm>
#include <cmath>

#include "model/quad_couplings.h"
#include "model/row_entries.h"

namespace {

// Counts the couplings of each row in both directions, and takes the scores.
struct RowCounter {
  CouplingRows* rows;
  void Entry(int32_t row, int32_t column, int32_t value) {
    if (row == column) {
      rows->score[row] = value;
      return;
    }
    ++rows->start[row + 1];
    ++rows->start[column + 1];
  }
};

// Stores each coupling in both rows, at the next free place of each.
struct RowFiller {
  std::vector<int64_t>* at;
  CouplingRows* rows;
  void Entry(int32_t row, int32_t column, int32_t value) {
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
template <typename Walk>
CouplingRows BuildCouplingRows(int32_t q, const Walk& walk) {
  CouplingRows rows;
  rows.score.assign(static_cast<size_t>(q) + 1, 0);
  rows.start.assign(static_cast<size_t>(q) + 2, 0);
  RowCounter counter{&rows};
  for (int32_t l = 1; l <= q; ++l) walk(l, counter);
  for (int32_t v = 1; v <= q + 1; ++v) rows.start[v] += rows.start[v - 1];
  rows.column.resize(static_cast<size_t>(rows.start[q + 1]));
  rows.value.resize(rows.column.size());
  std::vector<int64_t> at(rows.start.begin(), rows.start.end() - 1);
  RowFiller filler{&at, &rows};
  for (int32_t l = 1; l <= q; ++l) walk(l, filler);
  return rows;
}

}  // namespace

CouplingRows MakeCouplingRows(const QuadModel& model) {
  uint8_t flags[kFlagChunk];
  return BuildCouplingRows(model.quad_count,
                           [&](int32_t l, auto& visitor) { WalkRowEntryCalls(model, l, flags, visitor); });
}

CouplingRows MakeKeptCouplingRows(const QuadModel& model, const KeptVariables& kept) {
  return BuildCouplingRows(static_cast<int32_t>(kept.original.size()) - 1,
                           [&](int32_t k, auto& visitor) { WalkKeptRowEntries(model, kept, k, visitor); });
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

}  // namespace

AnnealResult AnnealModel(const CouplingRows& rows, const std::vector<double>& temperatures, uint64_t seed) {
  const int32_t q = static_cast<int32_t>(rows.score.size()) - 1;
  FlipGenerator generator(seed);
  std::vector<uint8_t> x(static_cast<size_t>(q) + 1, 0);
  std::vector<int64_t> field(static_cast<size_t>(q) + 1, 0);  // sum of the couplings to chosen variables
  AnnealResult best{x, 0};
  // The flips since best was last brought up to date: each is applied to best
  // at most once, when a better selection is reached. Past 2Q entries the
  // journal is folded to the variables where x and best differ (at most Q), so
  // that it never holds more than 2Q + 1 flips however long the run.
  std::vector<int32_t> journal;
  std::vector<uint8_t> differs(static_cast<size_t>(q) + 1, 0);
  const auto fold_journal = [&] {
    for (const int32_t flipped : journal) differs[flipped] ^= 1;
    journal.clear();
    for (int32_t u = 1; u <= q; ++u) {
      if (differs[u] != 0) journal.push_back(u);
      differs[u] = 0;
    }
  };
  int64_t value = 0;
  for (const double temperature : temperatures) {
    const double inverse = 1.0 / temperature;
    for (int32_t v = 1; v <= q; ++v) {
      const int64_t gain = (x[v] != 0 ? -1 : 1) * (rows.score[v] + field[v]);
      if (gain < 0) {
        const double exponent = static_cast<double>(gain) * inverse;
        // A draw of exactly 0 takes any move, as exp(exponent) > 0 would.
        if (exponent < kNeverTaken || generator.Uniform() >= std::exp(exponent)) continue;
      }
      const int32_t change = x[v] != 0 ? -1 : 1;
      x[v] = static_cast<uint8_t>(x[v] ^ 1);
      for (int64_t k = rows.start[v]; k < rows.start[v + 1]; ++k) field[rows.column[k]] += change * rows.value[k];
      value += gain;
      journal.push_back(v);
      if (journal.size() > 2 * static_cast<size_t>(q)) fold_journal();
      if (value > best.value) {
        for (const int32_t flipped : journal) best.chosen[flipped] ^= 1;
        journal.clear();
        best.value = value;
      }
    }
  }
  return best;
}

std::vector<double> GeometricSchedule(double hot, double cold, int32_t sweeps) {
  std::vector<double> temperatures(static_cast<size_t>(std::max(sweeps, 0)));
  for (int32_t s = 0; s < sweeps; ++s) {
    const double t = sweeps > 1 ? static_cast<double>(s) / (sweeps - 1) : 0.0;
    temperatures[s] = hot * std::pow(cold / hot, t);
  }
  return temperatures;
}
