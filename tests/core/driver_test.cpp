// Argument conversion, the sequence reader and the index arrays.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "core/failure.h"
#include "core/index_arrays.h"
#include "core/model_arguments.h"
#include "core/sequence_reader.h"

namespace {

TEST(ConvertArgument, ReadsLikeTheStandardConversion) {
  const struct {
    const char* text;
    int32_t value;
  } cases[] = {
      {"316", 316},      {"  -200", -200},   {"\t+4", 4},        {"12abc", 12},
      {"abc", 0},        {"", 0},            {"-", 0},           {"+-3", 0},
      {"0x10", 0},       {"2147483647", INT32_MAX},               {"-2147483648", INT32_MIN},
      {"000000000000000000042", 42},         {"- 5", 0},         {"7 8", 7},
  };
  for (const auto& c : cases) {
    int32_t value = -99;
    EXPECT_TRUE(ConvertArgument(c.text, &value)) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
  }
}

TEST(ConvertArgument, RefusesDigitsBeyondThirtyTwoBits) {
  for (const char* text : {"2147483648", "-2147483649", "99999999999999999999999", " +4294967296x"}) {
    int32_t value = 5;
    EXPECT_FALSE(ConvertArgument(text, &value)) << text;
    EXPECT_EQ(value, 5) << "value must stay untouched for " << text;
  }
}

struct Scan {
  SequenceOutcome outcome;
  int32_t count;
  bool count_read;
  std::string letters;  // positions 0..n+1 of the buffer, zeros shown as '.'
};

Scan ScanText(const std::string& text, int32_t n) {
  std::string buffer(static_cast<size_t>(n) + 2, '\0');
  ByteStream in = MemoryStream(reinterpret_cast<const unsigned char*>(text.data()), text.size());
  Scan scan{};
  scan.outcome = ScanSequence(&in, n, buffer.data(), &scan.count, &scan.count_read);
  for (char& c : buffer) c = c == 0 ? '.' : c;
  scan.letters = buffer;
  return scan;
}

TEST(ScanSequence, StoresUpperCaseLettersBetweenZeroEnds) {
  const Scan scan = ScanText("5\na\nc\ng\nu\na\n", 5);
  EXPECT_EQ(scan.outcome, SequenceOutcome::kComplete);
  EXPECT_EQ(scan.count, 5);
  EXPECT_EQ(scan.letters, ".ACGUA.");
}

TEST(ScanSequence, LayoutIsFree) {
  // A count glued to the first word, CR LF line ends, tabs, long words whose
  // first letter alone counts, and a sixth word that is never looked at.
  const Scan scan = ScanText("5abc\r\nGuanine\tc\r\n" + std::string(5000, 'U') + " a T\r\n", 5);
  EXPECT_EQ(scan.outcome, SequenceOutcome::kComplete);
  EXPECT_EQ(scan.letters, ".AGCUA.");
}

TEST(ScanSequence, ReportsEachKindOfBadContent) {
  EXPECT_EQ(ScanText("", 5).outcome, SequenceOutcome::kNoCount);
  EXPECT_EQ(ScanText("   \n\t", 5).outcome, SequenceOutcome::kNoCount);
  EXPECT_EQ(ScanText("GGACC", 5).outcome, SequenceOutcome::kNoCount);
  EXPECT_EQ(ScanText("+x", 5).outcome, SequenceOutcome::kNoCount);

  const Scan mismatch = ScanText("4\nG\nG\nA\nC\n", 5);
  EXPECT_EQ(mismatch.outcome, SequenceOutcome::kCountMismatch);
  EXPECT_EQ(mismatch.count, 4);
  EXPECT_EQ(ScanText("-5 G G A C C", 5).count, -5);

  const Scan few = ScanText("5 G G A C", 5);
  EXPECT_EQ(few.outcome, SequenceOutcome::kTooFewWords);
  EXPECT_EQ(few.letters, ".GGAC..") << "no base may be invented for position 5";

  EXPECT_EQ(ScanText("5 G G T C C", 5).outcome, SequenceOutcome::kBadWord);
  EXPECT_EQ(ScanText("5 G G xA C C", 5).outcome, SequenceOutcome::kBadWord);
  EXPECT_EQ(ScanText(std::string("5 G G \0A C C", 12), 5).outcome, SequenceOutcome::kBadWord);
}

TEST(ScanSequence, CountBeyondThirtyTwoBitsSaturates) {
  EXPECT_EQ(ScanText("99999999999 G", 1).count, INT32_MAX);
  EXPECT_EQ(ScanText("-99999999999 G", 1).count, INT32_MIN);
  EXPECT_EQ(ScanText("99999999999 G", 1).outcome, SequenceOutcome::kCountMismatch);
  EXPECT_EQ(ScanText("0000000000000000000001 G", 1).outcome, SequenceOutcome::kComplete);
}

TEST(IndexArrays, AreZeroedAndAddressedFromOne) {
  const IntMatrix quads = AllocateIntMatrix(1, 4);
  for (int e = 0; e <= 4; ++e) EXPECT_EQ(MatrixRow(quads, 1)[e], 0);
  const IntMatrix pairs = AllocateIntMatrix(7, 2);
  MatrixRow(pairs, 3)[2] = 9;  // the last element of row 3 must not touch row 4
  EXPECT_EQ(MatrixRow(pairs, 4)[0], 0);
  for (int64_t r = 1; r <= 7; ++r) EXPECT_EQ(MatrixRow(pairs, r) - MatrixRow(pairs, 1), (r - 1) * 3);
  const IntArray array = AllocateIntArray(10);
  for (int k = 0; k <= 10; ++k) EXPECT_EQ(array[k], 0);
  const char* buffer = AllocateSequenceBuffer(3);
  EXPECT_EQ(std::memcmp(buffer, "\0\0\0\0\0", 5), 0);
}

// A size beyond 32 bits is a shortage, reported with the tool's message.
void ExpectMemoryFailure(void (*allocate)(), const std::string& message) {
  try {
    allocate();
    ADD_FAILURE() << "no failure for " << message;
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.kind(), FailureKind::kMemory);
    EXPECT_EQ(std::string(failure.what()), message);
  }
}

TEST(IndexArrays, SizeBeyondThirtyTwoBitsIsAnAllocationFailure) {
  ExpectMemoryFailure([] { AllocateIntMatrix(int64_t{INT32_MAX} + 2, 2); },
                      "Memory allocation problem in AllocateIntMatrix");
  ExpectMemoryFailure([] { AllocateIntMatrix(4, int64_t{INT32_MAX}); }, "Memory allocation problem in AllocateIntArray");
  ExpectMemoryFailure([] { AllocateSequenceBuffer(INT32_MAX); }, "Memory allocation problem in AllocateIntArray");
}

}  // namespace
