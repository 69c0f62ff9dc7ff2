// libFuzzer target for the reference structure reader of rnaqubo-fold.
//
// Input layout: byte 0 says how the folded sequence is made, the rest is the file.
//   bit 0 set:   n is the length of the first word of the file's last line that
//                counts, so that the structure fits; clear: n = (byte 0 >> 2) + 1.
//   bit 1 set:   the folded letters are the file's sequence line, read as the
//                reader reads it (other characters as A), so that it matches;
//                clear: A, C, G, U repeated.
// A successful parse must give a pairing that the structure line really holds;
// a failed one a message fit to show.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "core/failure.h"
#include "structure/reference_structure.h"
#include "fuzz_checks.h"

namespace {

constexpr int32_t kLongestSequence = 4096;
constexpr std::string_view kPath = "reference.dbn";
constexpr std::string_view kOpeners = "([{<";
constexpr std::string_view kClosers = ")]}>";

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

// The lines that count (neither blank nor starting with '#'), outer blanks and CR
// removed, found without the reader's code.
std::vector<std::string_view> CountedLines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t stop = text.find('\n', start);
    if (stop == std::string_view::npos) stop = text.size();
    std::string_view line = text.substr(start, stop - start);
    while (!line.empty() && (IsBlank(line.back()) || line.back() == '\r')) line.remove_suffix(1);
    while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
    if (!line.empty() && line[0] != '#') lines.push_back(line);
    start = stop + 1;
  }
  return lines;
}

std::string_view FirstWord(std::string_view line) {
  size_t length = 0;
  while (length < line.size() && !IsBlank(line[length])) ++length;
  return line.substr(0, length);
}

// A sequence line's letter as the reader compares it: upper case, T as U.
char ComparedLetter(char c) {
  if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return c == 'T' ? 'U' : c;
}

// Calls the parser; true with *reference filled, or false with *message set.
bool TryParse(const char* text, size_t size, const char* buffer, int32_t n,
              ReferenceStructure* reference, std::string* message) {
  try {
    *reference = ParseReferenceStructure(std::string(kPath), text, size, buffer, n);
    return true;
  } catch (const Failure& failure) {
    *message = failure.what();
    return false;
  }
}

// Checks that pairs is the pairing of structure: sorted by i, 1 <= i < j <= n, no
// position twice, an opener at i and the closer of its kind at j, every bracket
// used, and the pairs of each kind nested.
void CheckPairs(const std::vector<BasePair>& pairs, std::string_view structure, int32_t n) {
  std::vector<int32_t> partner(static_cast<size_t>(n) + 1, 0);
  int32_t previous_i = 0;
  for (const BasePair& pair : pairs) {
    Check(pair.i > previous_i);
    previous_i = pair.i;
    Check(1 <= pair.i && pair.i < pair.j && pair.j <= n);
    Check(partner[pair.i] == 0 && partner[pair.j] == 0);
    partner[pair.i] = pair.j;
    partner[pair.j] = pair.i;
    const size_t kind = kOpeners.find(structure[pair.i - 1]);
    Check(kind != std::string_view::npos);
    Check(structure[pair.j - 1] == kClosers[kind]);
  }
  // Each bracket is paired, and within a kind the pairs close in reverse order.
  for (size_t kind = 0; kind < kOpeners.size(); ++kind) {
    std::vector<int32_t> open;
    for (int32_t p = 1; p <= n; ++p) {
      const char c = structure[p - 1];
      if (c == '.') {
        Check(partner[p] == 0);
      } else if (c == kOpeners[kind]) {
        Check(partner[p] > p);
        open.push_back(p);
      } else if (c == kClosers[kind]) {
        Check(!open.empty() && open.back() == partner[p]);
        open.pop_back();
      }
    }
    Check(open.empty());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t mode = data[0];
  const char* text = reinterpret_cast<const char*>(data + 1);
  const std::string_view file(text, size - 1);

  std::vector<std::string_view> lines = CountedLines(file);
  std::string_view header;
  if (!lines.empty() && lines[0][0] == '>') {
    header = lines[0];
    lines.erase(lines.begin());
  }

  int32_t n = (mode >> 2) + 1;
  if ((mode & 1) != 0 && !lines.empty()) {
    n = static_cast<int32_t>(FirstWord(lines.back()).size());
    if (n < 1 || n > kLongestSequence) return 0;
  }
  // The folded sequence at positions 1..n, with a NUL on either side.
  std::string buffer(static_cast<size_t>(n) + 2, '\0');
  for (int32_t p = 1; p <= n; ++p) buffer[p] = "ACGU"[(p - 1) % 4];
  if ((mode & 2) != 0 && lines.size() == 2) {
    for (int32_t p = 1; p <= n && static_cast<size_t>(p) <= lines[0].size(); ++p) {
      const char letter = ComparedLetter(lines[0][p - 1]);
      buffer[p] = std::string_view("ACGU").find(letter) != std::string_view::npos ? letter : 'A';
    }
  }

  ReferenceStructure reference{"unset", {{-1, -1}}};
  std::string message;
  if (!TryParse(text, file.size(), buffer.data(), n, &reference, &message)) {
    CheckMessage(message);
    Check(message.compare(0, kPath.size() + 2, std::string(kPath) + ": ") == 0);
    return 0;
  }

  // A record is an optional header, an optional sequence line and a structure line.
  Check(lines.size() == 1 || lines.size() == 2);
  if (header.empty()) {
    Check(reference.name.empty());
  } else {
    header.remove_prefix(1);
    while (!header.empty() && IsBlank(header.front())) header.remove_prefix(1);
    Check(reference.name == header);
  }
  if (lines.size() == 2) {
    Check(lines[0].size() == static_cast<size_t>(n));
    for (int32_t p = 1; p <= n; ++p) Check(ComparedLetter(lines[0][p - 1]) == buffer[p]);
  }
  const std::string_view structure = FirstWord(lines.back());
  Check(structure.size() == static_cast<size_t>(n));
  Check(structure.find_first_not_of(".()[]{}<>") == std::string_view::npos);
  CheckPairs(reference.pairs, structure, n);
  return 0;
}
