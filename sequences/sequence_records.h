// Reading sequence records from FASTA and FASTQ files, plain, gzip or bgzip,
// through htslib. Nothing here prints or ends the process: every failure is
// thrown as a SequenceFailure whose message names the file and the record.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "sequences/sequence_letters.h"

// Which record of a file to read.
enum class ChoiceKind {
  kFirst,    // the first record
  kByName,   // the first record whose name (first word of the header) is name
  kByIndex,  // the index-th record, counted from 1
};

struct RecordChoice {
  ChoiceKind kind = ChoiceKind::kFirst;
  std::string name;   // for kByName
  int64_t index = 0;  // for kByIndex, 1-based
};

// How a file is laid out, judged by its first non-white character after
// decompression.
enum class SequenceFileKind {
  kRnaquboInput,  // a count first: rnaqubo's own input format
  kFastaOrFastq,  // '>' or '@' first
  kOther,         // anything else, or nothing at all
};

// Reads the record chosen by choice from the FASTA or FASTQ file at path and
// returns it with its letters normalised by policy (name, letters, counts). When
// the file has a faidx index (path.fai, and path.gzi for bgzip) that holds up
// against the file (well-formed lines, a consistent layout, and the fetched record
// found exactly where the index puts it) the record is fetched by random access;
// otherwise the file is read in one streaming pass up to the record, and *note
// (when given) says why an existing index was not used. Throws SequenceFailure on any failure: kUnreadable "<path>:
// sequence file: cannot read: <reason>" (with errno) for a file that cannot be
// opened or read, a kData kind for anything else.
SequenceRecord ReadSequenceRecord(const char* path, const RecordChoice& choice, const LetterPolicy& policy,
                                  std::string* note = nullptr);

// Tells rnaqubo's own input format from FASTA/FASTQ. Throws SequenceFailure
// kUnreadable if the file cannot be opened or read.
SequenceFileKind DetectSequenceFileKind(const char* path);

// A streaming pass over every record of a file, in file order.
struct RecordStream;

// Closes the file of a stream and frees it.
struct RecordStreamCloser {
  void operator()(RecordStream* stream) const;
};
using RecordStreamPointer = std::unique_ptr<RecordStream, RecordStreamCloser>;

// Opens the FASTA or FASTQ file at path. Throws SequenceFailure if it cannot be
// opened (kUnreadable) or is not FASTA or FASTQ (kNotSequences).
RecordStreamPointer OpenRecordStream(const char* path);

// Reads the next record: its name into *name and its sequence as written (letters
// not yet normalised, line ends removed) into *raw. Returns true for a record and
// false at the end of a sound file; throws SequenceFailure for damaged or
// truncated data (kCorrupt) or a failed read (kUnreadable).
bool ReadRawRecord(RecordStream* stream, std::string* name, std::string* raw);

// The number of records returned so far by ReadRawRecord.
int64_t RecordsRead(const RecordStream* stream);
