#include "core/work_threads.h"

#include <thread>

int CountWorkThreads() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : static_cast<int>(cores);
}
