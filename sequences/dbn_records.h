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

// Reads every record of the dot-bracket file at path into *records, in file order.
// Blank lines are skipped; each record is a header, one sequence line and one
// structure line. Returns false with *failure filled: status 2 when the file cannot
// be read, 1 when it is damaged or not laid out as above (the line is named, 1-based).
bool ReadDbnRecords(const char* path, std::vector<DbnRecord>* records, ReadFailure* failure);
