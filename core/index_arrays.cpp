#include "core/index_arrays.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "core/failure.h"

namespace {

std::atomic<TableArena*> current_arena{nullptr};

// Every count handed on to later stages is a signed 32-bit integer, so a size
// beyond that range is as unusable as one the allocator refuses.
bool SizeFits(int64_t count) { return count >= 0 && count <= INT32_MAX; }

[[noreturn]] void FailAllocation(const char* message) { throw Failure(FailureKind::kMemory, message); }

// count zeroed elements of size bytes, owned by the current arena if any.
void* AllocateZeroed(size_t count, size_t size, const char* message) {
  void* block = std::calloc(count, size);
  if (block == nullptr) FailAllocation(message);
  TableArena* arena = current_arena.load();
  if (arena != nullptr) arena->Adopt(block, message);
  return block;
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
    FailAllocation(message);
  }
}

CurrentArena::CurrentArena(TableArena* arena) : previous_(current_arena.exchange(arena)) {}

CurrentArena::~CurrentArena() { current_arena.store(previous_); }

IntArray AllocateIntArray(int64_t n) {
  if (!SizeFits(n) || !SizeFits(n + 1)) FailAllocation(kArrayAllocationFailure);
  return static_cast<int32_t*>(
      AllocateZeroed(static_cast<size_t>(n) + 1, sizeof(int32_t), kArrayAllocationFailure));
}

IntMatrix AllocateIntMatrix(int64_t rows, int64_t cols) {
  if (!SizeFits(rows) || !SizeFits(rows + 1)) FailAllocation(kMatrixAllocationFailure);
  if (!SizeFits(cols) || !SizeFits(cols + 1)) FailAllocation(kArrayAllocationFailure);
  // One block holds row 0 (unused) and rows 1..rows.
  const size_t count = static_cast<size_t>(rows + 1) * static_cast<size_t>(cols + 1);
  auto* cells = static_cast<int32_t*>(AllocateZeroed(count, sizeof(int32_t), kArrayAllocationFailure));
  return IntMatrix{cells, static_cast<int32_t>(rows), static_cast<int32_t>(cols)};
}

char* AllocateCharTable(int64_t count) {
  if (count < 0 || static_cast<uint64_t>(count) > SIZE_MAX - 1) FailAllocation(kArrayAllocationFailure);
  return static_cast<char*>(AllocateZeroed(static_cast<size_t>(count) + 1, 1, kArrayAllocationFailure));
}

char* AllocateSequenceBuffer(int64_t n) {
  if (!SizeFits(n) || !SizeFits(n + 2)) FailAllocation(kArrayAllocationFailure);
  return static_cast<char*>(AllocateZeroed(static_cast<size_t>(n) + 2, 1, kArrayAllocationFailure));
}
