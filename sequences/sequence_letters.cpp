#include "sequences/sequence_letters.h"

#include <string>

#include "core/dot_bracket.h"
#include "core/shown_text.h"

namespace {

// What becomes of one character of a raw sequence.
enum class LetterClass { kBase, kThymine, kGap, kAmbiguous, kSpace, kInvalid };

LetterClass ClassifyLetter(char c) {
  switch (c) {
    case 'A': case 'C': case 'G': case 'U':
    case 'a': case 'c': case 'g': case 'u':
      return LetterClass::kBase;
    case 'T': case 't':
      return LetterClass::kThymine;
    case '-': case '.':
      return LetterClass::kGap;
    case ' ': case '\t': case '\n': case '\r': case '\v': case '\f':
      return LetterClass::kSpace;
    default:
      return IsAmbiguityCode(c) ? LetterClass::kAmbiguous : LetterClass::kInvalid;
  }
}

// "X at 5, Y at 17, ..." for the first few (letter, position) items.
constexpr int kShownPositions = 5;

void AppendShown(std::string* text, char letter, int64_t position, int64_t shown) {
  if (shown > 0) *text += ", ";
  *text += ShowText(std::string_view(&letter, 1)) + " at " + std::to_string(position);
}

// The start of every message about the record called name.
std::string RecordPrefix(const std::string& name) { return "record " + ShowText(name) + ": "; }

[[noreturn]] void FailLetters(SequenceFailureKind kind, const std::string& message) {
  throw SequenceFailure(kind, message);
}

std::string Plural(int64_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

bool IsAmbiguityCode(char letter) {
  switch (letter) {
    case 'N': case 'R': case 'Y': case 'K': case 'M': case 'S':
    case 'W': case 'B': case 'D': case 'H': case 'V':
    case 'n': case 'r': case 'y': case 'k': case 'm': case 's':
    case 'w': case 'b': case 'd': case 'h': case 'v':
      return true;
    default:
      return false;
  }
}

void NormaliseLetters(std::string_view raw, const LetterPolicy& policy, SequenceRecord* record) {
  record->letters.clear();
  record->letters.reserve(raw.size());
  record->thymines_converted = record->gaps_removed = record->ambiguous_dropped = 0;
  int64_t position = 0, ambiguous = 0, invalid = 0;
  std::string ambiguous_shown, invalid_shown;
  for (const char c : raw) {
    const LetterClass letter_class = ClassifyLetter(c);
    if (letter_class == LetterClass::kSpace) continue;
    ++position;
    switch (letter_class) {
      case LetterClass::kBase:
        record->letters += static_cast<char>(c & ~0x20);
        break;
      case LetterClass::kThymine:
        record->letters += 'U';
        ++record->thymines_converted;
        break;
      case LetterClass::kGap:
        ++record->gaps_removed;
        break;
      case LetterClass::kAmbiguous:
        if (ambiguous < kShownPositions) AppendShown(&ambiguous_shown, c, position, ambiguous);
        ++ambiguous;
        break;
      default:
        if (invalid < kShownPositions) AppendShown(&invalid_shown, c, position, invalid);
        ++invalid;
        break;
    }
  }
  const std::string prefix = RecordPrefix(record->name);
  if (invalid > 0) {
    FailLetters(SequenceFailureKind::kInvalidLetters,
                prefix + Plural(invalid, "letter that is", "letters that are") +
                    " neither a base, a gap nor an ambiguity code (" + invalid_shown +
                    (invalid > kShownPositions ? ", ..." : "") + ")");
  }
  if (ambiguous > 0 && policy.ambiguous == AmbiguousLetters::kRefuse) {
    FailLetters(SequenceFailureKind::kAmbiguous,
                prefix + Plural(ambiguous, "ambiguous letter", "ambiguous letters") + " (" + ambiguous_shown +
                    (ambiguous > kShownPositions ? ", ..." : "") + ")");
  }
  record->ambiguous_dropped = ambiguous;
  if (record->letters.empty()) {
    FailLetters(SequenceFailureKind::kEmptyRecord,
                position == 0 ? prefix + "the sequence is empty"
                              : prefix + "no base is left after removing " + Plural(position, "letter", "letters"));
  }
}

std::string AlignStructure(std::string_view raw, std::string_view structure, const LetterPolicy& policy,
                           const std::string& name) {
  const std::string prefix = RecordPrefix(name);
  std::string columns;  // the structure without white space
  for (const char c : structure) {
    if (ClassifyLetter(c) != LetterClass::kSpace) columns += c;
  }
  std::string letters;  // raw without white space
  for (const char c : raw) {
    if (ClassifyLetter(c) != LetterClass::kSpace) letters += c;
  }
  if (letters.size() != columns.size()) {
    FailLetters(SequenceFailureKind::kBadStructure, prefix + "the structure has " + std::to_string(columns.size()) +
                                                        " characters for " + std::to_string(letters.size()) +
                                                        " letters");
  }
  try {
    MatchBrackets(columns);
  } catch (const Failure& failure) {
    FailLetters(SequenceFailureKind::kBadStructure, prefix + "structure: " + failure.what());
  }
  std::string aligned;
  for (size_t k = 0; k < columns.size(); ++k) {
    const LetterClass letter_class = ClassifyLetter(letters[k]);
    const bool removed = letter_class == LetterClass::kGap ||
                         (letter_class == LetterClass::kAmbiguous && policy.ambiguous == AmbiguousLetters::kDrop);
    if (!removed) {
      aligned.push_back(columns[k]);
    } else if (columns[k] != '.') {
      FailLetters(SequenceFailureKind::kBadStructure,
                  prefix + "position " + std::to_string(k + 1) + " (" + ShowText(std::string_view(&letters[k], 1)) +
                      ") is removed from the sequence but paired in the structure");
    }
  }
  return aligned;
}
