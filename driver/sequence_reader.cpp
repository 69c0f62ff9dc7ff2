#include "driver/sequence_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "driver/run_end.h"

namespace {

constexpr const char* kOpenFailure = "Could not read from Q file!\n";
constexpr const char* kNothingRead = "Nothing read from Sequence";

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

// Opens path for reading without blocking on a FIFO that has no writer yet, and
// refuses a directory (it opens, but holds no text).
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
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

std::string ShowBadWord(const unsigned char* word, size_t size, bool longer) {
  bool plain = !longer && size <= kShownWordBytes;
  for (size_t k = 0; k < size; ++k) plain = plain && word[k] > ' ' && word[k] < 0x7f;
  if (plain) return std::string(reinterpret_cast<const char*>(word), size);
  std::string shown;
  for (size_t k = 0; k < size && k < kShownWordBytes; ++k) {
    if (word[k] >= ' ' && word[k] < 0x7f) {
      shown += static_cast<char>(word[k]);
    } else {
      shown += "\\x";
      shown += "0123456789ABCDEF"[word[k] >> 4];
      shown += "0123456789ABCDEF"[word[k] & 15];
    }
  }
  if (longer || size > kShownWordBytes) shown += "...";
  return shown;
}

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

void ReadSequence(const char* path, int32_t n, char* buffer) {
  ByteStream in{OpenSequenceFile(path), nullptr, 0, 0, nullptr, 0, false};
  if (in.fd < 0) EndRun(kOpenFailure, kStatusIoError);
  std::vector<unsigned char> storage(1 << 16);
  in.storage = storage.data();
  in.capacity = storage.size();

  int32_t count = 0;
  bool count_read = false;
  const SequenceOutcome outcome = ScanSequence(&in, n, buffer, &count, &count_read);
  if (count_read) std::printf("Number of bases on Sequence read = %d\n", count);
  switch (outcome) {
    case SequenceOutcome::kComplete:
      close(in.fd);
      return;
    case SequenceOutcome::kReadError:
      EndRun(kOpenFailure, kStatusIoError);
    case SequenceOutcome::kNoCount:
    case SequenceOutcome::kTooFewWords:
      EndRun(kNothingRead, kStatusDataError);
    case SequenceOutcome::kCountMismatch:
      EndRunFormatted(kStatusDataError, "File size does not equal command line %d != %d", n,
                      count);
    case SequenceOutcome::kBadWord: {
      // Only the start of the word is read: enough to show it, however long it is.
      unsigned char word[kShownWordBytes];
      size_t size = 0;
      int c;
      while (size < kShownWordBytes && (c = PeekByte(&in)) >= 0 && !kSpace[c]) {
        word[size++] = static_cast<unsigned char>(c);
        ++in.position;
      }
      const bool longer = (c = PeekByte(&in)) >= 0 && !kSpace[c];
      std::fputs("Invalid gene base read: ", stdout);
      std::fputs(ShowBadWord(word, size, longer).c_str(), stdout);
      EndRun("\n", kStatusDataError);
    }
  }
  EndRun(kOpenFailure, kStatusIoError);
}

// The reader for tools whose standard output carries only results: the same
// scan, with the outcome returned for the caller to report.
SequenceOutcome ReadSequenceQuietly(const char* path, int32_t n, char* buffer, int32_t* count,
                                    std::string* bad_word) {
  *count = 0;
  ByteStream in{OpenSequenceFile(path), nullptr, 0, 0, nullptr, 0, false};
  if (in.fd < 0) return SequenceOutcome::kReadError;
  std::vector<unsigned char> storage(1 << 16);
  in.storage = storage.data();
  in.capacity = storage.size();
  bool count_read = false;
  const SequenceOutcome outcome = ScanSequence(&in, n, buffer, count, &count_read);
  if (outcome == SequenceOutcome::kBadWord) {
    constexpr size_t kLongestShown = 4096;
    bad_word->clear();
    int c;
    while ((c = PeekByte(&in)) >= 0 && !kSpace[c] && bad_word->size() < kLongestShown) {
      bad_word->push_back(static_cast<char>(c));
      ++in.position;
    }
  }
  close(in.fd);
  return outcome;
}
