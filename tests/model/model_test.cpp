// Pairs, quads, stacking scores and couplings.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/index_arrays.h"
#include "model/feasible_pairs.h"
#include "model/quad_model.h"
#include "model/quad_couplings.h"
#include "model/stack_score.h"
#include "model/stacked_quads.h"

namespace {

// A sequence buffer: zero, the letters, zero.
std::string Buffer(const std::string& letters) { return '\0' + letters + '\0'; }

struct Model {
  std::string buffer;
  IntMatrix pairs;
  int32_t pair_count;
  IntMatrix quads;
  int32_t quad_count;
};

Model Build(const std::string& letters, int32_t min_distance) {
  Model model{Buffer(letters), {}, 0, {}, 0};
  const int32_t n = static_cast<int32_t>(letters.size());
  model.pair_count = static_cast<int32_t>(CountFeasiblePairs(model.buffer.data(), n, min_distance));
  model.pairs = AllocateIntMatrix(model.pair_count + 2, 2);
  EXPECT_EQ(GenerateFeasiblePairs(model.buffer.data(), n, model.pairs, min_distance), model.pair_count);
  model.quad_count = static_cast<int32_t>(CountNestedPairs(model.pairs, model.pair_count));
  model.quads = AllocateIntMatrix(model.quad_count + 1, 4);
  EXPECT_EQ(GenerateNestedPairs(model.pairs, model.pair_count, model.quads), model.quad_count);
  return model;
}

std::vector<std::vector<int32_t>> Rows(IntMatrix table, int32_t count, int width) {
  std::vector<std::vector<int32_t>> rows;
  for (int32_t r = 1; r <= count; ++r) rows.emplace_back(MatrixRow(table, r), MatrixRow(table, r) + width);
  return rows;
}

std::string RandomLetters(std::mt19937* random, int length, const char* alphabet) {
  std::string letters;
  const size_t size = std::string(alphabet).size();
  for (int k = 0; k < length; ++k) letters += alphabet[(*random)() % size];
  return letters;
}

TEST(PairingWindow, DependsOnLengthOnly) {
  EXPECT_EQ(PairingWindowWidth(1), 1);
  EXPECT_EQ(PairingWindowWidth(500), 500);
  EXPECT_EQ(PairingWindowWidth(501), 200);
  EXPECT_EQ(PairingWindowWidth(900), 200);
  EXPECT_EQ(PairingWindowWidth(901), 150);
  EXPECT_EQ(PairingWindowWidth(30000), 150);
}

TEST(CanPair, ExactlySixCouples) {
  int pairing = 0;
  for (char x : std::string("ACGU")) {
    for (char y : std::string("ACGU")) pairing += CanPair(x, y);
  }
  EXPECT_EQ(pairing, 6);
  EXPECT_TRUE(CanPair('A', 'U') && CanPair('U', 'A') && CanPair('G', 'C') && CanPair('C', 'G') &&
              CanPair('G', 'U') && CanPair('U', 'G'));
  EXPECT_FALSE(CanPair('\0', 'U') || CanPair('a', 'u'));
}

TEST(FeasiblePairs, FollowDistanceAndWindow) {
  EXPECT_EQ(Rows(Build("GGAAC", 0).pairs, 2, 2), (std::vector<std::vector<int32_t>>{{1, 5}, {2, 5}}));
  EXPECT_EQ(Build("GGAAC", 3).pair_count, 1);
  EXPECT_EQ(Build("GGAAC", 4).pair_count, 0);
  EXPECT_EQ(Build("ACACCAAC", 0).pair_count, 0);
  // Every minimum distance of zero or below admits the same pairs.
  EXPECT_EQ(Build("GCGUAUGC", 0).pair_count, Build("GCGUAUGC", -7).pair_count);
  EXPECT_EQ(Build("GC", 0).pair_count, 1);
  EXPECT_EQ(Build("GC", INT32_MAX).pair_count, 0);

  // n = 501: a G at 1 reaches a C at 201 (distance 200) but not one at 202.
  std::string letters(501, 'A');
  letters[0] = 'G';
  letters[200] = 'C';
  letters[201] = 'C';
  const Model wide = Build(letters, 0);
  EXPECT_EQ(Rows(wide.pairs, wide.pair_count, 2), (std::vector<std::vector<int32_t>>{{1, 201}}));
}

TEST(StackedQuads, AreNumberedByOuterPair) {
  const Model model = Build("GGGCCC", 0);
  EXPECT_EQ(model.pair_count, 9);
  EXPECT_EQ(Rows(model.quads, model.quad_count, 4),
            (std::vector<std::vector<int32_t>>{{1, 5, 2, 4}, {1, 6, 2, 5}, {2, 5, 3, 4}, {2, 6, 3, 5}}));
  EXPECT_EQ(MatrixRow(model.quads, model.quad_count + 1)[0], 0) << "the margin row stays zero";
  EXPECT_EQ(Build("GGACC", 0).quad_count, 1);
  EXPECT_EQ(Build("GGACC", 2).quad_count, 0);
  EXPECT_EQ(Build("GC", 0).quad_count, 0);
}

TEST(StackedQuads, MatchEveryPairAgainstEveryLaterPair) {
  std::mt19937 random(11);
  for (int trial = 0; trial < 60; ++trial) {
    const std::string letters = RandomLetters(&random, 1 + static_cast<int>(random() % 160),
                                              trial % 2 ? "ACGU" : "GCGCU");
    const Model model = Build(letters, static_cast<int32_t>(random() % 6) - 1);
    std::vector<std::vector<int32_t>> expected;
    for (int32_t r = 1; r <= model.pair_count; ++r) {
      for (int32_t b = r + 1; b <= model.pair_count; ++b) {
        const int32_t* outer = MatrixRow(model.pairs, r);
        const int32_t* inner = MatrixRow(model.pairs, b);
        if (inner[0] == outer[0] + 1 && inner[1] == outer[1] - 1) {
          expected.push_back({outer[0], outer[1], inner[0], inner[1]});
        }
      }
    }
    ASSERT_EQ(Rows(model.quads, model.quad_count, 4), expected) << letters;
  }
}

TEST(StackScore, TableExamplesAndStrandSymmetry) {
  EXPECT_EQ(StackScoreOfLetters('G', 'C', 'G', 'C'), 33);
  EXPECT_EQ(StackScoreOfLetters('G', 'U', 'U', 'G'), -13);
  EXPECT_EQ(StackScoreOfLetters('U', 'G', 'G', 'U'), -3);
  EXPECT_EQ(StackScoreOfLetters('G', 'C', 'U', 'G'), 25);
  EXPECT_EQ(StackScoreOfLetters('G', 'U', 'C', 'G'), 25);
  EXPECT_EQ(StackScoreOfLetters('A', 'U', 'G', 'U'), 6);
  EXPECT_EQ(StackScoreOfLetters('U', 'G', 'U', 'A'), 6);
  EXPECT_EQ(StackScoreOfLetters('C', 'G', 'A', 'U'), 21);
  EXPECT_EQ(StackScoreOfLetters('A', 'U', 'C', 'G'), 22);
  const char* kinds[] = {"AU", "CG", "GC", "GU", "UA", "UG"};
  int distinct_from_zero = 0;
  for (const char* outer : kinds) {
    for (const char* inner : kinds) {
      // Read from the other strand, outer xy with inner zw is outer wz with inner yx.
      EXPECT_EQ(StackScoreOfLetters(outer[0], outer[1], inner[0], inner[1]),
                StackScoreOfLetters(inner[1], inner[0], outer[1], outer[0]))
          << outer << "/" << inner;
      distinct_from_zero += StackScoreOfLetters(outer[0], outer[1], inner[0], inner[1]) != 0;
    }
  }
  EXPECT_EQ(distinct_from_zero, 36);
  const std::string buffer = Buffer("GGACC");
  const int32_t quad[4] = {1, 5, 2, 4};
  EXPECT_EQ(StackScore(buffer.data(), quad), 33);
}

TEST(QuadsConflict, SharedPositionsAndCrossingPairs) {
  const int32_t q[10][4] = {{0, 0, 0, 0},   {1, 6, 2, 5}, {1, 7, 2, 6}, {1, 8, 2, 7}, {2, 6, 3, 5},
                            {2, 7, 3, 6},   {2, 8, 3, 7}, {3, 6, 4, 5}, {3, 7, 4, 6}, {3, 8, 4, 7}};
  EXPECT_TRUE(QuadsConflict(q[1], q[2]));   // both start at 1
  EXPECT_TRUE(QuadsConflict(q[1], q[4]));   // both use 6
  EXPECT_TRUE(QuadsConflict(q[1], q[9]));   // (1, 6) and (3, 8) cross
  EXPECT_TRUE(QuadsConflict(q[3], q[4]));   // shares the inner start, not the stack
  EXPECT_TRUE(QuadsConflict(q[2], q[7]));   // both use 6 on the inner side
  EXPECT_FALSE(QuadsConflict(q[3], q[7]));  // nested
  for (auto [l, m] : {std::pair{2, 4}, {3, 5}, {5, 7}, {6, 8}}) {
    EXPECT_TRUE(QuadsStackLinked(q[l], q[m]));
    EXPECT_FALSE(QuadsConflict(q[l], q[m])) << "a stack link is never a conflict";
  }
  const int32_t outer[4] = {1, 20, 2, 19};
  const int32_t nested[4] = {5, 10, 6, 9};
  const int32_t sharing[4] = {5, 19, 6, 18};
  const int32_t beside_a[4] = {1, 6, 2, 5};
  const int32_t beside_b[4] = {8, 14, 9, 13};
  EXPECT_FALSE(QuadsConflict(outer, nested));
  EXPECT_TRUE(QuadsConflict(outer, sharing));
  EXPECT_FALSE(QuadsConflict(beside_a, beside_b));
}

// The branch-free form must answer as the ordered tests do for any positions,
// including ties and out-of-order pairs the ordered tests settle by their order.
TEST(QuadsConflict, BranchFreeFormAgreesOnEveryTuple) {
  std::mt19937 random(11);
  for (int trial = 0; trial < 400000; ++trial) {
    int32_t l[4], m[4];
    for (int k = 0; k < 4; ++k) {
      l[k] = static_cast<int32_t>(random() % 7);
      m[k] = static_cast<int32_t>(random() % 7);
    }
    ASSERT_EQ(QuadsConflictFlag(l[0], l[1], l[2], l[3], m[0], m[1], m[2], m[3]), QuadsConflict(l, m) ? 1 : 0)
        << l[0] << " " << l[1] << " " << l[2] << " " << l[3] << " / " << m[0] << " " << m[1] << " " << m[2]
        << " " << m[3];
  }
}

// The fast coupling loop looks only at rows up to LastCouplingRow and finds stack
// partners by lookup: check both against the plain definitions on random models.
TEST(Couplings, LookupsAgreeWithTheFullScan) {
  std::mt19937 random(5);
  for (int trial = 0; trial < 40; ++trial) {
    const std::string letters = RandomLetters(&random, 1 + static_cast<int>(random() % 600),
                                              trial % 3 ? "ACGU" : "GGCCAU");
    const int32_t n = static_cast<int32_t>(letters.size());
    const Model model = Build(letters, static_cast<int32_t>(random() % 5));
    const IntArray first_row = IndexQuadsByPosition(model.quads, model.quad_count, n);
    const IntArray next = LinkStackedQuads(model.quads, model.quad_count, first_row);
    const QuadColumns columns = SplitQuadColumns(model.quads, model.quad_count);
    for (int32_t l = 1; l <= model.quad_count; ++l) {
      const int32_t* ql = MatrixRow(model.quads, l);
      const int32_t found = FindQuad(ql[2], ql[3], 1, model.quad_count, model.quads);
      ASSERT_EQ(next[l], found > 0 ? found : 0) << letters << " row " << l;
      const int32_t last = LastCouplingRow(ql, first_row);
      ASSERT_GE(last, l);
      std::vector<uint8_t> flags(static_cast<size_t>(last - l) + 1, 2);
      FlagQuadConflicts(ql, columns, l + 1, last, flags.data());
      for (int32_t m = l + 1; m <= last; ++m) {
        ASSERT_EQ(flags[static_cast<size_t>(m - l - 1)], QuadsConflict(ql, MatrixRow(model.quads, m)) ? 1 : 0)
            << letters << " " << l << "," << m;
      }
      ASSERT_EQ(flags.back(), 2) << "wrote past the last row";
      for (int32_t m = last + 1; m <= model.quad_count; ++m) {
        const int32_t* qm = MatrixRow(model.quads, m);
        ASSERT_FALSE(QuadsConflict(ql, qm) || QuadsStackLinked(ql, qm)) << letters << " " << l << "," << m;
      }
      if (last < model.quad_count) {
        ASSERT_GT(MatrixRow(model.quads, last + 1)[0], ql[1]);
      }
    }
  }
}

TEST(FindQuad, ScansTheGivenRowsOnly) {
  const Model model = Build("GGGCCC", 0);
  EXPECT_EQ(FindQuad(2, 5, 1, 4, model.quads), 3);
  EXPECT_EQ(FindQuad(2, 5, 4, 4, model.quads), -1);
  EXPECT_EQ(FindQuad(2, 5, 3, 2, model.quads), -1);
  EXPECT_EQ(FindQuad(3, 4, 1, 4, model.quads), -1);
}

}  // namespace

// penalty <= -bound over the whole int32 range, bound 0 included (a model
// without quads is certified by any penalty that is not positive).
TEST(PenaltyCertifies, AtZeroAndAtTheLimits) {
  struct Case {
    int32_t penalty, bound;
    bool certified;
  };
  const Case cases[] = {
      {0, 0, true},          {-1, 0, true},         {1, 0, false},
      {-5, 5, true},         {-4, 5, false},        {-6, 5, true},
      {INT32_MIN, 0, true},  {INT32_MAX, 0, false}, {INT32_MIN, INT32_MAX, true},
      {-INT32_MAX, INT32_MAX, true}, {-INT32_MAX + 1, INT32_MAX, false}, {INT32_MAX, INT32_MAX, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PenaltyCertifies(c.penalty, c.bound), c.certified) << c.penalty << " against " << c.bound;
  }
}
