// libFuzzer target for the letter rules of rnaqubo-seq: NormaliseLetters and
// AlignStructure.
//
// Input layout: bit 0 of byte 0 chooses AmbiguousLetters::kDrop (else kRefuse);
// the rest, split at its first NUL byte, is the raw sequence and, after the NUL,
// its dot-bracket line (empty when there is no NUL). Both results are checked
// against a count of the raw characters made here, and against each other.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/failure.h"
#include "fuzz_checks.h"
#include "sequences/sequence_letters.h"

namespace {

const std::string kName = "fuzz";
constexpr std::string_view kOpeners = "([{<";
constexpr std::string_view kClosers = ")]}>";

bool IsWhite(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The raw characters by what becomes of them.
struct LetterCounts {
  std::string non_white;  // raw without white space
  std::string letters;    // what NormaliseLetters keeps, as it writes it
  std::string kept;       // per non-white character, 1 if AlignStructure keeps its column
  int64_t thymines = 0, gaps = 0, ambiguous = 0, invalid = 0;
};

LetterCounts CountLetters(std::string_view raw, bool drop) {
  LetterCounts counts;
  for (const char c : raw) {
    if (IsWhite(c)) continue;
    counts.non_white += c;
    const char upper = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    bool kept = true;
    if (std::string_view("ACGU").find(upper) != std::string_view::npos) {
      counts.letters += upper;
    } else if (upper == 'T') {
      counts.letters += 'U';
      ++counts.thymines;
    } else if (c == '-' || c == '.') {
      ++counts.gaps;
      kept = false;
    } else if (std::string_view("NRYKMSWBDHV").find(upper) != std::string_view::npos) {
      ++counts.ambiguous;
      kept = !drop;
    } else {
      ++counts.invalid;
    }
    counts.kept += kept ? '1' : '0';
  }
  return counts;
}

// What AlignStructure must give for structure, or false: a '.' or bracket per
// column, each kind balanced, removed columns unpaired.
bool ExpectAligned(const LetterCounts& counts, std::string_view structure, std::string* aligned) {
  std::string marks;
  for (const char c : structure) {
    if (!IsWhite(c)) marks += c;
  }
  if (marks.size() != counts.non_white.size()) return false;
  int64_t depth[4] = {0, 0, 0, 0};
  aligned->clear();
  for (size_t k = 0; k < marks.size(); ++k) {
    const char mark = marks[k];
    if (mark != '.') {
      const size_t open = kOpeners.find(mark), close = kClosers.find(mark);
      if (open == std::string_view::npos && close == std::string_view::npos) return false;
      if (open != std::string_view::npos) ++depth[open];
      if (close != std::string_view::npos && --depth[close] < 0) return false;
      if (counts.kept[k] == '0') return false;
    }
    if (counts.kept[k] == '1') *aligned += mark;
  }
  for (const int64_t d : depth) {
    if (d != 0) return false;
  }
  return true;
}

// Calls NormaliseLetters; true with *record filled, or false with *message set.
bool TryNormalise(std::string_view raw, const LetterPolicy& policy, SequenceRecord* record,
                  std::string* message) {
  try {
    NormaliseLetters(raw, policy, record);
    return true;
  } catch (const Failure& failure) {
    *message = failure.what();
  }
  return false;
}

// Calls AlignStructure; true with *aligned filled, or false with *message set.
bool TryAlign(std::string_view raw, std::string_view structure, const LetterPolicy& policy,
              std::string* aligned, std::string* message) {
  try {
    *aligned = AlignStructure(raw, structure, policy, kName);
    return true;
  } catch (const Failure& failure) {
    *message = failure.what();
  }
  return false;
}

void CheckFailureMessage(const std::string& message) {
  CheckMessage(message);
  Check(message.starts_with("record " + kName + ": "));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  LetterPolicy policy;
  const bool drop = (data[0] & 1) != 0;
  if (drop) policy.ambiguous = AmbiguousLetters::kDrop;
  const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  const size_t split = rest.find('\0');
  const std::string_view raw = rest.substr(0, split);
  const std::string_view structure =
      split == std::string_view::npos ? std::string_view() : rest.substr(split + 1);
  const LetterCounts counts = CountLetters(raw, drop);

  SequenceRecord record;
  record.name = kName;
  std::string message;
  const bool normalised = TryNormalise(raw, policy, &record, &message);
  Check(normalised ==
        (counts.invalid == 0 && (drop || counts.ambiguous == 0) && !counts.letters.empty()));
  if (normalised) {
    Check(record.name == kName);
    Check(record.letters == counts.letters);
    Check(record.thymines_converted == counts.thymines);
    Check(record.gaps_removed == counts.gaps);
    Check(record.ambiguous_dropped == counts.ambiguous);
    Check(static_cast<int64_t>(record.letters.size()) + record.gaps_removed +
              record.ambiguous_dropped ==
          static_cast<int64_t>(counts.non_white.size()));
  } else {
    CheckFailureMessage(message);
  }

  std::string expected;
  const bool fits = ExpectAligned(counts, structure, &expected);
  std::string aligned = "unset";
  message.clear();
  const bool aligned_ok = TryAlign(raw, structure, policy, &aligned, &message);
  Check(aligned_ok == fits);
  if (!aligned_ok) {
    CheckFailureMessage(message);
    return 0;
  }
  Check(aligned == expected);
  // The structure lines up with the letters it goes with.
  if (normalised) Check(aligned.size() == record.letters.size());
  return 0;
}
