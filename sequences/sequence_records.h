// Reading sequence records from FASTA and FASTQ files, plain, gzip or bgzip,
// through htslib. Nothing here prints or ends the process: every failure is
// returned in a ReadFailure whose message names the file and the record.
#pragma once

#include <cstdint>
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
// normalises its letters by policy into *record (name, letters, counts). When the
// file has a current faidx index (path.fai, and path.gzi for bgzip) the record is
// fetched by random access; otherwise the file is read in one streaming pass up
// to the record. Returns false with *failure filled on any failure.
bool ReadSequenceRecord(const char* path, const RecordChoice& choice, const LetterPolicy& policy,
                        SequenceRecord* record, ReadFailure* failure);

// Tells rnaqubo's own input format from FASTA/FASTQ. Returns false with *failure
// filled (status 2) if the file cannot be opened or read.
bool DetectSequenceFileKind(const char* path, SequenceFileKind* kind, ReadFailure* failure);

// A streaming pass over every record of a file, in file order.
struct RecordStream;

// Opens the FASTA or FASTQ file at path. Returns nullptr with *failure filled if it
// cannot be opened (status 2) or is not FASTA or FASTQ (status 1).
RecordStream* OpenRecordStream(const char* path, ReadFailure* failure);

// Reads the next record: its name into *name and its sequence as written (letters
// not yet normalised, line ends removed) into *raw. Returns 1 for a record, 0 at
// the end of a sound file, and -1 with *failure filled for damaged or truncated data
// (status 1) or a failed read (status 2).
int ReadRawRecord(RecordStream* stream, std::string* name, std::string* raw, ReadFailure* failure);

// The number of records returned so far by ReadRawRecord.
int64_t RecordsRead(const RecordStream* stream);

// Closes the file and frees the stream (nullptr is allowed).
void CloseRecordStream(RecordStream* stream);
