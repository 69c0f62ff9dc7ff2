// Reading a reference structure, scoring against it, finding conflicting pairs and
// writing the arc diagram file.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "core/failure.h"
#include "structure/arc_diagram.h"
#include "structure/external_program.h"
#include "structure/reference_structure.h"

namespace {

// The pairs as "i-j " items, in order.
std::string PairText(const std::vector<BasePair>& pairs) {
  std::string text;
  for (const BasePair& pair : pairs) text += std::to_string(pair.i) + "-" + std::to_string(pair.j) + " ";
  return text;
}

TEST(ParseReferenceStructure, AcceptsTheFormsAndRefusesWhatDoesNotFit) {
  const std::string sequence = "GGGAAACCCUUAGCUA";  // 16 bases
  const std::string buffer = '\0' + sequence + '\0';
  const struct {
    const char* text;
    const char* result;  // the pairs as PairText, or the error after "ref.dbn: "
    const char* name;
  } cases[] = {
      {"(((...)))..((..))\n", "line 1: the structure has 17 characters, the folded sequence 16 bases", ""},
      {"(((...)))...(..)\n", "1-9 2-8 3-7 13-16 ", ""},
      {"(((...)))...(..)", "1-9 2-8 3-7 13-16 ", ""},
      {"\n  \n(((...)))...(..)  \r\n\r\n", "1-9 2-8 3-7 13-16 ", ""},
      {">tiny one\r\nGGGAAACCCUUAGCUA\r\n(((...)))...(..)\r\n", "1-9 2-8 3-7 13-16 ", "tiny one"},
      {">x\nggGaaaCCCTTagcua\n(((...)))...(..) (-12.30)\n", "1-9 2-8 3-7 13-16 ", "x"},
      {"GGGAAACCCUUAGCUA\n(((...)))...(..) ( -1.20)\n", "1-9 2-8 3-7 13-16 ", ""},
      {">x\n(((...)))...(..)\n", "1-9 2-8 3-7 13-16 ", "x"},
      {"#Name: x\n#Length: 16\nGGGAAACCCUUAGCUA\n(((...)))...(..)\n", "1-9 2-8 3-7 13-16 ", ""},
      // Every bracket kind, crossing kinds (pseudoknots) included.
      {"([{<..)]}>..<..>", "1-7 2-8 3-9 4-10 13-16 ", ""},
      {"((..[[..))..]]..", "1-10 2-9 5-14 6-13 ", ""},
      {"................", "", ""},
      // Errors: the line, the position and the character.
      {"(((...))))..(..)", "line 1, position 10: ')' closes no '('", ""},
      {"((((...)))..(..)", "line 1, position 1: '(' is never closed", ""},
      {"(((...)))..[..).", "line 1, position 15: ')' closes no '('", ""},
      {"(((...)))..[...}", "line 1, position 16: '}' closes no '{'", ""},
      {"<((...))....(..)", "line 1, position 1: '<' is never closed", ""},
      {"(((...)))..x(..)", "line 1, position 12: character 'x' is neither '.' nor one of the brackets ()[]{}<>", ""},
      {"(((...)))..\t(..)", "line 1, position 13: unexpected text after the structure: \"(..)\"", ""},
      {"(((...)))...(..) -12.3", "line 1, position 18: unexpected text after the structure: \"-12.3\"", ""},
      {"(((...)))...(..) (-12.3", "line 1, position 18: unexpected text after the structure: \"(-12.3\"", ""},
      {">x\nGGGAAACCCUUAGCU\n(((...)))...(..)\n", "line 2: the reference sequence has 15 letters, the folded sequence 16", ""},
      {">x\nGGGAAACCCUUAGCUG\n(((...)))...(..)\n", "line 2, position 16: letter 'G' differs from 'A' of the folded sequence", ""},
      {">x\nGGGAANCCCUUAGCUA\n(((...)))...(..)\n", "line 2, position 6: letter 'N' differs from 'A' of the folded sequence", ""},
      {">x\n\nGGGAAACCCUUAGCUA\n(((...)))...(..)\n>y\n", "line 5: more lines than one record (a name, a sequence and a structure)", ""},
      {">x\n", "no structure line", ""},
      {"", "no structure line", ""},
      {"((\0...)))...(..)", "line 1, position 3: character '\\x00' is neither '.' nor one of the brackets ()[]{}<>", ""},
  };
  for (const auto& c : cases) {
    // The cases are C strings except the one holding a zero byte, which is 16 long.
    const size_t size = std::string(c.text).size() == 2 ? 16 : std::string(c.text).size();
    try {
      const ReferenceStructure reference = ParseReferenceStructure("ref.dbn", c.text, size, buffer.data(), 16);
      EXPECT_EQ(PairText(reference.pairs), c.result) << c.text;
      EXPECT_EQ(reference.name, c.name) << c.text;
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.kind(), FailureKind::kData) << c.text;
      EXPECT_EQ(failure.what(), std::string("ref.dbn: ") + c.result) << c.text;
    }
  }
}

