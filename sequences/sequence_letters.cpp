#include "sequences/sequence_letters.h"

#include <string>
#include <vector>

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

// "X at 5, Y at 17, ..." for the shown letters of a kind, count in all.
std::string ShownLetters(const std::vector<RefusedLetter>& shown, int64_t count) {
  std::string text;
  for (const RefusedLetter& letter : shown) {
    if (!text.empty()) text += ", ";
    text += ShowText(std::string_view(&letter.letter, 1)) + " at " + letter.place;
  }
  return text + (count > static_cast<int64_t>(shown.size()) ? ", ..." : "");
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

void ConvertLetters(std::string_view raw, const LetterPolicy& policy, SequenceRecord* record,
                    RefusedLetters* refused) {
  *refused = RefusedLetters{};
  record->letters.clear();
  record->letters.reserve(raw.size());
  record->thymines_converted = record->gaps_removed = record->ambiguous_dropped = 0;
  int64_t position = 0;
  auto refuse = [&](char c, size_t offset, int64_t* count, std::vector<RefusedLetter>* shown) {
    if (*count < kShownRefusedLetters) {
      shown->push_back(RefusedLetter{c, static_cast<int64_t>(offset), position, std::to_string(position)});
    }
    ++*count;
  };
  for (size_t offset = 0; offset < raw.size(); ++offset) {
    const char c = raw[offset];
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
        if (policy.ambiguous == AmbiguousLetters::kDrop) {
          ++record->ambiguous_dropped;
        } else {
          refuse(c, offset, &refused->ambiguous, &refused->ambiguous_shown);
        }
        break;
      default:
        refuse(c, offset, &refused->invalid, &refused->invalid_shown);
        break;
    }
  }
  if (refused->invalid > 0 || refused->ambiguous > 0 || !record->letters.empty()) return;
  const std::string prefix = RecordPrefix(record->name);
  FailLetters(SequenceFailureKind::kEmptyRecord,
              position == 0 ? prefix + "the sequence is empty"
                            : prefix + "no base is left after removing " + Plural(position, "letter", "letters"));
}

void FailRefusedLetters(const std::string& prefix, const std::string& name, const RefusedLetters& refused) {
  if (refused.invalid > 0) {
    FailLetters(SequenceFailureKind::kInvalidLetters,
                prefix + RecordPrefix(name) + Plural(refused.invalid, "letter that is", "letters that are") +
                    " neither a base, a gap nor an ambiguity code (" +
                    ShownLetters(refused.invalid_shown, refused.invalid) + ")");
  }
  if (refused.ambiguous > 0) {
    FailLetters(SequenceFailureKind::kAmbiguous,
                prefix + RecordPrefix(name) + Plural(refused.ambiguous, "ambiguous letter", "ambiguous letters") +
                    " (" + ShownLetters(refused.ambiguous_shown, refused.ambiguous) + ")");
  }
}

void NormaliseLetters(std::string_view raw, const LetterPolicy& policy, SequenceRecord* record) {
  RefusedLetters refused;
  ConvertLetters(raw, policy, record, &refused);
  FailRefusedLetters("", record->name, refused);
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
