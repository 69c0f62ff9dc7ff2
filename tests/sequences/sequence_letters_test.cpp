// The library entry points that the Python module calls directly: the letter
// rules, the structure alignment, file-kind detection and safe names.
#include <gtest/gtest.h>
#include <unistd.h>

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
  SequenceFailureKind failure;
};

TEST(NormaliseLetters, AppliesTheLetterRules) {
  const LetterCase cases[] = {
      {"acgu", AmbiguousLetters::kRefuse, "ACGU", 0, 0, 0, SequenceFailureKind::kNone},
      {"TtUu", AmbiguousLetters::kRefuse, "UUUU", 2, 0, 0, SequenceFailureKind::kNone},
      {"A-C.G\r\n U", AmbiguousLetters::kRefuse, "ACGU", 0, 2, 0, SequenceFailureKind::kNone},
      {"ANRYKMSWBDHVnu", AmbiguousLetters::kDrop, "AU", 0, 0, 12, SequenceFailureKind::kNone},
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
    ReadFailure failure;
    const bool ok = NormaliseLetters(c.raw, LetterPolicy{c.ambiguous}, &record, &failure);
    EXPECT_EQ(ok, c.letters != nullptr);
    if (ok) {
      EXPECT_EQ(record.letters, c.letters);
      EXPECT_EQ(record.thymines_converted, c.thymines);
      EXPECT_EQ(record.gaps_removed, c.gaps);
      EXPECT_EQ(record.ambiguous_dropped, c.dropped);
    } else {
      EXPECT_EQ(failure.kind, c.failure);
      EXPECT_EQ(failure.status, kSeqStatusDataError);
      EXPECT_EQ(failure.message.rfind("record r: ", 0), 0u) << failure.message;
    }
  }
}

TEST(NormaliseLetters, ShowsInvalidBytesReadably) {
  SequenceRecord record;
  record.name = "r";
  ReadFailure failure;
  EXPECT_FALSE(NormaliseLetters("AC\x01", LetterPolicy{}, &record, &failure));
  EXPECT_EQ(failure.message,
            "record r: 1 letter that is neither a base, a gap nor an ambiguity code (\\x01 at 3)");
}

TEST(AlignStructure, KeepsTheColumnsOfTheKeptLetters) {
  struct Case {
    const char* raw;
    const char* structure;
    const char* aligned;  // nullptr: refused
  };
  const Case cases[] = {
      {"GGGAAACCC", "(((...)))", "(((...)))"},
      {"GG-GAAA.CC", "((.(...).))", nullptr},  // lengths differ
      {"GG-GAAACC.C", "((.(...)).)", "(((...)))"},
      {"GNGAAACCC", "(((...)))", nullptr},     // a paired column is dropped
      {"GANAAACCC", "((.....))", "((....))"},
      {"GGAAACC", "((...)(", nullptr},         // never closed
      {"GGAAACC", "(...)))", nullptr},         // closes nothing
      {"GGAAACC", "((.x.))", nullptr},         // not a bracket
      {"GGAAACC", "(.[.).]", "(.[.).]"},       // crossing kinds are balanced per kind
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.raw) + " " + c.structure);
    std::string aligned;
    ReadFailure failure;
    const bool ok = AlignStructure(c.raw, c.structure, LetterPolicy{AmbiguousLetters::kDrop}, "s",
                                   &aligned, &failure);
    EXPECT_EQ(ok, c.aligned != nullptr) << failure.message;
    if (ok) {
      EXPECT_EQ(aligned, c.aligned);
    } else {
      EXPECT_EQ(failure.kind, SequenceFailureKind::kBadStructure);
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
    SequenceFileKind kind = SequenceFileKind::kOther;
    ReadFailure failure;
    EXPECT_TRUE(DetectSequenceFileKind(path, &kind, &failure)) << failure.message;
    EXPECT_EQ(kind, c.kind);
  }
  unlink(path);
  SequenceFileKind kind;
  ReadFailure failure;
  EXPECT_FALSE(DetectSequenceFileKind(path, &kind, &failure));
  EXPECT_EQ(failure.status, kSeqStatusFileError);
}

}  // namespace
