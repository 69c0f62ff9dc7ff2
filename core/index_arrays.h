// Zero-filled integer tables addressed from 1, the sequence buffer, and the arena
// that may own them. A table belongs to the TableArena current when it is made
// (see CurrentArena), which frees it; without one it lives until the process
// ends, as in the executables. An allocation that fails, or whose size cannot be
// represented in 32 bits, throws Failure (kind kMemory) with the message
// kArrayAllocationFailure or kMatrixAllocationFailure.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

// The messages of a table that cannot be allocated.
constexpr const char* kArrayAllocationFailure = "Memory allocation problem in AllocateIntArray";
constexpr const char* kMatrixAllocationFailure = "Memory allocation problem in AllocateIntMatrix";

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
// A row count beyond 32 bits gives kMatrixAllocationFailure, any other failure
// kArrayAllocationFailure.
IntMatrix AllocateIntMatrix(int64_t rows, int64_t cols);

// Returns count + 1 zeroed characters, indices 0..count; count >= 0.
char* AllocateCharTable(int64_t count);

// Returns the sequence buffer for n bases: n + 2 zeroed characters, positions 1..n
// for the letters, element 0 and element n + 1 zero.
char* AllocateSequenceBuffer(int64_t n);

// Owns the tables allocated while it is current (see CurrentArena) and frees them
// when destroyed.
class TableArena {
 public:
  TableArena() = default;
  TableArena(const TableArena&) = delete;
  TableArena& operator=(const TableArena&) = delete;
  ~TableArena();

  // Takes block (from calloc) into the arena; frees it and throws Failure
  // (kMemory, message) if the arena cannot record it. Any thread.
  void Adopt(void* block, const char* message);

 private:
  std::mutex lock_;
  std::vector<void*> blocks_;
};

// While an object of this class lives, every table allocated on any thread goes
// to arena (nested guards restore the earlier arena).
class CurrentArena {
 public:
  explicit CurrentArena(TableArena* arena);
  CurrentArena(const CurrentArena&) = delete;
  CurrentArena& operator=(const CurrentArena&) = delete;
  ~CurrentArena();

 private:
  TableArena* previous_;
};
