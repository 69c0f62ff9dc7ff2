// A distance below an optimum, as the options that take a DELTA give it: an
// integer or a percentage of the optimum's magnitude. No I/O.
#pragma once

#include <cstdint>

// A distance below the optimum: a non-negative integer, or a percentage of
// the optimum's absolute value.
struct OptimumDistance {
  int64_t amount = 0;         // the integer, or the percentage times 10^decimals
  int32_t decimals = 0;       // digits after the point of a percentage
  bool percentage = false;
};

// What a distance may be, as messages state it.
constexpr const char* kDistanceRule =
    "a distance (a whole number up to 10^15, or a percentage such as 5% or 2.5% with at most 6 decimals)";

// Parses text: digits ("50"), or digits with an optional fraction and '%'
// ("5%", "2.5%"). Throws Failure kUsage "<option>: not <kDistanceRule>: <text>"
// (text shown through ShowText) for anything else, a value beyond 10^15 included.
OptimumDistance ParseOptimumDistance(const char* option, const char* text);

// The distance in the model's units: the integer, or floor(percentage / 100 x
// |optimum|), so that a selection is within it exactly when its value is at
// least optimum - distance.
int64_t ResolveDistance(const OptimumDistance& distance, int64_t optimum);
