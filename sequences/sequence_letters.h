// The letter rules that turn a sequence as found in a FASTA, FASTQ or dot-bracket
// record, or in a plain string, into rnaqubo's bases A, C, G, U. No I/O.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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

// A letter the rules refuse, and where it is.
struct RefusedLetter {
  char letter = 0;
  int64_t offset = 0;     // its index in raw (0-based)
  int64_t position = 0;   // 1-based over the non-white characters of raw, gaps included
  std::string place;      // what a message says after "<letter> at "; the position by default
};

// The letters of a record the rules refuse, by kind: how many, and the first
// kShownRefusedLetters of each.
constexpr int kShownRefusedLetters = 5;
struct RefusedLetters {
  int64_t invalid = 0;    // neither a base, a gap nor an ambiguity code
  int64_t ambiguous = 0;  // ambiguity codes under AmbiguousLetters::kRefuse
  std::vector<RefusedLetter> invalid_shown, ambiguous_shown;
};

// Converts raw as NormaliseLetters does, but counts the letters it refuses in
// *refused (cleared first) instead of throwing, leaving them out of the
// letters. Throws SequenceFailure kEmptyRecord ("record <name>: ...") when no
// letter is refused and no base is left.
void ConvertLetters(std::string_view raw, const LetterPolicy& policy, SequenceRecord* record,
                    RefusedLetters* refused);

// Returns when refused holds no letter; otherwise throws SequenceFailure
// kInvalidLetters (before kAmbiguous) with the message prefix + "record <name>:
// <count> <what> (<letter> at <place>, ...)", the shown letters of that kind
// each at its place.
void FailRefusedLetters(const std::string& prefix, const std::string& name, const RefusedLetters& refused);

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
