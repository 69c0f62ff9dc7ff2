// The whole landscape of a quad model: every conflict-free selection at once,
// through the one interval recursion (interval_recursion.h) run over different
// value algebras (the best value, the best value with its number of ties, the
// Boltzmann sum in log space) with its outside counterpart. No I/O; nothing
// ends the process; memory failures throw std::bad_alloc.
//
// The recursion splits the selections of an interval without overlap (every
// conflict-free selection has exactly one derivation), so that counts and
// sums are exact, not only maxima. Variables are 1-based as in the Q file;
// positions are 1-based.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/optimum_distance.h"
#include "model/quad_model.h"

// An exact count of selections, saturated at the largest value (see
// OptimaCount::saturated).
__extension__ typedef unsigned __int128 SelectionCount;

// The decimal text of count.
std::string FormatSelectionCount(SelectionCount count);

// Each variable's best: optimum is the value of the best conflict-free
// selection; best_with[v] (v = 1..quad_count, [0] unused) the best value of a
// conflict-free selection that contains v. From one inside and one outside pass.
struct QuadMarginals {
  int64_t optimum = 0;
  std::vector<int64_t> best_with;
};

// The marginals of model.
QuadMarginals FindBestWith(const QuadModel& model);

// The number of conflict-free selections of the optimum's value (any size).
// saturated: the count reached 2^128 - 1 and stopped there (count is then a
// lower bound, never a wrapped value).
struct OptimaCount {
  int64_t optimum = 0;
  SelectionCount count = 0;
  bool saturated = false;
};

// The optima of model, counted.
OptimaCount CountOptima(const QuadModel& model);

// A conflict-free selection: its value and its variables, ascending.
struct ListedSelection {
  int64_t value = 0;
  std::vector<int32_t> quads;
};

// The conflict-free selections worth at least optimum - delta: the optima
// counted, and the first max_listed (>= 0) of the selections within delta by
// decreasing value, equal values ordered by their quad lists compared element
// by element (a list that ends first comes first), held flat: the k-th
// (0-based) is stored selection s = order[k], worth values[s], holding
// quads[starts[s]] .. quads[starts[s + 1] - 1], ascending. total counts the
// selections within delta when exact; otherwise more than max_listed lie
// within delta (or the count of optima saturated) and total is only a lower
// bound: max_listed (the saturated count at delta 0). At delta 0, total is the
// count of optima, computed and never visited.
struct SuboptListing {
  int64_t optimum = 0;
  int64_t delta = 0;  // the distance resolved against the optimum
  OptimaCount optima;
  SelectionCount total = 0;
  bool exact = true;
  std::vector<size_t> order;
  std::vector<int64_t> values;
  std::vector<size_t> starts{0};
  std::vector<int32_t> quads;

  // The number of selections listed.
  size_t Count() const { return order.size(); }
  // The k-th listed selection (0-based) as a value and a list.
  ListedSelection Selection(size_t k) const {
    const size_t s = order[k];
    return ListedSelection{values[s], std::vector<int32_t>(quads.begin() + static_cast<std::ptrdiff_t>(starts[s]),
                                                           quads.begin() + static_cast<std::ptrdiff_t>(starts[s + 1]))};
  }
};

// The selections of model within distance of the optimum, at most max_listed
// of them listed. The work grows with the selections listed, never with those
// beyond max_listed: once more than max_listed are found, the first max_listed
// in listing order are found by a search in that order, and the count stops.
SuboptListing ListSuboptimal(const QuadModel& model, const OptimumDistance& distance, int64_t max_listed);

// The probability of one base pair (i < j, 1-based) in the ensemble.
struct PairProbability {
  int32_t i;
  int32_t j;
  double probability;
};

// The Boltzmann ensemble over the conflict-free selections at temperature T,
// P(S) = exp(value(S) / T) / Z: log_z = ln Z; quad_probability[v] (v =
// 1..quad_count, [0] unused) the probability that v is chosen; pairs every base
// pair of some quad with its probability of being formed (by a quad's outer or
// inner pair), sorted by i then j.
struct EnsembleSummary {
  double temperature = 1;
  double log_z = 0;
  std::vector<double> quad_probability;
  std::vector<PairProbability> pairs;
};

// The ensemble of model at temperature (> 0, finite), computed in log space.
// Throws Failure kData when the temperature is so low that ln Z is not finite,
// or beyond 2^32 in size, where the probabilities would lose their precision.
EnsembleSummary ComputeEnsemble(const QuadModel& model, double temperature);

// Refuses, as ComputeEnsemble would, a temperature at which the optimum's own
// weight (optimum / temperature) already leaves the range ComputeEnsemble
// accepts: a check that needs only the optimum, made before other work.
void RequireEnsembleTemperature(int64_t optimum, double temperature);

// count exact samples from the ensemble of model at temperature, drawn with a
// 64-bit Mersenne Twister seeded with seed: the same arguments give the same
// samples. Each sample's quads are ascending. Throws as ComputeEnsemble does.
std::vector<ListedSelection> SampleEnsemble(const QuadModel& model, double temperature, int64_t count,
                                            uint64_t seed);

// The same samples, each given to take as it is drawn, so that any number of
// them can be streamed.
void SampleEnsemble(const QuadModel& model, double temperature, int64_t count, uint64_t seed,
                    const std::function<void(const ListedSelection&)>& take);
