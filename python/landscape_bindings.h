// The landscape's methods of the module's Model (best_with, the count of
// optima, suboptimal lists, reductions, the ensemble, samples, encodings) and
// the Reduced model type: thin bindings over solve/landscape.h, solve/reduction.h
// and solve/structure_selection.h.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "python/model_entries.h"
#include "solve/anneal.h"

// Adds the landscape's methods to model_class and the type Reduced (and the
// named tuples Marginals, Subopt, Ensemble, Encoded) to module.
void BindLandscape(pybind11::module_& module,
                   pybind11::class_<SequenceModel, std::unique_ptr<SequenceModel>>& model_class);

// The temperatures of an annealing run of sweeps sweeps: schedule is (hot,
// cold), spaced geometrically, or one temperature per sweep. Throws Failure
// kData for a count outside 0..2^31 - 1, a temperature that is not a positive
// number, or a schedule of another length.
std::vector<double> AnnealTemperatures(pybind11::handle schedule, int64_t sweeps);

// The plan of an annealing call: plain annealing over AnnealTemperatures(schedule,
// sweeps) for replicas = 1; for more, replica exchange over sweeps rounds, the
// ladder from schedule (hot, cold) as GeometricLadder(cold, hot, replicas)
// spaces it, or one temperature per replica (ascending). Throws Failure kData as
// AnnealTemperatures does, and for restarts or replicas outside 1..2^31 - 1.
AnnealPlan AnnealPlanOf(pybind11::handle schedule, int64_t sweeps, uint64_t seed, int64_t restarts, int64_t replicas);

// threads as the annealer's calls take it: 0 for one per core (CountWorkThreads).
int AnnealThreads(int64_t threads);

// selection as a one-dimensional numpy array of integers (bool, signed or
// unsigned; a set sorted first): throws TypeError for a string or another kind
// of number, ValueError for another number of dimensions.
pybind11::array SelectionArray(pybind11::handle selection);

// Raises ValueError "the penalty -2147483648 has no negation in 32 bits: use
// negate=False" when CheckNegatedPenalty refuses penalty.
void RefuseNegatedMinimum(int32_t penalty);
