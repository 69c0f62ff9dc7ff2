// A simulated annealer over a QUBO's sparse rows, maximising: single-variable
// flips with the Metropolis rule, one sweep visiting every variable once in
// order 1..Q, keeping the best selection seen at any flip; replica exchange
// (parallel tempering) over the same sweeps; independent restarts on threads.
// No I/O; nothing ends the process; memory failures throw std::bad_alloc.
#pragma once

#include <cstdint>
#include <vector>

#include "formats/qubo_entries.h"
#include "model/kept_entries.h"
#include "model/quad_model.h"

// A QUBO as the annealer sees it, for Q variables numbered from 1, maximised:
// the score of v is score[v] (Q + 1 elements, [0] = 0), its couplings in both
// directions are compressed by row: the neighbours of v are column[start[v] ..
// start[v + 1] - 1] with values value[...]; start has Q + 2 elements, start[0] =
// start[1] = 0. Value is int32_t (a model's entries, sums in int64_t) or double.
template <typename Value>
struct SparseRows {
  std::vector<Value> score;
  std::vector<int64_t> start;
  std::vector<int32_t> column;
  std::vector<Value> value;
};
using CouplingRows = SparseRows<int32_t>;
using RealCouplingRows = SparseRows<double>;

// The coupling rows of model, walked through WalkRowEntries.
CouplingRows MakeCouplingRows(const QuadModel& model);

// The coupling rows of the kept variables of model, in their new numbers (1..Q'):
// the sub-model a reduction keeps, whose selections have their originals' values.
CouplingRows MakeKeptCouplingRows(const QuadModel& model, const KeptVariables& kept);

// The rows of entries, node k being variable k + 1, each value times sign (-1
// to minimise the entries' objective, 1 to maximise it). Needs no couple given
// twice (FindRepeatedEntry); the integer rows need entries.whole.
CouplingRows MakeEntryRows(const QuboEntries& entries, int32_t sign);
RealCouplingRows MakeRealEntryRows(const QuboEntries& entries, double sign);

// The best selection a run found and its value.
template <typename Total>
struct BestSelection {
  std::vector<uint8_t> chosen;  // Q + 1 bytes, chosen[v] = 1 for a chosen variable v (1-based, the rows' numbers)
  Total value;                  // the rows' value of chosen
};
using AnnealResult = BestSelection<int64_t>;
using RealAnnealResult = BestSelection<double>;

// Anneals rows from the empty selection over temperatures.size() sweeps, sweep s
// at temperatures[s] (in the rows' value units; a move that lowers the value
// by d is taken with probability exp(-d / T), T > 0; below exp(-40) never), the
// acceptances drawn from a generator (xoshiro256**) seeded by seed. The same arguments give
// the same result. Returns the best selection seen (the empty one when nothing
// beats it).
AnnealResult AnnealModel(const CouplingRows& rows, const std::vector<double>& temperatures, uint64_t seed);
RealAnnealResult AnnealModel(const RealCouplingRows& rows, const std::vector<double>& temperatures, uint64_t seed);

// Replica exchange: one replica per temperature of ladder (ascending, all > 0),
// each from the empty selection; rounds rounds, each one Metropolis sweep of
// every replica at its temperature (as AnnealModel sweeps), then swaps of the
// replicas at neighbouring temperatures T_k < T_k+1, for even k in even rounds
// (round 0 first), odd k in odd ones, each taken with probability min(1,
// exp((E_k+1 - E_k) (1/T_k - 1/T_k+1))), E being a replica's value (the rule
// that keeps each temperature's Boltzmann weights exp(E / T) of a
// maximisation). One generator seeded by seed draws flips and swaps. Returns
// the best selection any replica saw (the empty one when nothing beats it).
AnnealResult ExchangeReplicas(const CouplingRows& rows, const std::vector<double>& ladder, int32_t rounds,
                              uint64_t seed);
RealAnnealResult ExchangeReplicas(const RealCouplingRows& rows, const std::vector<double>& ladder, int32_t rounds,
                                  uint64_t seed);

// The seed of restart k of a run seeded by seed: seed itself for k = 0, a
// splitmix64 mix of both otherwise.
uint64_t RestartSeed(uint64_t seed, int64_t k);

// What a run of restarts does: AnnealModel over schedule when ladder is empty,
// else ExchangeReplicas over ladder for rounds rounds.
struct AnnealPlan {
  std::vector<double> schedule;
  std::vector<double> ladder;
  int32_t rounds = 0;
  uint64_t seed = 1;
  int64_t restarts = 1;  // at least 1
};

// The restarts of plan, restart k seeded by RestartSeed(plan.seed, k), run on up
// to threads threads (at least 1); each result at its restart's index, the
// same whatever threads is. Rethrows the first failure of a restart.
std::vector<AnnealResult> AnnealRestarts(const CouplingRows& rows, const AnnealPlan& plan, int threads);
std::vector<RealAnnealResult> AnnealRestarts(const RealCouplingRows& rows, const AnnealPlan& plan, int threads);

// The restart with the highest value among results (the first of equals).
template <typename Total>
size_t BestRestart(const std::vector<BestSelection<Total>>& results) {
  size_t best = 0;
  for (size_t k = 1; k < results.size(); ++k) {
    if (results[k].value > results[best].value) best = k;
  }
  return best;
}

// sweeps temperatures from hot to cold, spaced geometrically (hot alone for one
// sweep). Needs hot > 0 and cold > 0.
std::vector<double> GeometricSchedule(double hot, double cold, int32_t sweeps);

// count temperatures from cold up to hot, spaced geometrically (cold alone
// for one), the ladder of ExchangeReplicas. Needs hot > 0 and cold > 0.
std::vector<double> GeometricLadder(double cold, double hot, int32_t count);
