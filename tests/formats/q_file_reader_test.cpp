// The Q-file reader's order check: every model's entries, as the writer walks
// them, keep the order, in whole and in pieces cut at row starts; no run of
// entries that keeps it holds a couple twice (brute force over small runs); and
// a repeat whose row lies across the seam of two parts read on two threads is
// found.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/failure.h"
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

// Rows 1..2000 of 1000 entries (r, r + j), about 27 MB, read in two parts: the
// row at the seam steps down early from the bonus column G to the next column
// (G left out of its ascending run), so that each part on its own keeps the
// order; G given again further on, after the seam, must be refused.
TEST(QFileInput, RepeatAcrossTheSeamIsFound) {
  constexpr int32_t kRows = 2000, kWidth = 1000;
  std::vector<int32_t> rows, columns;
  for (int32_t r = 1; r <= kRows; ++r) {
    for (int32_t j = 0; j < kWidth; ++j) rows.push_back(r), columns.push_back(r + j);
  }
  auto text_of = [&](const std::vector<int32_t>& row_of, const std::vector<int32_t>& column_of) {
    std::string text = "p " + std::to_string(kRows + kWidth) + " 1\n";
    for (size_t k = 0; k < row_of.size(); ++k) {
      text += std::to_string(row_of[k]) + "  " + std::to_string(column_of[k]) + "  1\n";
    }
    return text + "-1";
  };
  // The seam is the first line start after the middle of the text.
  const std::string plain = text_of(rows, columns);
  const int64_t seam_line = std::count(plain.begin(), plain.begin() + static_cast<int64_t>(plain.size()) / 2, '\n');
  const int64_t seam = seam_line - 1;  // the entry on the seam's line (entries start on line 2)
  const int32_t row = rows[seam];
  const int64_t row_start = (row - 1) * int64_t{kWidth};
  ASSERT_GT(seam - row_start, 20);
  ASSERT_LT(seam - row_start, kWidth - 40);
  const int32_t bonus = row + kWidth - 10;  // after the seam in the ascending run
  // The bonus moved to just after the row's fifth entry; once more in place.
  auto stepped = [&](bool repeat) {
    std::vector<int32_t> r = rows, c = columns;
    const auto at = c.begin() + row_start + (kWidth - 10);
    if (!repeat) r.erase(r.begin() + (at - c.begin())), c.erase(at);
    r.insert(r.begin() + row_start + 5, row);
    c.insert(c.begin() + row_start + 5, bonus);
    return std::make_pair(r, c);
  };
  const auto directory = std::filesystem::temp_directory_path() / ("rnaqubo_q_reader_test_" + std::to_string(getpid()));
  std::filesystem::create_directories(directory);
  const std::string path = (directory / "q.txt").string();
  for (const bool repeat : {false, true}) {
    const auto [r, c] = stepped(repeat);
    std::ofstream(path, std::ios::binary) << text_of(r, c);
    QFileInput input(path);
    const int64_t capacity = input.Survey(2);
    std::vector<int32_t> got_rows(capacity), got_columns(capacity), values(capacity);
    if (!repeat) {
      ASSERT_EQ(input.ReadEntries(got_rows.data(), got_columns.data(), values.data()), static_cast<int64_t>(r.size()));
      got_rows.resize(r.size()), got_columns.resize(r.size());
      EXPECT_TRUE(got_rows == r && got_columns == c);
      continue;
    }
    const int64_t first_line = row_start + 5 + 2, second_line = row_start + 1 + (kWidth - 10) + 2;
    try {
      input.ReadEntries(got_rows.data(), got_columns.data(), values.data());
      ADD_FAILURE() << "the repeat was not found";
    } catch (const Failure& failure) {
      EXPECT_EQ(std::string(failure.what()), path + ": line " + std::to_string(second_line) + ": the couple " +
                                                 std::to_string(row) + " " + std::to_string(bonus) +
                                                 " is given twice (first on line " + std::to_string(first_line) + ")");
    }
  }
  std::filesystem::remove_all(directory);
}

}  // namespace
