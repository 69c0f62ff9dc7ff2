// Feasible base pairs: every (i, j) that may pair within the pairing window.
#pragma once

#include <cstdint>

#include "core/index_arrays.h"

// The pairing window W for a sequence of n bases: n up to 500, 200 up to 900,
// 150 beyond. For each i, j runs from i to min(i + W, n).
int32_t PairingWindowWidth(int32_t n);

// Whether letter x at the lower position pairs with letter y at the higher one:
// AU, UA, GC, CG, GU and UG do.
bool CanPair(char x, char y);

// Number of feasible pairs of the sequence in buffer (letters at 1..n): pairs (i, j)
// in the window with j - i > min_distance whose letters pair. Returned as 64 bits
// so that a count beyond the table limit can be refused rather than wrap.
int64_t CountFeasiblePairs(const char* buffer, int32_t n, int32_t min_distance);

// Writes the feasible pairs into rows 1.. of table (element 0 = i, element 1 = j),
// sorted by i and then j; returns the number of rows written.
int64_t GenerateFeasiblePairs(const char* buffer, int32_t n, IntMatrix table,
                              int32_t min_distance);

// The feasible pair table: counts, allocates it as AllocateIntMatrix(P + 2, 2)
// (which refuses a count beyond 32 bits) and fills it. Sets *pair_count to P.
IntMatrix BuildPairTable(const char* buffer, int32_t n, int32_t min_distance,
                         int32_t* pair_count);
