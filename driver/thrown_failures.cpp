// The thrown versions of the procedures that end a run in rnaqubo, for the
// Python module and rnaqubo-fold; allocated tables go to the current TableArena.
#include "driver/thrown_failures.h"

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/index_arrays.h"
#include "driver/run_end.h"

namespace {

constexpr const char* kArrayFailure = kArrayAllocationFailure;
constexpr const char* kMatrixFailure = "Memory allocation problem in AllocateIntMatrix";

std::atomic<TableArena*> current_arena{nullptr};

// The same limits as the executables: every count handed on is 32-bit.
bool SizeFits(int64_t count) { return count >= 0 && count <= INT32_MAX; }

// count zeroed bytes, owned by the current arena.
void* AllocateZeroed(size_t count, size_t size, const char* message) {
  void* block = std::calloc(count, size);
  if (block == nullptr) throw TableAllocationFailure(message);
  TableArena* arena = current_arena.load();
  if (arena != nullptr) arena->Adopt(block, message);
  return block;
}

// The message without its line end, as an exception carries it.
[[noreturn]] void ThrowRunFailure(std::string text, int status) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  if (text.rfind("Memory allocation problem", 0) == 0) {
    throw TableAllocationFailure(text == kMatrixFailure ? kMatrixFailure : kArrayFailure);
  }
  throw RunFailure(text, status);
}

}  // namespace

TableArena::~TableArena() {
  for (void* block : blocks_) std::free(block);
}

void TableArena::Adopt(void* block, const char* message) {
  std::lock_guard<std::mutex> hold(lock_);
  try {
    blocks_.push_back(block);
  } catch (const std::bad_alloc&) {
    std::free(block);
    throw TableAllocationFailure(message);
  }
}

CurrentArena::CurrentArena(TableArena* arena) : previous_(current_arena.exchange(arena)) {}

CurrentArena::~CurrentArena() { current_arena.store(previous_); }

void EndRun(const char* text, int status) { ThrowRunFailure(text, status); }

void EndRunFormatted(int status, const char* format, ...) {
  va_list args;
  va_start(args, format);
  char text[512];
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  ThrowRunFailure(text, status);
}

IntArray AllocateIntArray(int64_t n) {
  if (!SizeFits(n) || !SizeFits(n + 1)) throw TableAllocationFailure(kArrayFailure);
  return static_cast<int32_t*>(AllocateZeroed(static_cast<size_t>(n) + 1, sizeof(int32_t), kArrayFailure));
}

IntMatrix AllocateIntMatrix(int64_t rows, int64_t cols) {
  if (!SizeFits(rows) || !SizeFits(rows + 1)) throw TableAllocationFailure(kMatrixFailure);
  if (!SizeFits(cols) || !SizeFits(cols + 1)) throw TableAllocationFailure(kArrayFailure);
  const size_t count = static_cast<size_t>(rows + 1) * static_cast<size_t>(cols + 1);
  auto* cells = static_cast<int32_t*>(AllocateZeroed(count, sizeof(int32_t), kArrayFailure));
  return IntMatrix{cells, static_cast<int32_t>(rows), static_cast<int32_t>(cols)};
}

char* AllocateCharTable(int64_t count) {
  if (count < 0 || static_cast<uint64_t>(count) > SIZE_MAX - 1) throw TableAllocationFailure(kArrayFailure);
  return static_cast<char*>(AllocateZeroed(static_cast<size_t>(count) + 1, 1, kArrayFailure));
}

char* AllocateSequenceBuffer(int64_t n) {
  if (!SizeFits(n) || !SizeFits(n + 2)) throw TableAllocationFailure(kArrayFailure);
  return static_cast<char*>(AllocateZeroed(static_cast<size_t>(n) + 2, 1, kArrayFailure));
}
