// A simulated annealer over a model's sparse rows: single-variable flips
// with the Metropolis rule, one sweep visiting every variable once in order
// 1..Q, keeping the best selection seen at any flip. No I/O; nothing ends the
// process; memory failures throw std::bad_alloc.
#pragma once

#include <cstdint>
#include <vector>

#include "model/kept_entries.h"
#include "model/quad_model.h"

// A model as the annealer sees it, for Q variables numbered from 1: the score
// of v is score[v] (Q + 1 elements, [0] = 0), its couplings in both directions
// are compressed by row: the neighbours of v are column[start[v] .. start[v +
// 1] - 1] with values value[...]; start has Q + 2 elements, start[0] = start[1] = 0.
struct CouplingRows {
  std::vector<int32_t> score;
  std::vector<int64_t> start;
  std::vector<int32_t> column;
  std::vector<int32_t> value;
};

// The coupling rows of model, walked through WalkRowEntries.
CouplingRows MakeCouplingRows(const QuadModel& model);

// The coupling rows of the kept variables of model, in their new numbers (1..Q'):
// the sub-model a reduction keeps, whose selections have their originals' values.
CouplingRows MakeKeptCouplingRows(const QuadModel& model, const KeptVariables& kept);

// The best selection an annealing run found and its value.
struct AnnealResult {
  std::vector<uint8_t> chosen;  // Q + 1 bytes, chosen[v] = 1 for a chosen variable v (1-based, the rows' numbers)
  int64_t value;                // the model's value of chosen
};

// Anneals the model of rows from the empty selection over temperatures.size() sweeps, sweep s
// at temperatures[s] (in the model's value units; a move that lowers the value
// by d is taken with probability exp(-d / T), T > 0; below exp(-40) never), the
// acceptances drawn from a generator (xoshiro256**) seeded by seed. The same arguments give
// the same result. Returns the best selection seen (the empty one when nothing
// beats it).
AnnealResult AnnealModel(const CouplingRows& rows, const std::vector<double>& temperatures, uint64_t seed);

// sweeps temperatures from hot to cold, spaced geometrically (hot alone for one
// sweep). Needs hot > 0 and cold > 0.
std::vector<double> GeometricSchedule(double hot, double cold, int32_t sweeps);
