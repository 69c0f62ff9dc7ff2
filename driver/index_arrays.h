// Zero-filled integer tables addressed from 1, and the sequence buffer.
// Nothing allocated here is ever released: every table lives until the process ends.
// An allocation that fails, or whose size cannot be represented, prints its fixed
// message and ends the run with status 1.
#pragma once

#include <cstdint>

// n + 1 zeroed integers, valid indices 0..n.
using IntArray = int32_t*;

// A table of rows 1..rows, each of cols + 1 zeroed integers addressed from 0.
// Rows are stored one after another in a single block (row r starts at
// cells + r * (cols + 1)); row 0 is never used.
struct IntMatrix {
  int32_t* cells;
  int32_t rows;
  int32_t cols;
};

// Start of row r (1..rows) of table; elements 0..cols follow.
inline int32_t* MatrixRow(const IntMatrix& table, int64_t r) {
  return table.cells + r * (static_cast<int64_t>(table.cols) + 1);
}

// Returns an IntArray of size n (n + 1 zeroed integers); n >= 0.
IntArray AllocateIntArray(int64_t n);

// Returns an IntMatrix of rows 1..rows, each an IntArray of size cols, all zero.
IntMatrix AllocateIntMatrix(int64_t rows, int64_t cols);

// Returns count zeroed characters, indices 0..count - 1; count >= 0.
char* AllocateCharTable(int64_t count);

// Returns the sequence buffer for n bases: n + 2 zeroed characters, positions 1..n
// for the letters, element 0 and element n + 1 zero.
char* AllocateSequenceBuffer(int64_t n);
