// Reductions of a model to the variables that some near-optimal selection
// needs, and the variables of an instance file rebuilt from its settings. No
// I/O; failures are thrown.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "formats/instance_reader.h"
#include "solve/landscape.h"
#include "model/kept_entries.h"
#include "model/quad_model.h"

// The variables whose best_with is at least optimum - delta.
KeptVariables ReduceModel(const QuadModel& model, const QuadMarginals& marginals, int64_t delta);

// Checks the instance recorded at path as instance against model, rebuilt from
// its settings, and returns the instance's variables: for a reduction, the
// model reduced at the recorded distance (the marginals taken from *marginals,
// found there first when empty); for the whole model, an empty KeptVariables.
// Throws Failure kData "<path>: instance file: variables: <Q> recorded, but its
// sequence has <q>" (or "reduced: <Q> recorded, ..." for the whole model of a
// reduction), and "<path>: instance file: reduced: <Q'> of <Q> recorded, but
// the model reduced at <DELTA> keeps <K>".
KeptVariables RebuildInstanceVariables(const std::string& path, const InstanceSettings& instance,
                                       const QuadModel& model, std::optional<QuadMarginals>* marginals);
