#include "sequences/sequence_letters.h"

#include <string>

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
  if (letter >= 0x20 && letter < 0x7f) {
    *text += letter;
  } else {
    static const char kHex[] = "0123456789abcdef";
    const unsigned char byte = static_cast<unsigned char>(letter);
    *text += "\\x";
    *text += kHex[byte >> 4];
    *text += kHex[byte & 15];
  }
  *text += " at " + std::to_string(position);
}

std::string Plural(int64_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

bool Fail(ReadFailure* failure, SequenceFailureKind kind, int status, std::string message) {
  failure->kind = kind;
  failure->status = status;
  failure->message = std::move(message);
  return false;
}

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

bool NormaliseLetters(std::string_view raw, const LetterPolicy& policy, SequenceRecord* record,
                      ReadFailure* failure) {
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
  const std::string prefix = "record " + record->name + ": ";
  if (invalid > 0) {
    return Fail(failure, SequenceFailureKind::kInvalidLetters, kSeqStatusDataError,
                prefix + Plural(invalid, "letter that is", "letters that are") +
                    " neither a base, a gap nor an ambiguity code (" + invalid_shown +
                    (invalid > kShownPositions ? ", ..." : "") + ")");
  }
  if (ambiguous > 0 && policy.ambiguous == AmbiguousLetters::kRefuse) {
    return Fail(failure, SequenceFailureKind::kAmbiguous, kSeqStatusDataError,
                prefix + Plural(ambiguous, "ambiguous letter", "ambiguous letters") + " (" +
                    ambiguous_shown + (ambiguous > kShownPositions ? ", ..." : "") + ")");
  }
  record->ambiguous_dropped = ambiguous;
  if (record->letters.empty()) {
    return Fail(failure, SequenceFailureKind::kEmptyRecord, kSeqStatusDataError,
                position == 0 ? prefix + "the sequence is empty"
                              : prefix + "no base is left after removing " +
                                    Plural(position, "letter", "letters"));
  }
  return true;
}

bool AlignStructure(std::string_view raw, std::string_view structure, const LetterPolicy& policy,
                    const std::string& name, std::string* aligned, ReadFailure* failure) {
  const std::string prefix = "record " + name + ": ";
  std::string columns;  // the structure without white space
  for (const char c : structure) {
    if (ClassifyLetter(c) != LetterClass::kSpace) columns += c;
  }
  std::string letters;  // raw without white space
  for (const char c : raw) {
    if (ClassifyLetter(c) != LetterClass::kSpace) letters += c;
  }
  if (letters.size() != columns.size()) {
    return Fail(failure, SequenceFailureKind::kBadStructure, kSeqStatusDataError,
                prefix + "the structure has " + std::to_string(columns.size()) +
                    " characters for " + std::to_string(letters.size()) + " letters");
  }
  static constexpr std::string_view kOpen = "([{<", kClose = ")]}>";
  int64_t depth[4] = {0, 0, 0, 0};
  aligned->clear();
  for (size_t k = 0; k < columns.size(); ++k) {
    const char mark = columns[k];
    const std::string at = "position " + std::to_string(k + 1);
    if (mark != '.') {
      const size_t open = kOpen.find(mark), close = kClose.find(mark);
      if (open == std::string_view::npos && close == std::string_view::npos) {
        return Fail(failure, SequenceFailureKind::kBadStructure, kSeqStatusDataError,
                    prefix + at + " of the structure holds '" + std::string(1, mark) +
                        "', which is neither a bracket nor '.'");
      }
      if (open != std::string_view::npos) ++depth[open];
      if (close != std::string_view::npos && --depth[close] < 0) {
        return Fail(failure, SequenceFailureKind::kBadStructure, kSeqStatusDataError,
                    prefix + "'" + std::string(1, mark) + "' at " + at +
                        " of the structure closes nothing");
      }
    }
    const LetterClass letter_class = ClassifyLetter(letters[k]);
    const bool removed = letter_class == LetterClass::kGap ||
                         (letter_class == LetterClass::kAmbiguous &&
                          policy.ambiguous == AmbiguousLetters::kDrop);
    if (!removed) {
      aligned->push_back(mark);
    } else if (mark != '.') {
      return Fail(failure, SequenceFailureKind::kBadStructure, kSeqStatusDataError,
                  prefix + at + " (" + std::string(1, letters[k]) +
                      ") is removed from the sequence but paired in the structure");
    }
  }
  for (size_t kind = 0; kind < kOpen.size(); ++kind) {
    if (depth[kind] > 0) {
      return Fail(failure, SequenceFailureKind::kBadStructure, kSeqStatusDataError,
                  prefix + std::to_string(depth[kind]) + " '" + std::string(1, kOpen[kind]) +
                      "' of the structure never closed");
    }
  }
  return true;
}
