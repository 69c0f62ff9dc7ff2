// Stacked quads: a feasible pair (i, j) with the feasible pair (i + 1, j - 1)
// directly inside it. Quad rows are the model's variable numbers.
#pragma once

#include <cstdint>

#include "core/index_arrays.h"

// Number of quads among pairs rows 1..pair_count (sorted by i, then j).
int64_t CountNestedPairs(IntMatrix pairs, int32_t pair_count);

// Writes the quads into rows 1.. of quads, in the order of their outer pairs:
// elements (i, j, i + 1, j - 1), the last two copied from the inner pair's row.
// Returns the number of rows written.
int64_t GenerateNestedPairs(IntMatrix pairs, int32_t pair_count, IntMatrix quads);

// The quad table: counts, allocates AllocateIntMatrix(Q + 1, 4) (which refuses a
// count beyond 32 bits), fills it and checks the fill count (Failure kData
// "Nested Feasible pair generation fails <written> != <counted>"). Sets
// *quad_count to Q.
IntMatrix BuildQuadTable(IntMatrix pairs, int32_t pair_count, int32_t* quad_count);
