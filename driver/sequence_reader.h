// The sequence file reader: the only place where outside data enters rnaqubo.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A forward-only byte stream, over a file descriptor (fd >= 0, refilled into
// storage) or over bytes already in memory (fd < 0).
struct ByteStream {
  int fd;
  const unsigned char* bytes;  // current window
  size_t position;             // next unread byte of the window
  size_t length;               // bytes in the window
  unsigned char* storage;      // refill space for a descriptor stream
  size_t capacity;
  bool failed;                 // a read of the descriptor failed
};

// How reading a sequence ended.
enum class SequenceOutcome {
  kComplete,       // n letters stored
  kReadError,      // the descriptor could not be read
  kNoCount,        // the first item is not an integer, or the stream is empty
  kCountMismatch,  // the count differs from n
  kTooFewWords,    // the stream ended before word n
  kBadWord,        // a word starts with no base letter; the stream stands at its start
};

// Scans a count and n base words from in into buffer positions 1..n (buffer holds
// n + 2 characters). Sets *count to the count read (0 if none; saturated at the
// 32-bit limits) and *count_read to whether the count stage finished. Never
// prints and never ends the process.
SequenceOutcome ScanSequence(ByteStream* in, int32_t n, char* buffer, int32_t* count,
                             bool* count_read);

// Reads the sequence file at path into buffer (n + 2 zeroed characters): a count
// that must equal n, then n white-space-separated words of which only the first
// character counts (A, C, G, U in either case, stored upper-case at positions 1..n).
// Prints "Number of bases on Sequence read = %d\n". Returns only on success; a file
// that cannot be opened or read ends the run with status 2, bad content with status 1.
void ReadSequence(const char* path, int32_t n, char* buffer);

// Bytes of a bad base word shown in "Invalid gene base read: %s\n".
constexpr size_t kShownWordBytes = 64;

// The text shown for a bad base word: word holds its first size bytes, and longer
// tells that more follow. A printable word of at most kShownWordBytes bytes is
// shown as it stands; any other has its control and non-ASCII bytes written as
// \xHH and, past kShownWordBytes bytes, is cut and ends in "...".
std::string ShowBadWord(const unsigned char* word, size_t size, bool longer);

// A stream over size bytes in memory.
ByteStream MemoryStream(const unsigned char* data, size_t size);

// Reads the sequence file at path as ReadSequence does, but prints nothing and
// never ends the process: returns how the reading ended (kReadError also when the
// file cannot be opened), with *count as ScanSequence sets it and, for kBadWord,
// up to 4096 bytes of the offending word in *bad_word.
SequenceOutcome ReadSequenceQuietly(const char* path, int32_t n, char* buffer, int32_t* count,
                                    std::string* bad_word);
