// The Q-file reader's order check: every model's entries, as the writer walks
// them, keep the order, in whole and in pieces cut at row starts; and no run of
// entries that keeps it holds a couple twice (brute force over small runs).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/index_arrays.h"
#include "formats/q_file_reader.h"
#include "model/quad_model.h"
#include "model/row_entries.h"

namespace {

struct Entries {
  std::vector<int32_t> rows, columns;
  void Entry(int32_t row, int32_t column, int32_t) {
    rows.push_back(row);
    columns.push_back(column);
  }
};

TEST(KeepsWriterOrder, EveryModelsEntriesKeepIt) {
  std::mt19937 random(11);
  int32_t steps_down = 0;
  for (int trial = 0; trial < 40; ++trial) {
    const int32_t n = 8 + static_cast<int32_t>(random() % 40);
    char* buffer = AllocateSequenceBuffer(n);
    for (int32_t k = 1; k <= n; ++k) buffer[k] = "GGGCCCAU"[random() % 8];
    const QuadModel model = BuildQuadModel(buffer, n, static_cast<int32_t>(random() % 4),
                                           static_cast<int32_t>(random() % 2), -200);
    Entries entries;
    uint8_t flags[kFlagChunk];
    for (int32_t l = 1; l <= model.quad_count; ++l) WalkRowEntryCalls(model, l, flags, entries);
    const int64_t count = static_cast<int64_t>(entries.rows.size());
    ASSERT_TRUE(KeepsWriterOrder(entries.rows.data(), entries.columns.data(), 0, count)) << trial;
    for (int64_t k = 1; k < count; ++k) {
      if (entries.rows[k] == entries.rows[k - 1] && entries.columns[k] < entries.columns[k - 1]) ++steps_down;
      if (entries.rows[k] == entries.rows[k - 1]) continue;
      // Cut at this row start: both pieces keep the order on their own.
      EXPECT_TRUE(KeepsWriterOrder(entries.rows.data(), entries.columns.data(), 0, k));
      EXPECT_TRUE(KeepsWriterOrder(entries.rows.data(), entries.columns.data(), k, count));
    }
  }
  EXPECT_GT(steps_down, 0);  // chain bonuses came up: the step down was tried
}

TEST(KeepsWriterOrder, NoRunThatKeepsItRepeatsACouple) {
  // Runs of 2 to 9 entries over rows 1..2 and columns 1..6, mostly ascending
  // with a step down here and there: each run the check lets through is free of
  // repeats, and runs with a step down and with repeats both come up.
  std::mt19937 random(12);
  int32_t kept_with_step = 0, refused_repeats = 0;
  for (int trial = 0; trial < 200000; ++trial) {
    const int32_t size = 2 + static_cast<int32_t>(random() % 8);
    std::vector<int32_t> rows(size), columns(size);
    int32_t row = 1, column = 1;
    for (int32_t k = 0; k < size; ++k) {
      if (random() % 5 == 0) row = 1 + static_cast<int32_t>(random() % 2);
      column = random() % 3 == 0 ? 1 + static_cast<int32_t>(random() % 6) : column + 1 + static_cast<int32_t>(random() % 2);
      rows[k] = row;
      columns[k] = column;
    }
    std::set<std::pair<int32_t, int32_t>> seen;
    bool repeats = false, step = false;
    for (int32_t k = 0; k < size; ++k) {
      repeats = !seen.insert({rows[k], columns[k]}).second || repeats;
      step = step || (k > 0 && rows[k] == rows[k - 1] && columns[k] < columns[k - 1]);
    }
    const bool kept = KeepsWriterOrder(rows.data(), columns.data(), 0, size);
    ASSERT_FALSE(kept && repeats) << "trial " << trial;
    kept_with_step += kept && step;
    refused_repeats += repeats;
  }
  EXPECT_GT(kept_with_step, 1000);
  EXPECT_GT(refused_repeats, 1000);
}

}  // namespace