TEST(ReadReferenceStructure, ReadsTheFileAndNamesAFileItCannotRead) {
  const std::string dir = testing::TempDir();
  const std::string path = dir + "/structure_test_ref.dbn";
  std::ofstream(path) << ">t\nGGGAAACCC\n(((...)))\n";
  const std::string buffer = std::string("\0GGGAAACCC\0", 11);
  EXPECT_EQ(PairText(ReadReferenceStructure(path, buffer.data(), 9).pairs), "1-9 2-8 3-7 ");
  const struct {
    std::string path, message;
    int error_number;
  } unreadable[] = {
      {dir + "/no such file", dir + "/no such file: cannot read: No such file or directory", ENOENT},
      {dir, dir + ": cannot read: Is a directory", EISDIR},
  };
  for (const auto& c : unreadable) {
    try {
      ReadReferenceStructure(c.path, buffer.data(), 9);
      ADD_FAILURE() << c.path << " was read";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.kind(), FailureKind::kFile);
      EXPECT_EQ(failure.what(), c.message);
      EXPECT_EQ(failure.path(), c.path);
      EXPECT_EQ(failure.error_number(), c.error_number);
    }
  }
  std::remove(path.c_str());
}

TEST(ScorePairs, CountsExactMatchesOnce) {
  const std::vector<BasePair> stem = {{1, 10}, {2, 9}, {3, 8}, {4, 7}};
  const std::vector<BasePair> other = {{1, 10}, {2, 9}, {5, 6}, {2, 9}};
  const std::vector<BasePair> shifted = {{1, 9}, {2, 8}};
  const struct {
    std::vector<BasePair> predicted, reference;
    const char* lines;
  } cases[] = {
      {stem, stem, "sensitivity: 1.0000\nPPV: 1.0000\nF1: 1.0000\n"},
      {other, other, "sensitivity: 1.0000\nPPV: 1.0000\nF1: 1.0000\n"},
      // 2 common of 4 predicted and 3 reference: 2/3, 2/4, 4/7.
      {stem, other, "sensitivity: 0.6667\nPPV: 0.5000\nF1: 0.5714\n"},
      {other, stem, "sensitivity: 0.5000\nPPV: 0.6667\nF1: 0.5714\n"},
      {stem, shifted, "sensitivity: 0.0000\nPPV: 0.0000\nF1: 0.0000\n"},
      {{}, {}, "sensitivity: 1.0000\nPPV: 1.0000\nF1: 1.0000\n"},
      {{}, stem, "sensitivity: 0.0000\nPPV: 0.0000\nF1: 0.0000\n"},
      {stem, {}, "sensitivity: 0.0000\nPPV: 0.0000\nF1: 0.0000\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatPairScores(ScorePairs(c.predicted, c.reference)), c.lines)
        << PairText(c.predicted) << "against " << PairText(c.reference);
  }
  const PairScores scores = ScorePairs(other, stem);
  EXPECT_EQ(scores.true_pairs, 2);
  EXPECT_EQ(scores.predicted_pairs, 3);
  EXPECT_EQ(scores.reference_pairs, 4);
}

// Whether two pairs cannot both be in one secondary structure.
bool PairsConflict(const BasePair& a, const BasePair& b) {
  if (a.i == b.i && a.j == b.j) return false;
  if (a.i == b.i || a.i == b.j || a.j == b.i || a.j == b.j) return true;
  return (a.i < b.i && b.i < a.j && a.j < b.j) || (b.i < a.i && a.i < b.j && b.j < a.j);
}

TEST(FlagConflictingPairs, AgreesWithAllCouplesCompared) {
  std::mt19937 random(12345);
  for (int round = 0; round < 3000; ++round) {
    const int32_t n = 2 + static_cast<int32_t>(random() % 40);
    const size_t count = random() % 12;
    std::vector<BasePair> pairs;
    for (size_t k = 0; k < count; ++k) {
      const int32_t i = 1 + static_cast<int32_t>(random() % static_cast<uint32_t>(n - 1));
      const int32_t j = i + 1 + static_cast<int32_t>(random() % static_cast<uint32_t>(n - i));
      pairs.push_back({i, j});
      if (random() % 8 == 0) pairs.push_back({i, j});  // listed twice
    }
    const std::vector<uint8_t> flags = FlagConflictingPairs(pairs, n);
    ASSERT_EQ(flags.size(), pairs.size());
    for (size_t a = 0; a < pairs.size(); ++a) {
      bool expected = false;
      for (const BasePair& other : pairs) expected = expected || PairsConflict(pairs[a], other);
      ASSERT_EQ(flags[a], expected ? 1 : 0) << "n " << n << ": " << PairText(pairs) << "pair " << a;
    }
  }
  // Positions outside 1..n cannot be drawn and are flagged.
  EXPECT_EQ(FlagConflictingPairs({{0, 3}, {2, 5}, {4, 4}, {1, 2}}, 4),
            (std::vector<uint8_t>{1, 1, 1, 0}));
}

// The picture calls a selection "not a secondary structure" exactly when the model
// counts a conflicting couple among its quads.
TEST(FlagConflictingPairs, AgreesWithTheModelOnQuadSelections) {
  std::mt19937 random(777);
  int32_t seen[2] = {0, 0};  // selections without and with conflicts
  for (int round = 0; round < 400; ++round) {
    const int32_t n = 8 + static_cast<int32_t>(random() % 16);
    std::string buffer(1, '\0');
    for (int32_t p = 0; p < n; ++p) buffer += "GGCCAU"[random() % 6];
    buffer += '\0';
    const QuadModel model = BuildQuadModel(buffer.data(), n, static_cast<int32_t>(random() % 4), 1, -200);
    if (model.quad_count == 0) continue;
    for (int trial = 0; trial < 20; ++trial) {
      std::vector<uint8_t> chosen(static_cast<size_t>(model.quad_count) + 1, 0);
      const uint32_t picks = 1 + random() % 4;
      for (uint32_t k = 0; k < picks; ++k) chosen[1 + random() % static_cast<uint32_t>(model.quad_count)] = 1;
      int64_t conflicts = 0;
      SelectionValue(model, chosen.data(), &conflicts);
      const std::vector<BasePair> pairs = SelectionPairs(model, chosen.data());
      const std::vector<uint8_t> flags = FlagConflictingPairs(pairs, n);
      const bool flagged = std::find(flags.begin(), flags.end(), 1) != flags.end();
      ASSERT_EQ(flagged, conflicts > 0) << buffer.substr(1, static_cast<size_t>(n)) << " pairs " << PairText(pairs);
      ++seen[flagged ? 1 : 0];
    }
  }
  EXPECT_GT(seen[0], 500);
  EXPECT_GT(seen[1], 500);
}

TEST(EscapeXml, LeavesNoMarkupAndNoInvalidCharacter) {
  const struct {
    std::string text, escaped;
  } cases[] = {
      {"tRNA <Phe> & \"co\" 'x'", "tRNA &lt;Phe&gt; &amp; &quot;co&quot; &apos;x&apos;"},
      {std::string("a\0b\x01\x7f\tc", 7), "a?b??\tc"},
      {"caf\xc3\xa9 \xe2\x80\x94 \xf0\x9f\xa7\xac", "caf\xc3\xa9 \xe2\x80\x94 \xf0\x9f\xa7\xac"},
      {"\xc3 \xff \xe2\x80 \xc0\xaf \xed\xa0\x80", "? ? ?? ?? ???"},
  };
  for (const auto& c : cases) EXPECT_EQ(EscapeXml(c.text), c.escaped) << c.text;
}

TEST(WriteArcDiagram, WritesWholeOrLeavesTheOldFile) {
  const std::string dir = testing::TempDir() + "/structure_test_svg";
  mkdir(dir.c_str(), 0777);
  const std::string path = dir + "/arcs.svg";
  std::string error;
  ASSERT_TRUE(WriteArcDiagram(path, "<svg/>\n", &error)) << error;
  std::stringstream written;
  written << std::ifstream(path).rdbuf();
  EXPECT_EQ(written.str(), "<svg/>\n");
  EXPECT_FALSE(WriteArcDiagram(dir + "/missing/arcs.svg", "x", &error));
  EXPECT_EQ(error, dir + "/missing/arcs.svg: cannot write: No such file or directory");
  EXPECT_FALSE(WriteArcDiagram(dir, "x", &error));
  EXPECT_EQ(error, dir + ": cannot write: Is a directory");
  // Nothing but the one file is left in the directory.
  EXPECT_EQ(rmdir(dir.c_str()), -1);
  EXPECT_EQ(std::remove(path.c_str()), 0);
  EXPECT_EQ(rmdir(dir.c_str()), 0);
}

}  // namespace

// The programs the drawings run: statuses, messages, signals, a program that
// cannot start, and one that outlives its time limit and is ended there.
TEST(RunProgram, ReportsHowTheProgramEndedAndEndsOneThatHangs) {
  struct Case {
    std::vector<std::string> arguments;
    double limit;
    int status;
    std::string messages;
  };
  const std::vector<Case> cases = {
      {{"/bin/sh", "-c", "exit 0"}, 10, 0, ""},
      {{"/bin/sh", "-c", "echo said >&2; echo not kept; exit 3"}, 10, 3, "said\n"},
      {{"/bin/sh", "-c", "kill -TERM $$"}, 10, 128 + 15, ""},
      {{"/nonexistent/program"}, 10, -1, "No such file or directory"},
      {{"/bin/sleep", "30"}, 0.3, -1, "did not finish within 0.3 s"},
  };
  for (const Case& c : cases) {
    std::string messages;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RunProgram(c.arguments, &messages, c.limit), c.status) << c.arguments.back();
    EXPECT_EQ(messages, c.messages) << c.arguments.back();
    // Ended at the limit, not waited for: well under the 30 s it would sleep.
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 10.0)
        << c.arguments.back();
  }
}
