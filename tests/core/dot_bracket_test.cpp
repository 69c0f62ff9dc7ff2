// FormatDotBracket against MatchBrackets: every set of pairs over a few
// positions that it writes reads back as the same pairs, and one it refuses
// has a pair that crosses four others.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "core/dot_bracket.h"
#include "core/failure.h"

namespace {

bool Cross(const BasePair& a, const BasePair& b) {
  return (a.i < b.i && b.i < a.j && a.j < b.j) || (b.i < a.i && a.i < b.j && b.j < a.j);
}

// Whether some pair crosses four others at least, as one that finds every
// bracket kind taken must.
bool HasPairCrossingFour(const std::vector<BasePair>& pairs) {
  for (const BasePair& pair : pairs) {
    int crossed = 0;
    for (const BasePair& other : pairs) crossed += Cross(pair, other) ? 1 : 0;
    if (crossed >= 4) return true;
  }
  return false;
}

}  // namespace

TEST(FormatDotBracket, ReadsBackAsTheSamePairs) {
  std::mt19937 random(19);
  int written = 0, refused = 0;
  for (int trial = 0; trial < 20000; ++trial) {
    const int32_t length = 2 + static_cast<int32_t>(random() % 19);
    std::vector<int32_t> positions(static_cast<size_t>(length));
    for (int32_t k = 0; k < length; ++k) positions[static_cast<size_t>(k)] = k + 1;
    std::shuffle(positions.begin(), positions.end(), random);
    const size_t count = random() % (static_cast<size_t>(length) / 2 + 1);
    std::vector<BasePair> pairs;
    for (size_t k = 0; k < count; ++k) {
      const int32_t a = positions[2 * k], b = positions[2 * k + 1];
      pairs.push_back(BasePair{std::min(a, b), std::max(a, b)});
    }
    std::sort(pairs.begin(), pairs.end(), [](const BasePair& x, const BasePair& y) { return x.i < y.i; });
    try {
      const std::string line = FormatDotBracket(pairs, length);
      ASSERT_EQ(line.size(), static_cast<size_t>(length));
      const std::vector<BasePair> back = MatchBrackets(line);
      ASSERT_EQ(back.size(), pairs.size()) << line;
      for (size_t k = 0; k < pairs.size(); ++k) {
        ASSERT_TRUE(back[k].i == pairs[k].i && back[k].j == pairs[k].j) << line;
      }
      ++written;
    } catch (const Failure& failure) {
      // A refused pair crosses a pair of each of the four kinds.
      ASSERT_TRUE(HasPairCrossingFour(pairs)) << failure.what();
      ++refused;
    }
  }
  EXPECT_GT(written, 1000);
  EXPECT_GT(refused, 10);
}

TEST(FormatDotBracket, RefusesPositionsThatCannotPair) {
  EXPECT_THROW(FormatDotBracket({{1, 5}}, 4), Failure);          // past the end
  EXPECT_THROW(FormatDotBracket({{1, 3}, {3, 4}}, 4), Failure);  // paired twice
  EXPECT_THROW(FormatDotBracket({{3, 3}}, 4), Failure);          // with itself
  EXPECT_EQ(FormatDotBracket({}, 3), "...");
}
