// Reading dot-bracket (Vienna/dbn) files: records of a ">name" line, a sequence
// line and a structure line. Plain or compressed, read through htslib.
#pragma once

#include <string>
#include <vector>

#include "sequences/sequence_letters.h"

// One dot-bracket record as written in the file.
struct DbnRecord {
  std::string name;       // first word after '>'
  std::string sequence;   // the sequence line, letters not yet normalised
  std::string structure;  // the structure line, without a trailing energy such as "(-12.3)"
};

// Returns every record of the dot-bracket file at path, in file order. Blank
// lines are skipped; each record is a header, one sequence line and one
// structure line. Throws SequenceFailure: kUnreadable "<path>: dot-bracket file:
// cannot read: <reason>" (with errno) when the file cannot be read, a kData kind
// when it is damaged or not laid out as above (the line is named, 1-based).
std::vector<DbnRecord> ReadDbnRecords(const char* path);
