// The letter rules that turn a sequence as found in a FASTA, FASTQ or dot-bracket
// record, or in a plain string, into rnaqubo's bases A, C, G, U. No I/O.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "sequences/sequence_failure.h"

// What to do with IUPAC ambiguity codes (N, R, Y, K, M, S, W, B, D, H, V).
enum class AmbiguousLetters {
  kRefuse,  // the record is refused (the default)
  kDrop,    // the letters are removed; later positions shift
};

// The letter rules in force.
struct LetterPolicy {
  AmbiguousLetters ambiguous = AmbiguousLetters::kRefuse;
};

// One record as rnaqubo uses it.
struct SequenceRecord {
  std::string name;               // first word of the header line
  std::string letters;            // A, C, G, U only, upper case
  int64_t thymines_converted = 0; // T or t written as U
  int64_t gaps_removed = 0;       // '-' and '.' removed
  int64_t ambiguous_dropped = 0;  // ambiguity codes removed under AmbiguousLetters::kDrop
};

// True for an IUPAC ambiguity code (N, R, Y, K, M, S, W, B, D, H, V), either case.
bool IsAmbiguityCode(char letter);

// Converts raw into record->letters and sets the three counts in record (its name
// is left as it is). Upper or lower case; T/t becomes U; '-' and '.' are removed;
// white space is skipped and not counted. Ambiguity codes are refused or dropped
// by policy; any other character is refused. Positions in messages are 1-based
// over the non-white characters of raw. Throws SequenceFailure (kInvalidLetters,
// kAmbiguous or kEmptyRecord) with a message starting "record <name>: " for
// refused letters or nothing left.
void NormaliseLetters(std::string_view raw, const LetterPolicy& policy, SequenceRecord* record);

// Returns the characters of structure (a dot-bracket line the length of raw,
// white space excluded) at the columns NormaliseLetters keeps from raw, so that
// they line up with the letters. Throws SequenceFailure kBadStructure, with a
// message starting "record <name>: ", if the lengths differ, if the brackets do
// not match (MatchBrackets' message after "structure: "), or if a removed column
// is paired.
std::string AlignStructure(std::string_view raw, std::string_view structure, const LetterPolicy& policy,
                           const std::string& name);
