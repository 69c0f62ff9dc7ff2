// The number of threads for the work on large models, the one split of a range
// of work into parts for them, and the one way of running the parts.
#pragma once

#include <cstdint>
#include <exception>
#include <thread>
#include <vector>

// One thread per core the system reports, and 1 when it reports none.
int CountWorkThreads();

// The items begin..end - 1, whose work adds up to total, split into up to
// parts consecutive parts of about equal share: locate(share) gives, for each
// share total * p / parts (p = 1..parts - 1, ascending), the first item of the
// part beginning there (non-decreasing in share). Returns the first item of each
// non-empty part, then end; just {end} for an empty range.
template <typename Locate>
std::vector<int64_t> SplitWork(int64_t begin, int64_t end, int64_t total, int64_t parts, Locate locate) {
  std::vector<int64_t> starts;
  if (begin >= end) return {end};
  starts.push_back(begin);
  for (int64_t p = 1; p < parts; ++p) {
    const int64_t start = locate(total / parts * p + total % parts * p / parts);
    if (start > starts.back() && start < end) starts.push_back(start);
  }
  starts.push_back(end);
  return starts;
}

// Runs work(k) for k = 0..count - 1, all but the first on threads of their own
// (on this one if a thread cannot start). Returns what each one threw, if
// anything. Both lists are reserved before any thread starts, so that nothing
// can throw while a thread is running unjoined.
template <typename Work>
std::vector<std::exception_ptr> RunEach(size_t count, Work work) {
  std::vector<std::exception_ptr> failures(count);
  auto guarded = [&work, &failures](size_t k) {
    try {
      work(k);
    } catch (...) {
      failures[k] = std::current_exception();
    }
  };
  std::vector<std::thread> helpers;
  std::vector<size_t> left_over;
  helpers.reserve(count);
  left_over.reserve(count);
  for (size_t k = 1; k < count; ++k) {
    try {
      helpers.emplace_back(guarded, k);
    } catch (const std::exception&) {  // std::system_error, or no memory for the thread
      left_over.push_back(k);
    }
  }
  if (count > 0) guarded(0);
  for (size_t k : left_over) guarded(k);
  for (std::thread& helper : helpers) helper.join();
  return failures;
}

// Rethrows the first of failures that holds an exception, if any.
void RethrowFirst(const std::vector<std::exception_ptr>& failures);
