// The library entry points that the Python module calls directly: the letter
// rules, the structure alignment, file-kind detection and safe names.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "sequences/sequence_letters.h"
#include "sequences/sequence_records.h"

namespace {

struct LetterCase {
  const char* raw;
  AmbiguousLetters ambiguous;
  const char* letters;  // nullptr: refused
  int64_t thymines, gaps, dropped;
  SequenceFailureKind failure;  // when refused
};

constexpr SequenceFailureKind kKept = SequenceFailureKind::kUnreadable;  // unused for letters kept

TEST(NormaliseLetters, AppliesTheLetterRules) {
  const LetterCase cases[] = {
      {"acgu", AmbiguousLetters::kRefuse, "ACGU", 0, 0, 0, kKept},
      {"TtUu", AmbiguousLetters::kRefuse, "UUUU", 2, 0, 0, kKept},
      {"A-C.G\r\n U", AmbiguousLetters::kRefuse, "ACGU", 0, 2, 0, kKept},
      {"ANRYKMSWBDHVnu", AmbiguousLetters::kDrop, "AU", 0, 0, 12, kKept},
      {"ANu", AmbiguousLetters::kRefuse, nullptr, 0, 0, 0, SequenceFailureKind::kAmbiguous},
      {"AXU", AmbiguousLetters::kDrop, nullptr, 0, 0, 0, SequenceFailureKind::kInvalidLetters},
      {"AEU", AmbiguousLetters::kDrop, nullptr, 0, 0, 0, SequenceFailureKind::kInvalidLetters},
      {"A\x01U", AmbiguousLetters::kDrop, nullptr, 0, 0, 0, SequenceFailureKind::kInvalidLetters},
      {"", AmbiguousLetters::kRefuse, nullptr, 0, 0, 0, SequenceFailureKind::kEmptyRecord},
      {" \n", AmbiguousLetters::kRefuse, nullptr, 0, 0, 0, SequenceFailureKind::kEmptyRecord},
      {"-N.", AmbiguousLetters::kDrop, nullptr, 0, 0, 0, SequenceFailureKind::kEmptyRecord},
  };
  for (const LetterCase& c : cases) {
    SCOPED_TRACE(c.raw);
    SequenceRecord record;
    record.name = "r";
    try {
      NormaliseLetters(c.raw, LetterPolicy{c.ambiguous}, &record);
      ASSERT_NE(c.letters, nullptr) << "not refused";
      EXPECT_EQ(record.letters, c.letters);
      EXPECT_EQ(record.thymines_converted, c.thymines);
      EXPECT_EQ(record.gaps_removed, c.gaps);
      EXPECT_EQ(record.ambiguous_dropped, c.dropped);
    } catch (const SequenceFailure& failure) {
      EXPECT_EQ(c.letters, nullptr) << failure.what();
      EXPECT_EQ(failure.sequence_kind(), c.failure);
      EXPECT_EQ(failure.kind(), FailureKind::kData);
      EXPECT_EQ(std::string(failure.what()).rfind("record r: ", 0), 0u) << failure.what();
    }
  }
}

TEST(NormaliseLetters, ShowsInvalidBytesReadably) {
  SequenceRecord record;
  record.name = "r\x1b";
  try {
    NormaliseLetters("AC\x01", LetterPolicy{}, &record);
    ADD_FAILURE() << "not refused";
  } catch (const SequenceFailure& failure) {
    EXPECT_STREQ(failure.what(),
                 "record r\\x1B: 1 letter that is neither a base, a gap nor an ambiguity code (\\x01 at 3)");
  }
}

TEST(AlignStructure, KeepsTheColumnsOfTheKeptLetters) {
  struct Case {
    const char* raw;
    const char* structure;
    const char* aligned;  // nullptr: refused
    const char* message;  // the refusal after "record s: "
  };
  const Case cases[] = {
      {"GGGAAACCC", "(((...)))", "(((...)))", ""},
      {"GG-GAAA.CC", "((.(...).))", nullptr, "the structure has 11 characters for 10 letters"},
      {"GG-GAAACC.C", "((.(...)).)", "(((...)))", ""},
      {"GNGAAACCC", "(((...)))", nullptr, "position 2 (N) is removed from the sequence but paired in the structure"},
      {"GANAAACCC", "((.....))", "((....))", ""},
      {"GGAAACC", "((...)(", nullptr, "structure: position 7: '(' is never closed"},
      {"GGAAACC", "(...)))", nullptr, "structure: position 6: ')' closes no '('"},
      {"GGAAACC", "((.\x07.))", nullptr,
       "structure: position 4: character '\\x07' is neither '.' nor one of the brackets ()[]{}<>"},
      {"GGAAACC", "(.[.).]", "(.[.).]", ""},  // crossing kinds are balanced per kind
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.raw) + " " + c.structure);
    try {
      const std::string aligned = AlignStructure(c.raw, c.structure, LetterPolicy{AmbiguousLetters::kDrop}, "s");
      ASSERT_NE(c.aligned, nullptr) << "not refused";
      EXPECT_EQ(aligned, c.aligned);
    } catch (const SequenceFailure& failure) {
      EXPECT_EQ(c.aligned, nullptr) << failure.what();
      EXPECT_EQ(failure.sequence_kind(), SequenceFailureKind::kBadStructure);
      EXPECT_EQ(failure.what(), "record s: " + std::string(c.message));
    }
  }
}

TEST(DetectSequenceFileKind, TellsTheFormatsApart) {
  char path[] = "/tmp/rnaqubo-kind-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  const struct {
    const char* content;
    SequenceFileKind kind;
  } cases[] = {
      {"\n  5\nG\n", SequenceFileKind::kRnaquboInput},
      {"\r\n>x\nACGU\n", SequenceFileKind::kFastaOrFastq},
      {"@x\nACGU\n+\nIIII\n", SequenceFileKind::kFastaOrFastq},
      {"GGAC\n", SequenceFileKind::kOther},
      {"", SequenceFileKind::kOther},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.content);
    FILE* file = std::fopen(path, "w");
    ASSERT_NE(file, nullptr);
    std::fputs(c.content, file);
    ASSERT_EQ(std::fclose(file), 0);
    EXPECT_EQ(DetectSequenceFileKind(path), c.kind);
  }
  unlink(path);
  try {
    DetectSequenceFileKind(path);
    ADD_FAILURE() << "a missing file was read";
  } catch (const SequenceFailure& failure) {
    EXPECT_EQ(failure.kind(), FailureKind::kFile);
    EXPECT_EQ(failure.error_number(), ENOENT);
    EXPECT_EQ(failure.what(), std::string(path) + ": sequence file: cannot read: No such file or directory");
  }
}

}  // namespace
