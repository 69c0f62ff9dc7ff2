// Reductions of a model to the variables that some near-optimal selection
// needs, the thresholds that define them, and the map back to the original
// numbering. No I/O beyond reading a map file; failures are thrown.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fold/landscape.h"
#include "model/kept_entries.h"
#include "model/quad_model.h"

// A distance below the optimum: a non-negative integer, or a percentage of
// the optimum's absolute value.
struct OptimumDistance {
  int64_t amount = 0;         // the integer, or the percentage times 10^decimals
  int32_t decimals = 0;       // digits after the point of a percentage
  bool percentage = false;
};

// Parses text: digits ("50"), or digits with an optional fraction and '%'
// ("5%", "2.5%"). Throws Failure kUsage "<option>: not a distance: <text>" (text
// shown through ShowText) for anything else, a value beyond 10^15 included.
OptimumDistance ParseOptimumDistance(const char* option, const char* text);

// The distance in the model's units: the integer, or floor(percentage / 100 x
// |optimum|), so that a selection is within it exactly when its value is at
// least optimum - distance.
int64_t ResolveDistance(const OptimumDistance& distance, int64_t optimum);

// The variables whose best_with is at least optimum - delta.
KeptVariables ReduceModel(const QuadModel& model, const QuadMarginals& marginals, int64_t delta);

// Reads the map file at path (header "variable\toriginal\ti\tj", then "k\tv\ti\tj"
// for k = 1, 2, ...) for model: element k of the result is the original
// variable of reduced variable k ([0] = 0). Checks every row: k in order, v a
// variable of model whose outer pair is (i, j), the originals ascending.
// Throws Failure kFile "<path>: cannot read: <reason>", or kData "<path>: line
// <L>: <reason>".
std::vector<int32_t> ReadReducedMap(const std::string& path, const QuadModel& model);
