// The failure type of the sequence library: what went wrong in reading a
// sequence file or converting its letters. Like every library failure it is
// thrown (see core/failure.h); its message names the file and the record
// where known, with every byte from outside shown through ShowText.
#pragma once

#include <string>

#include "core/failure.h"

// Why a read or a conversion failed.
enum class SequenceFailureKind {
  kUnreadable,      // a file cannot be opened, read or written (FailureKind::kFile)
  kCorrupt,         // compressed data truncated or damaged, FASTQ record cut short
  kNotSequences,    // the file is not FASTA or FASTQ
  kNoSuchRecord,    // the named or numbered record is not in the file
  kEmptyRecord,     // the record has no letters, or none left after removals
  kAmbiguous,       // ambiguity codes under AmbiguousLetters::kRefuse
  kInvalidLetters,  // letters that are neither bases, gaps nor ambiguity codes
  kBadStructure,    // a dot-bracket line that does not fit its sequence
};

// A failure of the sequence library: kFile for kUnreadable (with the path and
// errno where one applies), kData for every other kind.
class SequenceFailure : public Failure {
 public:
  SequenceFailure(SequenceFailureKind kind, const std::string& message, std::string path = {}, int error_number = 0)
      : Failure(kind == SequenceFailureKind::kUnreadable ? FailureKind::kFile : FailureKind::kData, message,
                std::move(path), error_number),
        sequence_kind_(kind) {}
  SequenceFailureKind sequence_kind() const { return sequence_kind_; }

 private:
  SequenceFailureKind sequence_kind_;
};
