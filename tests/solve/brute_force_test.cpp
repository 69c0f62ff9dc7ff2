// The exact optimum against every selection of small models, read back from the
// Q file text that rnaqubo writes for them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "solve/optimum.h"
#include "model/quad_model.h"
#include "model/row_entries.h"
#include "formats/q_file.h"
#include "formats/entry_arrays.h"
#include "tests/solve/random_letters.h"

namespace {

// The Q file of a model as rnaqubo formats it, as a dense table: entry[l][m]
// for l <= m, and which couples carry the penalty entry.
struct QFileTable {
  int32_t size = 0;
  std::vector<std::vector<int64_t>> entry;
  std::vector<std::vector<bool>> conflict;
};

QFileTable ReadQRows(const QuadModel& model) {
  const QFileText writer = MakeQFileText(model);
  std::string text(RowsTextBound(model, 1, model.quad_count), '\0');
  text.resize(static_cast<size_t>(FormatQRows(model, writer, 1, model.quad_count, text.data()) - text.data()));
  QFileTable table;
  table.size = model.quad_count;
  table.entry.assign(table.size + 1, std::vector<int64_t>(table.size + 1, 0));
  table.conflict.assign(table.size + 1, std::vector<bool>(table.size + 1, false));
  std::istringstream lines(text);
  int64_t l, m, value;
  std::set<std::pair<int64_t, int64_t>> seen;
  while (lines >> l >> m >> value) {
    EXPECT_TRUE(seen.insert({l, m}).second) << "entry written twice: " << l << " " << m;
    table.entry[l][m] = value;
    // The penalties used here differ from every score, link and bonus value.
    if (l != m && value == model.penalty) table.conflict[l][m] = true;
  }
  return table;
}

// One entry of the Q file: row, column, value.
using Entry = std::tuple<int32_t, int32_t, int64_t>;

// The entries of the Q file text of model, in the text's order, formatted in
// blocks of rows that start at every row in starts (then quad_count + 1).
std::vector<Entry> ParseQRows(const QuadModel& model, const std::vector<int32_t>& starts) {
  const QFileText conflicts = MakeQFileText(model);
  std::vector<Entry> entries;
  std::string text;
  for (size_t b = 0; b + 1 < starts.size(); ++b) {
    text.resize(RowsTextBound(model, starts[b], starts[b + 1] - 1));
    text.resize(static_cast<size_t>(FormatQRows(model, conflicts, starts[b], starts[b + 1] - 1, text.data()) -
                                    text.data()));
    std::istringstream lines(text);
    int64_t l, m, value;
    while (lines >> l >> m >> value) entries.emplace_back(static_cast<int32_t>(l), static_cast<int32_t>(m), value);
  }
  return entries;
}

// The entries as the Python module gives them (RowEntryOffsets, FillAllEntries
// on threads threads), variables from 1, values as in the Q file.
std::vector<Entry> ModuleEntries(const QuadModel& model, int threads) {
  const std::vector<int64_t> offsets = RowEntryOffsets(model, threads);
  const size_t total = static_cast<size_t>(offsets.back());
  std::vector<int32_t> rows(total, -1), columns(total, -1), values(total, -1);
  FillAllEntries(model, offsets, 0, false, threads, rows.data(), columns.data(), values.data());
  std::vector<Entry> entries;
  for (size_t k = 0; k < total; ++k) entries.emplace_back(rows[k], columns[k], values[k]);
  return entries;
}

// The Q file's value of a selection and its count of conflicting couples.
std::pair<int64_t, int64_t> QFileValue(const QFileTable& table, const std::vector<uint8_t>& chosen) {
  int64_t value = 0, conflicts = 0;
  for (int32_t l = 1; l <= table.size; ++l) {
    if (!chosen[l]) continue;
    for (int32_t m = l; m <= table.size; ++m) {
      if (!chosen[m]) continue;
      value += table.entry[l][m];
      conflicts += table.conflict[l][m];
    }
  }
  return {value, conflicts};
}

// Every selection visited in Gray code order: the best value of all, and the
// best value among the conflict-free ones.
std::pair<int64_t, int64_t> BruteForceMaxima(const QFileTable& table) {
  const int32_t q = table.size;
  std::vector<int64_t> diagonal(q);
  std::vector<std::vector<int64_t>> coupling(q, std::vector<int64_t>(q, 0));
  std::vector<uint32_t> conflict_mask(q, 0);
  for (int32_t l = 0; l < q; ++l) {
    diagonal[l] = table.entry[l + 1][l + 1];
    for (int32_t m = l + 1; m < q; ++m) {
      coupling[l][m] = coupling[m][l] = table.entry[l + 1][m + 1];
      if (table.conflict[l + 1][m + 1]) {
        conflict_mask[l] |= 1u << m;
        conflict_mask[m] |= 1u << l;
      }
    }
  }
  uint32_t mask = 0;
  int64_t value = 0, conflicts = 0, best_all = 0, best_free = 0;
  for (uint64_t step = 1; step < (uint64_t{1} << q); ++step) {
    const int32_t v = __builtin_ctzll(step);
    const uint32_t others = mask & ~(1u << v);
    int64_t delta = diagonal[v];
    for (uint32_t rest = others; rest != 0; rest &= rest - 1) delta += coupling[v][__builtin_ctz(rest)];
    const int64_t conflict_delta = __builtin_popcount(others & conflict_mask[v]);
    const bool adding = ((mask >> v) & 1u) == 0;
    mask ^= 1u << v;
    value += adding ? delta : -delta;
    conflicts += adding ? conflict_delta : -conflict_delta;
    best_all = std::max(best_all, value);
    if (conflicts == 0) best_free = std::max(best_free, value);
  }
  return {best_all, best_free};
}

// The pairs of a dot-bracket string, matched as nested brackets; fails on an
// unbalanced string.
std::set<std::pair<int32_t, int32_t>> BracketPairs(const std::string& text) {
  std::set<std::pair<int32_t, int32_t>> pairs;
  std::vector<int32_t> open;
  for (int32_t p = 1; p <= static_cast<int32_t>(text.size()); ++p) {
    if (text[p - 1] == '(') open.push_back(p);
    if (text[p - 1] == ')') {
      EXPECT_FALSE(open.empty()) << text;
      if (open.empty()) return pairs;
      pairs.insert({open.back(), p});
      open.pop_back();
    }
  }
  EXPECT_TRUE(open.empty()) << text;
  return pairs;
}

int CaseCount() {
  const char* text = std::getenv("FOLD_BRUTE_CASES");
  return text != nullptr ? std::max(1, std::atoi(text)) : 400;
}

TEST(FoldOptimum, EqualsTheBruteForceMaximumOfSmallModels) {
  std::mt19937 random(20261208);
  const int32_t penalties[] = {-200, -83, -50, 0};
  int checked = 0, large = 0, weak_penalty_gap = 0;
  while (checked < CaseCount()) {
    const std::string letters = RandomSequence(&random);
    const int32_t min_distance = static_cast<int32_t>(random() % 6) - 1;
    const int32_t add_quads = static_cast<int32_t>(random() % 2);
    const int32_t penalty = penalties[checked % 4];
    const std::string buffer = '\0' + letters + '\0';
    const int32_t n = static_cast<int32_t>(letters.size());
    const QuadModel model = BuildQuadModel(buffer.data(), n, min_distance, add_quads, penalty);
    if (model.quad_count > 20 || model.quad_count == 0) continue;
    ++checked;
    large += model.quad_count >= 12;
    SCOPED_TRACE(letters + " min_distance " + std::to_string(min_distance) + " add_quads " +
                 std::to_string(add_quads) + " penalty " + std::to_string(penalty));

    const QFileTable table = ReadQRows(model);
    const auto [best_all, best_free] = BruteForceMaxima(table);
    std::vector<uint8_t> chosen(model.quad_count + 1, 7);
    const int64_t value = FoldOptimum(model, chosen.data());
    ASSERT_EQ(value, best_free);
    const auto [chosen_value, chosen_conflicts] = QFileValue(table, chosen);
    ASSERT_EQ(chosen_value, value);
    ASSERT_EQ(chosen_conflicts, 0);

    const int32_t bound = QuadModelBound(model);
    if (penalty <= -83 || penalty <= -bound) {
      ASSERT_EQ(best_all, value) << "bound " << bound;
    }
    weak_penalty_gap += best_all > value;

    // The dot-bracket shows exactly the pairs of the chosen quads.
    std::string dot_bracket(n + 1, '?');
    WriteDotBracket(model, chosen.data(), dot_bracket.data());
    ASSERT_EQ(dot_bracket.back(), '\0');
    dot_bracket.pop_back();
    std::set<std::pair<int32_t, int32_t>> quad_pairs;
    for (int32_t q = 1; q <= model.quad_count; ++q) {
      if (!chosen[q]) continue;
      const int32_t* quad = MatrixRow(model.quads, q);
      quad_pairs.insert({quad[0], quad[1]});
      quad_pairs.insert({quad[2], quad[3]});
    }
    ASSERT_EQ(BracketPairs(dot_bracket), quad_pairs) << dot_bracket;

    // Any selection, conflicting or not: value, conflict count and the list of
    // conflicting couples agree with the Q file.
    for (int trial = 0; trial < 12; ++trial) {
      std::vector<uint8_t> any(model.quad_count + 1, 0);
      const uint32_t density = 1 + random() % 4;
      for (int32_t q = 1; q <= model.quad_count; ++q) any[q] = random() % 5 < density;
      int64_t conflicts = -1;
      const int64_t any_value = SelectionValue(model, any.data(), &conflicts);
      ASSERT_EQ(std::make_pair(any_value, conflicts), QFileValue(table, any));
      std::vector<std::pair<int32_t, int32_t>> listed, expected;
      for (const QuadCouple& couple : ListSelectionConflicts(model, any.data())) listed.push_back({couple.l, couple.m});
      for (int32_t l = 1; l <= model.quad_count; ++l) {
        for (int32_t m = l + 1; m <= model.quad_count; ++m) {
          if (any[l] && any[m] && table.conflict[l][m]) expected.push_back({l, m});
        }
      }
      ASSERT_EQ(listed, expected);
    }
  }
  // The mix must reach models big enough to matter, and weak penalties must
  // show at least once that the whole model can beat the conflict-free optimum.
  if (CaseCount() >= 300) {
    EXPECT_GE(large, CaseCount() / 10);
    EXPECT_GT(weak_penalty_gap, 0);
  }
}

// Every reader of the entry order agrees with the Q file text: the module's
// arrays hold the text's entries in the text's order, whatever the blocks and
// threads, on small models and on models whose rows span several conflict
// chunks (more than kFlagChunk later quads).
TEST(RowEntries, ModuleArraysFollowTheQFileText) {
  std::mt19937 random(20261209);
  int long_rows = 0;
  for (int trial = 0; trial < 160; ++trial) {
    const bool large = trial % 80 == 79;
    std::string letters = RandomSequence(&random);
    if (large) {
      letters.clear();
      for (int k = 0; k < 200 + trial % 40; ++k) letters += "GCAUGC"[random() % 6];
    }
    const int32_t min_distance = static_cast<int32_t>(random() % 6) - 1;
    const int32_t add_quads = static_cast<int32_t>(random() % 2);
    const int32_t penalty = trial % 3 == 0 ? 0 : -200;
    const std::string buffer = '\0' + letters + '\0';
    const QuadModel model =
        BuildQuadModel(buffer.data(), static_cast<int32_t>(letters.size()), min_distance, add_quads, penalty);
    SCOPED_TRACE(letters.substr(0, 40) + " min_distance " + std::to_string(min_distance) + " add_quads " +
                 std::to_string(add_quads));
    for (int32_t l = 1; l <= model.quad_count; ++l) long_rows += LastRowCandidate(model, l) - l > kFlagChunk;
    std::vector<int32_t> starts{1};
    for (int32_t l = 2; l <= model.quad_count; ++l) {
      if (random() % 5 == 0) starts.push_back(l);
    }
    starts.push_back(model.quad_count + 1);
    const std::vector<Entry> text = ParseQRows(model, {1, model.quad_count + 1});
    ASSERT_EQ(ParseQRows(model, starts), text);
    ASSERT_EQ(ModuleEntries(model, 1), text);
    ASSERT_EQ(ModuleEntries(model, 1 + trial % 3), text);
  }
  EXPECT_GT(long_rows, 0) << "no row crossed a chunk boundary";
}

}  // namespace
