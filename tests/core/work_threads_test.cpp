// The one split of work into parts for threads, and the runner of the parts.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "core/work_threads.h"

namespace {

// Items of unit work: the share is the item's offset from begin.
std::vector<int64_t> SplitUnits(int64_t begin, int64_t end, int64_t parts) {
  return SplitWork(begin, end, end - begin, parts, [begin](int64_t share) { return begin + share; });
}

TEST(SplitWork, EqualSharesWithoutEmptyParts) {
  struct Case {
    int64_t begin, end, parts;
    std::vector<int64_t> starts;
  };
  const Case cases[] = {
      {1, 1, 4, {1}},                    // nothing to split
      {1, 2, 4, {1, 2}},                 // fewer items than parts: no empty part
      {0, 10, 1, {0, 10}},
      {0, 10, 3, {0, 3, 6, 10}},
      {5, 9, 4, {5, 6, 7, 8, 9}},
      {0, 3, 0, {0, 3}},                 // no thread count: one part
      {0, INT64_MAX, 2, {0, INT64_MAX / 2, INT64_MAX}},  // no overflow in the shares
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SplitUnits(c.begin, c.end, c.parts), c.starts) << c.begin << ".." << c.end << " in " << c.parts;
  }
  // A locate that lands on one boundary for several shares, or past the end,
  // leaves out the parts that would be empty.
  EXPECT_EQ(SplitWork(0, 10, 10, 5, [](int64_t share) { return share < 6 ? int64_t{2} : int64_t{12}; }),
            (std::vector<int64_t>{0, 2, 10}));
}

TEST(RunEach, RunsEveryPartOnceAndKeepsEachFailure) {
  std::vector<std::atomic<int>> runs(6);
  const std::vector<std::exception_ptr> failures = RunEach(runs.size(), [&runs](size_t k) {
    ++runs[k];
    if (k % 2 == 1) throw std::runtime_error("part " + std::to_string(k));
  });
  for (size_t k = 0; k < runs.size(); ++k) {
    EXPECT_EQ(runs[k], 1);
    EXPECT_EQ(failures[k] != nullptr, k % 2 == 1);
  }
  EXPECT_THROW(
      try { RethrowFirst(failures); } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "part 1");
        throw;
      },
      std::runtime_error);
}

}  // namespace
