// The failure type of the sequence library: what went wrong in reading a
// sequence file or converting its letters, with the message for the user.
#pragma once

#include <string>

#include "core/status_codes.h"

// Why a read or a conversion failed.
enum class SequenceFailureKind {
  kNone,
  kUnreadable,      // the file cannot be opened or read (status 2)
  kCorrupt,         // compressed data truncated or damaged, FASTQ record cut short
  kNotSequences,    // the file is not FASTA or FASTQ
  kNoSuchRecord,    // the named or numbered record is not in the file
  kEmptyRecord,     // the record has no letters, or none left after removals
  kAmbiguous,       // ambiguity codes under AmbiguousLetters::kRefuse
  kInvalidLetters,  // letters that are neither bases, gaps nor ambiguity codes
  kBadStructure,    // a dot-bracket line that does not fit its sequence
};

// Exit statuses that go with failures.
constexpr int kSeqStatusDataError = kStatusDataError;  // the data is bad
constexpr int kSeqStatusFileError = kStatusIoError;    // a file cannot be read or written

// A failure: a one-line message naming the file and the record where known (no
// line end), the status it calls for (1 bad data, 2 unreadable/unwritable file).
struct ReadFailure {
  std::string message;
  int status = 0;
  SequenceFailureKind kind = SequenceFailureKind::kNone;
};

// Fills failure and returns false, for use in return statements.
bool Fail(ReadFailure* failure, SequenceFailureKind kind, int status, std::string message);

