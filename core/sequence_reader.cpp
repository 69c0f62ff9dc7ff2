#include "core/sequence_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/shown_text.h"

namespace {

// 256-entry tables: white space as formatted input knows it, and the letter stored
// for the first character of a base word (0: the word starts no base).
constexpr std::array<bool, 256> MakeSpaceTable() {
  std::array<bool, 256> table{};
  for (unsigned char c : {' ', '\t', '\n', '\v', '\f', '\r'}) table[c] = true;
  return table;
}
constexpr std::array<char, 256> MakeBaseTable() {
  std::array<char, 256> table{};
  table['A'] = table['a'] = 'A';
  table['C'] = table['c'] = 'C';
  table['G'] = table['g'] = 'G';
  table['U'] = table['u'] = 'U';
  return table;
}
constexpr std::array<bool, 256> kSpace = MakeSpaceTable();
constexpr std::array<char, 256> kBase = MakeBaseTable();

// Returns the next byte without consuming it, or -1 at the end of the stream or
// after a failed read.
int PeekByte(ByteStream* in) {
  if (in->position < in->length) return in->bytes[in->position];
  if (in->fd < 0 || in->failed) return -1;
  ssize_t got;
  do {
    got = read(in->fd, in->storage, in->capacity);
  } while (got < 0 && errno == EINTR);
  if (got <= 0) {
    in->failed = (got < 0);
    return -1;
  }
  in->bytes = in->storage;
  in->position = 0;
  in->length = static_cast<size_t>(got);
  return in->bytes[0];
}

void SkipSpace(ByteStream* in) {
  int c;
  while ((c = PeekByte(in)) >= 0 && kSpace[c]) ++in->position;
}

void SkipWord(ByteStream* in) {
  int c;
  while ((c = PeekByte(in)) >= 0 && !kSpace[c]) ++in->position;
}

// Reads the count as formatted input reads an integer. Returns false if no digit
// could be read. A count beyond the 32-bit range saturates: it can never equal a
// length the buffer could hold, so it is reported as a mismatch.
bool ScanCount(ByteStream* in, int32_t* count) {
  SkipSpace(in);
  int c = PeekByte(in);
  bool negative = false;
  if (c == '+' || c == '-') {
    negative = (c == '-');
    ++in->position;
    c = PeekByte(in);
  }
  if (c < '0' || c > '9') return false;
  int64_t magnitude = 0;
  while ((c = PeekByte(in)) >= '0' && c <= '9') {
    if (magnitude <= INT32_MAX) magnitude = magnitude * 10 + (c - '0');
    ++in->position;
  }
  if (negative) {
    *count = magnitude > static_cast<int64_t>(INT32_MAX) + 1 ? INT32_MIN
                                                              : static_cast<int32_t>(-magnitude);
  } else {
    *count = magnitude > INT32_MAX ? INT32_MAX : static_cast<int32_t>(magnitude);
  }
  return true;
}

// Scans n base words into buffer positions 1..n; the stream stands after the count.
SequenceOutcome ScanBases(ByteStream* in, int32_t n, char* buffer) {
  for (int32_t p = 1; p <= n; ++p) {
    SkipSpace(in);
    const int first = PeekByte(in);
    if (first < 0) return in->failed ? SequenceOutcome::kReadError : SequenceOutcome::kTooFewWords;
    const char letter = kBase[first];
    if (letter == 0) return SequenceOutcome::kBadWord;
    buffer[p] = letter;
    if (p < n) SkipWord(in);  // nothing after the last word's first character is read
  }
  return SequenceOutcome::kComplete;
}

// Opens path for reading without blocking on a FIFO that has no writer yet, and
// refuses a directory (it opens, but holds no text) with errno EISDIR.
int OpenSequenceFile(const char* path) {
  int fd;
  do {
    fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  struct stat info;
  const int flags = fcntl(fd, F_GETFL);
  if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode) || flags < 0 ||
      fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    const int error = S_ISDIR(info.st_mode) ? EISDIR : errno;
    close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

}  // namespace

ByteStream MemoryStream(const unsigned char* data, size_t size) {
  return ByteStream{-1, data, 0, size, nullptr, 0, false};
}

SequenceOutcome ScanSequence(ByteStream* in, int32_t n, char* buffer, int32_t* count,
                             bool* count_read) {
  *count = 0;
  *count_read = false;
  const bool have_count = ScanCount(in, count);
  if (in->failed) return SequenceOutcome::kReadError;
  *count_read = true;
  if (!have_count) {
    *count = 0;
    return SequenceOutcome::kNoCount;
  }
  if (*count != n) return SequenceOutcome::kCountMismatch;
  return ScanBases(in, n, buffer);
}

namespace {

// The message of a failed reading: "<path>: sequence file: <what>".
std::string SequenceMessage(const char* path, const std::string& what) {
  return ShowText(path) + ": sequence file: " + what;
}

[[noreturn]] void FailUnreadable(const char* path, int error_number, bool count_read, int32_t count) {
  SequenceFileFailure failure(SequenceOutcome::kReadError,
                              SequenceMessage(path, std::string("cannot read: ") + std::strerror(error_number)),
                              path, error_number);
  failure.count_read = count_read;
  failure.count = count;
  throw failure;
}

// A descriptor stream over the sequence file at path, with its refill space.
struct OpenedSequence {
  ByteStream in;
  std::vector<unsigned char> storage;
  explicit OpenedSequence(const char* path) : in{OpenSequenceFile(path), nullptr, 0, 0, nullptr, 0, false} {
    if (in.fd < 0) FailUnreadable(path, errno, false, 0);
    storage.resize(1 << 16);
    in.storage = storage.data();
    in.capacity = storage.size();
  }
  OpenedSequence(const OpenedSequence&) = delete;
  OpenedSequence& operator=(const OpenedSequence&) = delete;
  ~OpenedSequence() { close(in.fd); }
};

// Throws the failure of a reading of path that ended in outcome (never
// kComplete), with the message for it; for kBadWord in stands at the word.
[[noreturn]] void FailReading(const char* path, ByteStream* in, SequenceOutcome outcome, int32_t n, int32_t count,
                              bool count_read) {
  std::string what;
  switch (outcome) {
    case SequenceOutcome::kComplete:
    case SequenceOutcome::kReadError:
      FailUnreadable(path, errno != 0 ? errno : EIO, count_read, count);
    case SequenceOutcome::kNoCount:
      what = "no count of bases at the start";
      break;
    case SequenceOutcome::kTooFewWords:
      what = "the file ends before base " + std::to_string(n);
      break;
    case SequenceOutcome::kCountMismatch:
      what = n < 1 ? "the file counts " + std::to_string(count) + " bases, at least 1 is needed"
                   : "the file counts " + std::to_string(count) + " bases, the command line " + std::to_string(n);
      break;
    case SequenceOutcome::kBadWord:
      what = "a word that starts with no base";
      break;
  }
  std::string bad_word;
  bool bad_word_longer = false;
  if (outcome == SequenceOutcome::kBadWord) {
    // Only the start of the word is read: enough to show it, however long it is.
    int c;
    while (bad_word.size() < kBadWordBytes && (c = PeekByte(in)) >= 0 && !kSpace[c]) {
      bad_word.push_back(static_cast<char>(c));
      ++in->position;
    }
    bad_word_longer = (c = PeekByte(in)) >= 0 && !kSpace[c];
    what += ": " + ShowBadWord(reinterpret_cast<const unsigned char*>(bad_word.data()), bad_word.size(),
                               bad_word_longer);
  }
  SequenceFileFailure failure(outcome, SequenceMessage(path, what), path);
  failure.count_read = count_read;
  failure.count = count;
  failure.bad_word = std::move(bad_word);
  failure.bad_word_longer = bad_word_longer;
  throw failure;
}

}  // namespace

void ReadSequenceFile(const char* path, int32_t n, char* buffer) {
  OpenedSequence file(path);
  int32_t count = 0;
  bool count_read = false;
  const SequenceOutcome outcome = ScanSequence(&file.in, n, buffer, &count, &count_read);
  if (outcome != SequenceOutcome::kComplete) FailReading(path, &file.in, outcome, n, count, count_read);
}

std::string ReadCountedSequenceFile(const char* path) {
  OpenedSequence file(path);
  int32_t count = 0;
  const bool have_count = ScanCount(&file.in, &count);
  if (file.in.failed) FailReading(path, &file.in, SequenceOutcome::kReadError, 0, 0, false);
  if (!have_count) FailReading(path, &file.in, SequenceOutcome::kNoCount, 0, 0, true);
  if (count < 1) FailReading(path, &file.in, SequenceOutcome::kCountMismatch, 0, count, true);
  // Each base takes a character and a separator: a regular file too short for
  // the count is refused before room for it is made.
  struct stat info;
  if (fstat(file.in.fd, &info) == 0 && S_ISREG(info.st_mode) && count > info.st_size / 2 + 1) {
    FailReading(path, &file.in, SequenceOutcome::kTooFewWords, count, count, true);
  }
  std::string letters(static_cast<size_t>(count) + 2, '\0');
  const SequenceOutcome outcome = ScanBases(&file.in, count, letters.data());
  if (outcome != SequenceOutcome::kComplete) FailReading(path, &file.in, outcome, count, count, true);
  return letters.substr(1, static_cast<size_t>(count));
}
