#include "driver/index_arrays.h"

#include <cstdint>
#include <cstdlib>

#include "driver/run_end.h"

namespace {

constexpr const char* kArrayFailure = "Memory allocation problem in AllocateIntArray";
constexpr const char* kMatrixFailure = "Memory allocation problem in AllocateIntMatrix";

// Every count handed on to later stages is a signed 32-bit integer, so a size
// beyond that range is as unusable as one the allocator refuses.
bool SizeFits(int64_t count) { return count >= 0 && count <= INT32_MAX; }

}  // namespace

IntArray AllocateIntArray(int64_t n) {
  if (!SizeFits(n) || !SizeFits(n + 1)) EndRun(kArrayFailure, kStatusDataError);
  auto* cells = static_cast<int32_t*>(std::calloc(static_cast<size_t>(n) + 1, sizeof(int32_t)));
  if (cells == nullptr) EndRun(kArrayFailure, kStatusDataError);
  cells[0] = 0;
  return cells;
}

IntMatrix AllocateIntMatrix(int64_t rows, int64_t cols) {
  if (!SizeFits(rows) || !SizeFits(rows + 1)) EndRun(kMatrixFailure, kStatusDataError);
  if (!SizeFits(cols) || !SizeFits(cols + 1)) EndRun(kArrayFailure, kStatusDataError);
  // One block holds row 0 (unused) and rows 1..rows.
  const size_t count = static_cast<size_t>(rows + 1) * static_cast<size_t>(cols + 1);
  auto* cells = static_cast<int32_t*>(std::calloc(count, sizeof(int32_t)));
  if (cells == nullptr) EndRun(kArrayFailure, kStatusDataError);
  return IntMatrix{cells, static_cast<int32_t>(rows), static_cast<int32_t>(cols)};
}

char* AllocateCharTable(int64_t count) {
  if (count < 0 || static_cast<uint64_t>(count) > SIZE_MAX - 1) EndRun(kArrayFailure, kStatusDataError);
  auto* table = static_cast<char*>(std::calloc(static_cast<size_t>(count) + 1, 1));
  if (table == nullptr) EndRun(kArrayFailure, kStatusDataError);
  return table;
}

char* AllocateSequenceBuffer(int64_t n) {
  if (!SizeFits(n) || !SizeFits(n + 2)) EndRun(kArrayFailure, kStatusDataError);
  auto* buffer = static_cast<char*>(std::calloc(static_cast<size_t>(n) + 2, 1));
  if (buffer == nullptr) EndRun(kArrayFailure, kStatusDataError);
  buffer[0] = 0;
  return buffer;
}
