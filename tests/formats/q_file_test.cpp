// The Q file writer: row formatting and the threaded block pipeline.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "core/index_arrays.h"
#include "model/feasible_pairs.h"
#include "model/quad_model.h"
#include "model/quad_couplings.h"
#include "model/stack_score.h"
#include "model/stacked_quads.h"
#include "formats/q_file.h"

namespace {

struct Built {
  std::string buffer;
  IntMatrix quads;
  int32_t quad_count;
};

Built BuildQuads(const std::string& letters, int32_t min_distance) {
  Built built{'\0' + letters + '\0', {}, 0};
  const int32_t n = static_cast<int32_t>(letters.size());
  const int32_t pair_count = static_cast<int32_t>(CountFeasiblePairs(built.buffer.data(), n, min_distance));
  const IntMatrix pairs = AllocateIntMatrix(pair_count + 2, 2);
  GenerateFeasiblePairs(built.buffer.data(), n, pairs, min_distance);
  built.quad_count = static_cast<int32_t>(CountNestedPairs(pairs, pair_count));
  built.quads = AllocateIntMatrix(built.quad_count + 1, 4);
  GenerateNestedPairs(pairs, pair_count, built.quads);
  return built;
}

std::string FormatRows(const QuadModel& model, int32_t first, int32_t last) {
  const QFileText conflicts = MakeQFileText(model);
  std::string text(RowsTextBound(model, first, last), '\0');
  text.resize(static_cast<size_t>(FormatQRows(model, conflicts, first, last, text.data()) - text.data()));
  return text;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(FormatQRows, GggcccRowsInEntryOrder) {
  const Built built = BuildQuads("GGGGCCCC", 0);
  const QuadModel model = MakeQuadModel(built.buffer.data(), 8, built.quads, built.quad_count, 1, -7);
  EXPECT_EQ(FormatRows(model, 3, 3), "3  3  33\n3  4  -7\n3  7  16\n3  5  8\n3  6  -7\n3  8  -7\n3  9  -7\n");
  const QuadModel no_chain = MakeQuadModel(built.buffer.data(), 8, built.quads, built.quad_count, 0, 0);
  EXPECT_EQ(FormatRows(no_chain, 3, 3), "3  3  33\n3  4  0\n3  5  8\n3  6  0\n3  8  0\n3  9  0\n");
}

TEST(FormatQRows, AnySplitOfRowsGivesTheSameText) {
  std::mt19937 random(3);
  std::string letters;
  for (int k = 0; k < 120; ++k) letters += "ACGU"[random() % 4];
  const Built built = BuildQuads(letters, 3);
  const QuadModel model = MakeQuadModel(built.buffer.data(), 120, built.quads, built.quad_count, 1, -200);
  ASSERT_GT(built.quad_count, 10);
  const std::string whole = FormatRows(model, 1, built.quad_count);
  for (int32_t split = 1; split < built.quad_count; split += 7) {
    ASSERT_EQ(FormatRows(model, 1, split) + FormatRows(model, split + 1, built.quad_count), whole);
  }
}

// Row l of the matrix written one entry at a time from the definitions.
std::string PlainRows(const QuadModel& model, int32_t first, int32_t last) {
  std::string text;
  auto entry = [&](int32_t l, int32_t m, int32_t value) {
    text += std::to_string(l) + "  " + std::to_string(m) + "  " + std::to_string(value) + "\n";
  };
  for (int32_t l = first; l <= last; ++l) {
    const int32_t* ql = MatrixRow(model.quads, l);
    entry(l, l, StackScore(model.buffer, ql));
    for (int32_t m = l + 1; m <= model.quad_count; ++m) {
      const int32_t* qm = MatrixRow(model.quads, m);
      if (QuadsStackLinked(ql, qm)) {
        const int32_t chain = model.next[m];
        if (model.add_quads != 0 && chain > 0) entry(l, chain, kChainBonusValue);
        entry(l, m, kStackLinkValue);
      }
      if (QuadsConflict(ql, qm)) entry(l, m, model.penalty);
    }
  }
  return text;
}

// Rows over columns of one to five digits, with penalties whose entries fit the
// short copy and ones that need the long one.
TEST(FormatQRows, MatchesEntryByEntryFormatting) {
  std::mt19937 random(21);
  std::string letters;
  for (int k = 0; k < 480; ++k) letters += "GCAUGC"[random() % 6];
  const Built built = BuildQuads(letters, 3);
  ASSERT_GT(built.quad_count, 10000);
  for (int32_t penalty : {-200, 0, INT32_MAX, INT32_MIN}) {
    const QuadModel model = MakeQuadModel(built.buffer.data(), 480, built.quads, built.quad_count,
                                    penalty == 0 ? 0 : 1, penalty);
    for (int32_t first : {1, 9, 95, 990, 9990, built.quad_count - 40}) {
      const int32_t last = std::min(first + 40, built.quad_count);
      ASSERT_EQ(FormatRows(model, first, last), PlainRows(model, first, last)) << penalty << " rows " << first;
    }
  }
}

// The same model written with 1, 2, 3 and 5 threads must give the same bytes; the
// sequence is long enough for the rows to span many blocks.
TEST(WriteQFile, BytesDoNotDependOnTheThreadCount) {
  const auto directory = std::filesystem::temp_directory_path() /
                         ("rnaqubo_q_file_test_" + std::to_string(getpid()));
  std::filesystem::create_directories(directory);
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(directory);

  std::mt19937 random(8);
  std::string letters;
  for (int k = 0; k < 260; ++k) letters += "GCAUGC"[random() % 6];
  const Built built = BuildQuads(letters, 3);
  const QuadModel model = MakeQuadModel(built.buffer.data(), 260, built.quads, built.quad_count, 1, -200);
  const std::string name = QFileName(built.quad_count, "x.txt");

  std::string first;
  for (int threads : {1, 2, 3, 5}) {
    ASSERT_NO_THROW(WriteQFile("x.txt", model, threads));
    const std::string text = ReadFile(name);
    if (threads == 1) {
      first = text;
      EXPECT_EQ(text, "p " + std::to_string(built.quad_count) + " 1\n" +
                          FormatRows(model, 1, built.quad_count) + "-1");
      EXPECT_GT(text.size(), 4u << 20) << "too small to span several blocks";
    } else {
      ASSERT_EQ(text.size(), first.size()) << threads << " threads";
      ASSERT_TRUE(text == first) << threads << " threads";
    }
  }
  std::filesystem::current_path(previous);
  std::filesystem::remove_all(directory);
}

}  // namespace
