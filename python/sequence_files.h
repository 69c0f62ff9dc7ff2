// The letters of a sequence for the Python module: from a string by the letter
// rules of rnaqubo-seq, or from a file in rnaqubo's own input format (a count,
// then one word per base) or in FASTA or FASTQ (through rnaqubo-seq's reader).
#pragma once

#include <string>

#include "sequences/sequence_letters.h"
#include "sequences/sequence_records.h"

// The letters of text by rnaqubo-seq's letter rules: upper or lower case, T as
// U, gaps '-' and '.' and white space removed, ambiguity codes refused or
// dropped by policy. Throws SequenceFailure (kData) with the rules' message,
// without the "record <name>: " a string has no use for, when a letter is
// refused or no base is left.
std::string NormaliseSequenceText(const std::string& text, const LetterPolicy& policy);

// The sequence file at path, told apart by its content: rnaqubo's input format
// (read by the sequence reader of core, n taken from its count; choice must be
// ChoiceKind::kFirst), or FASTA or FASTQ, plain, gzip or bgzip, whose record
// chosen by choice is read and its letters normalised by policy. Sets *name to
// the record's name (empty for rnaqubo's format) and returns the letters. Throws
// the readers' failures: kFile "<path>: sequence file: cannot read: <reason>"
// (with path and errno) when the file cannot be opened or read, kData otherwise.
std::string ReadSequenceFileLetters(const std::string& path, const RecordChoice& choice,
                                    const LetterPolicy& policy, std::string* name);
