// Reading a text file line by line, plain, gzip or bgzip, through htslib. Nothing
// here prints: every failure is thrown as a SequenceFailure naming the file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "sequences/sequence_failure.h"

// An open file read line by line.
struct LineFile;

// Closes the file of a LineFile and frees it.
struct LineFileCloser {
  void operator()(LineFile* file) const;
};
using LineFilePointer = std::unique_ptr<LineFile, LineFileCloser>;

// Opens the file at path; what names its kind in messages ("dot-bracket file").
// Throws SequenceFailure kUnreadable "<path>: <what>: cannot read: <reason>" (with
// errno) for a file that cannot be opened or is a directory.
LineFilePointer OpenLineFile(const char* path, const char* what);

// Opens standard input from where it stands, named "-" in messages; what as for
// OpenLineFile. Reads through a duplicate of descriptor 0, so that closing the
// LineFile leaves standard input open (its position is shared and moves).
// Throws SequenceFailure kUnreadable "-: <what>: cannot read: <reason>".
LineFilePointer OpenStandardInputLines(const char* what);

// Reads the next line into *line, without its line end or a trailing '\r'.
// Returns false at the end of the file; throws SequenceFailure kCorrupt
// "<path>: the compressed data is damaged or truncated" or kUnreadable for a
// failed read.
bool ReadLine(LineFile* file, std::string* line);

// The number of lines read so far, so the 1-based number of the last one read.
int64_t LinesRead(const LineFile* file);
