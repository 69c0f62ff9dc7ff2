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

// Adds the landscape's methods to model_class and the type Reduced (and the
// named tuples Marginals, Subopt, Ensemble, Encoded) to module.
void BindLandscape(pybind11::module_& module,
                   pybind11::class_<SequenceModel, std::unique_ptr<SequenceModel>>& model_class);

// The temperatures of an annealing run of sweeps sweeps: schedule is (hot,
// cold), spaced geometrically, or one temperature per sweep. Throws Failure
// kData for a count outside 0..2^31 - 1, a temperature that is not a positive
// number, or a schedule of another length.
std::vector<double> AnnealTemperatures(pybind11::handle schedule, int64_t sweeps);

// selection as a one-dimensional numpy array of integers (bool, signed or
// unsigned; a set sorted first): throws TypeError for a string or another kind
// of number, ValueError for another number of dimensions.
pybind11::array SelectionArray(pybind11::handle selection);

// Raises ValueError "the penalty -2147483648 has no negation in 32 bits: use
// negate=False" when CheckNegatedPenalty refuses penalty.
void RefuseNegatedMinimum(int32_t penalty);
