#include "core/work_threads.h"

#include <thread>

int CountWorkThreads() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : static_cast<int>(cores);
}

void RethrowFirst(const std::vector<std::exception_ptr>& failures) {
  for (const std::exception_ptr& failure : failures) {
    if (failure) std::rethrow_exception(failure);
  }
}
