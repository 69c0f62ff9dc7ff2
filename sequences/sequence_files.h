// The letters of one sequence, as the Python module takes them: from a string
// by the letter rules of rnaqubo-seq, or from a file told apart by its content:
// rnaqubo's own input format (a count, then one word per base), FASTA or FASTQ,
// or a Stockholm alignment (through rnaqubo-seq's readers).
#pragma once

#include <string>

#include "sequences/sequence_letters.h"
#include "sequences/sequence_records.h"
#include "sequences/stockholm_records.h"

// The letters of text by rnaqubo-seq's letter rules: upper or lower case, T as
// U, gaps '-' and '.' and white space removed, ambiguity codes refused or
// dropped by policy. Throws SequenceFailure (kData) with the rules' message,
// without the "record <name>: " a string has no use for, when a letter is
// refused or no base is left.
std::string NormaliseSequenceText(const std::string& text, const LetterPolicy& policy);

// A record of a sequence file as the module takes it.
struct SequenceFileRecord {
  std::string name;          // the record's name, empty for rnaqubo's format
  std::string letters;       // A, C, G, U
  bool has_reference = false;  // true when a Stockholm alignment gives the record a structure
  std::string reference;     // dot-bracket over letters, when has_reference
};

// The sequence file at path, told apart by its content: rnaqubo's input format
// (read by the sequence reader of core, n taken from its count; choice must be
// ChoiceKind::kFirst), FASTA or FASTQ, plain, gzip or bgzip, whose record
// chosen by choice is read and its letters normalised by policy, or a Stockholm
// alignment, whose row chosen by choice (numbered from 1 across its alignments)
// is projected as rnaqubo-seq projects it, with its reference from the
// structure line which. Throws the readers' failures: kFile "<path>: sequence
// file: cannot read: <reason>" (with path and errno) when the file cannot be
// opened or read, kData otherwise, and kUsage "<path>: structure=\"own\" needs a
// Stockholm alignment" for StockholmStructure::kOwn with another format.
SequenceFileRecord ReadSequenceFileRecord(const std::string& path, const RecordChoice& choice,
                                          StockholmStructure which, const LetterPolicy& policy);
