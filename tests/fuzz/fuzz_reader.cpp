// libFuzzer target for the sequence scanner.
//
// Input layout: bytes 0 and 1 form a big-endian 16-bit header; its low 12 bits
// give the sequence length n (1..4096) and its top 4 bits the refill size of the
// descriptor stream (1..16 bytes). Everything after the header is the file.
//
// Each input is scanned from memory and checked against a plain re-reading of the
// same bytes written here, then scanned again through a pipe with a tiny refill
// buffer, which must give the same result whatever the chunk boundaries are.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "core/sequence_reader.h"
#include "core/shown_text.h"

namespace {

constexpr std::string_view kWhiteSpace(" \t\n\v\f\r", 6);
constexpr std::string_view kDigits("0123456789");

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// What a scan must produce, worked out without the scanner's code.
struct Expected {
  SequenceOutcome outcome;
  int32_t count;
  std::string letters;     // positions 1..n; 0 where nothing may be stored
  size_t bad_word_start;   // kBadWord: offset of the rejected word
  size_t last_word_end;    // kComplete: offset just past word n
};

char LetterFor(char first) {
  switch (first) {
    case 'A': case 'a': return 'A';
    case 'C': case 'c': return 'C';
    case 'G': case 'g': return 'G';
    case 'U': case 'u': return 'U';
    default: return 0;
  }
}

// The count as a decimal text with an optional sign: the value, clamped to the
// 32-bit range.
int32_t CountValue(bool negative, std::string_view digits) {
  const size_t first_significant = digits.find_first_not_of('0');
  if (first_significant == std::string_view::npos) return 0;
  const std::string significant(digits.substr(first_significant));
  if (significant.size() > 10) return negative ? INT32_MIN : INT32_MAX;
  long long magnitude = std::strtoll(significant.c_str(), nullptr, 10);
  long long value = negative ? -magnitude : magnitude;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

Expected Reread(std::string_view text, int32_t n) {
  Expected e{SequenceOutcome::kNoCount, 0, std::string(static_cast<size_t>(n), '\0'), 0, 0};
  size_t at = text.find_first_not_of(kWhiteSpace);
  if (at == std::string_view::npos) return e;
  bool negative = false;
  if (text[at] == '+' || text[at] == '-') {
    negative = text[at] == '-';
    ++at;
  }
  const size_t digits_end = std::min(text.find_first_not_of(kDigits, at), text.size());
  if (digits_end == at) return e;
  e.count = CountValue(negative, text.substr(at, digits_end - at));
  if (e.count != n) {
    e.outcome = SequenceOutcome::kCountMismatch;
    return e;
  }
  at = digits_end;
  for (int32_t p = 1; p <= n; ++p) {
    const size_t start = text.find_first_not_of(kWhiteSpace, at);
    if (start == std::string_view::npos) {
      e.outcome = SequenceOutcome::kTooFewWords;
      return e;
    }
    const char letter = LetterFor(text[start]);
    if (letter == 0) {
      e.outcome = SequenceOutcome::kBadWord;
      e.bad_word_start = start;
      return e;
    }
    e.letters[static_cast<size_t>(p - 1)] = letter;
    at = std::min(text.find_first_of(kWhiteSpace, start), text.size());
  }
  e.outcome = SequenceOutcome::kComplete;
  e.last_word_end = at;
  return e;
}

bool IsBaseLetter(char c) { return c == 'A' || c == 'C' || c == 'G' || c == 'U'; }

// Checks one scan's results against the properties every scan has and against
// the re-reading.
void CheckScan(SequenceOutcome outcome, int32_t n, const char* buffer, int32_t count,
               bool count_read, const Expected& expected) {
  // Only a failed read stops the count stage, and neither memory nor a filled
  // pipe fails to read.
  Check(count_read || outcome == SequenceOutcome::kReadError);
  Check(outcome != SequenceOutcome::kReadError);
  Check(buffer[0] == 0);
  Check(buffer[n + 1] == 0);
  for (int32_t p = 1; p <= n; ++p) Check(buffer[p] == 0 || IsBaseLetter(buffer[p]));
  if (outcome == SequenceOutcome::kComplete) {
    Check(count == n);
    for (int32_t p = 1; p <= n; ++p) Check(IsBaseLetter(buffer[p]));
  }
  if (outcome == SequenceOutcome::kCountMismatch) Check(count != n);
  if (outcome == SequenceOutcome::kNoCount) Check(count == 0);

  Check(outcome == expected.outcome);
  Check(count == expected.count);
  Check(std::memcmp(buffer + 1, expected.letters.data(), static_cast<size_t>(n)) == 0);
}

// Feeds text through a pipe so that the descriptor path, with its refills, is
// scanned too. Returns false (and checks nothing) if the pipe cannot take the
// whole text at once.
bool ScanThroughPipe(std::string_view text, int32_t n, size_t capacity, char* buffer,
                     int32_t* count, bool* count_read, SequenceOutcome* outcome) {
  int ends[2];
  if (pipe(ends) != 0) return false;
  bool written = fcntl(ends[1], F_SETFL, O_NONBLOCK) == 0;
  size_t done = 0;
  while (written && done < text.size()) {
    const ssize_t got = write(ends[1], text.data() + done, text.size() - done);
    if (got <= 0) written = false;
    else done += static_cast<size_t>(got);
  }
  close(ends[1]);
  if (written) {
    unsigned char storage[16];
    ByteStream in{ends[0], nullptr, 0, 0, storage, capacity, false};
    *outcome = ScanSequence(&in, n, buffer, count, count_read);
  }
  close(ends[0]);
  return written;
}

// Checks how the bad word starting at text[start] is shown, against a plain
// re-derivation: its first kShownWordBytes bytes, each control or non-ASCII byte
// as \xHH, then "..." if the word is longer; only printable ASCII comes out.
void CheckShownWord(std::string_view text, size_t start) {
  const size_t end = std::min(text.find_first_of(kWhiteSpace, start), text.size());
  const std::string_view word = text.substr(start, end - start);
  const std::string_view head = word.substr(0, kShownWordBytes);
  const bool longer = word.size() > kShownWordBytes;
  std::string expected;
  for (const char c : head) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= ' ' && byte < 0x7f) {
      expected += c;
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", byte);
      expected += escape;
    }
  }
  if (longer) expected += "...";
  const std::string shown =
      ShowBadWord(reinterpret_cast<const unsigned char*>(head.data()), head.size(), longer);
  Check(shown == expected);
  for (const char c : shown) Check(c >= ' ' && c < 0x7f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const unsigned header = (static_cast<unsigned>(data[0]) << 8) | data[1];
  const int32_t n = static_cast<int32_t>(header & 0x0FFF) + 1;
  const size_t capacity = (header >> 12) + 1;
  const unsigned char* file = data + 2;
  const size_t file_size = size - 2;
  const std::string_view text(reinterpret_cast<const char*>(file), file_size);
  const Expected expected = Reread(text, n);

  const size_t buffer_size = static_cast<size_t>(n) + 2;
  char* buffer = static_cast<char*>(std::calloc(buffer_size, 1));
  if (buffer == nullptr) return 0;

  // The memory stream: count_read is always true, and the position tells how far
  // the scan went.
  ByteStream in = MemoryStream(file, file_size);
  int32_t count = -7;
  bool count_read = false;
  const SequenceOutcome outcome = ScanSequence(&in, n, buffer, &count, &count_read);
  CheckScan(outcome, n, buffer, count, count_read, expected);
  Check(in.position <= file_size);
  if (outcome == SequenceOutcome::kBadWord) {
    Check(in.position == expected.bad_word_start);
    CheckShownWord(text, expected.bad_word_start);
  }
  if (outcome == SequenceOutcome::kComplete) Check(in.position <= expected.last_word_end);

  // The descriptor stream, into a fresh buffer; a pipe holds at least one page.
  if (file_size <= 4096) {
    std::memset(buffer, 0, buffer_size);
    int32_t pipe_count = -7;
    bool pipe_count_read = false;
    SequenceOutcome pipe_outcome;
    if (ScanThroughPipe(text, n, capacity, buffer, &pipe_count, &pipe_count_read,
                        &pipe_outcome)) {
      CheckScan(pipe_outcome, n, buffer, pipe_count, pipe_count_read, expected);
    }
  }

  std::free(buffer);
  return 0;
}
