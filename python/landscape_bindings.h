// The landscape's methods of the module's Model (best_with, the count of
// optima, suboptimal lists, reductions, the ensemble, samples, encodings) and
// the Reduced model type: thin bindings over fold/landscape.h, fold/reduction.h
// and fold/structure_selection.h.
#pragma once

#include <pybind11/pybind11.h>

#include <memory>

#include "python/model_entries.h"

// Adds the landscape's methods to model_class and the type Reduced (and the
// named tuples Marginals, Subopt, Ensemble, Encoded) to module.
void BindLandscape(pybind11::module_& module,
                   pybind11::class_<SequenceModel, std::unique_ptr<SequenceModel>>& model_class);
