// The reader of rnaqubo's sequence format: a count, then one word per base.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/failure.h"

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

// A sequence file that could not be read to the end: how the reading ended
// (never kComplete), with what was read before. kReadError also stands for a file
// that cannot be opened (errno in error_number()).
class SequenceFileFailure : public Failure {
 public:
  SequenceFileFailure(SequenceOutcome outcome, const std::string& message, const std::string& path,
                      int error_number = 0)
      : Failure(outcome == SequenceOutcome::kReadError ? FailureKind::kFile : FailureKind::kData, message, path,
                error_number),
        outcome(outcome) {}
  SequenceOutcome outcome;
  bool count_read = false;  // the count stage finished (a count, or none, was seen)
  int32_t count = 0;        // the count read, as ScanSequence sets it
  std::string bad_word;     // kBadWord: the first kBadWordBytes bytes of the offending word
  bool bad_word_longer = false;  // kBadWord: the word goes on past bad_word
};

// Bytes of a bad base word kept in SequenceFileFailure::bad_word.
constexpr size_t kBadWordBytes = 4096;

// A stream over size bytes in memory.
ByteStream MemoryStream(const unsigned char* data, size_t size);

// Reads the sequence file at path into buffer (n + 2 zeroed characters): a count
// that must equal n, then n white-space-separated words of which only the first
// character counts (A, C, G, U in either case, stored upper-case at positions 1..n).
// Throws SequenceFileFailure, with the message "<path>: sequence file: <what>:
// <reason>", when the file cannot be opened or read or holds anything else.
void ReadSequenceFile(const char* path, int32_t n, char* buffer);

// Reads the sequence file at path as ReadSequenceFile does, with n taken from
// its count, and returns the n letters. Throws SequenceFileFailure with
// ReadSequenceFile's messages, and kCountMismatch "the file counts <c> bases,
// at least 1 is needed" for a count below 1.
std::string ReadCountedSequenceFile(const char* path);
