// The letters of a sequence for the Python module: from a string by the letter
// rules of rnaqubo-seq, or from a file in rnaqubo's own input format (a count,
// then one word per base) or in FASTA or FASTQ (through rnaqubo-seq's reader).
#pragma once

#include <string>

#include "sequences/sequence_letters.h"
#include "sequences/sequence_records.h"

// The n letters (A, C, G, U) of the sequence file at path in rnaqubo's input
// format, read as rnaqubo reads it, n taken from the file's count. Throws
// FileFailure when the file cannot be read, and RunFailure (status 1) with
// "<path>: " and rnaqubo's message for bad content ("Nothing read from Sequence",
// "Invalid gene base read: <word>", "Error in sequence length <n>").
std::string ReadRnaquboSequenceFile(const std::string& path);

// The letters of text by rnaqubo-seq's letter rules: upper or lower case, T as
// U, gaps '-' and '.' and white space removed, ambiguity codes refused or
// dropped by policy. Throws RunFailure (status 1) with the rules' message when a
// letter is refused or no base is left.
std::string NormaliseSequenceText(const std::string& text, const LetterPolicy& policy);

// The sequence file at path, told apart by its content: rnaqubo's input format
// (read by ReadRnaquboSequenceFile; choice must be ChoiceKind::kFirst), or FASTA
// or FASTQ, plain, gzip or bgzip, whose record chosen by choice is read and its
// letters normalised by policy. Sets *name to the record's name (empty for
// rnaqubo's format) and returns the letters. Throws FileFailure when the file
// cannot be opened, RunFailure with the reader's message otherwise.
std::string ReadSequenceFileLetters(const std::string& path, const RecordChoice& choice,
                                    const LetterPolicy& policy, std::string* name);
