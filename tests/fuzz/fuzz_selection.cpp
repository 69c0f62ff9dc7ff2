// libFuzzer target for the solution reader of rnaqubo-fold.
//
// Input layout: bit 0 of byte 0 is zero_based; the rest of byte 0 and byte 1 give
// quad_count = (byte 0 >> 1) * 256 + byte 1 (0..32767); the rest is the text.
// The outcome is checked against a plain re-reading of the same words, after
// the numbering header when the first line is one.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/failure.h"
#include "formats/solution_text.h"
#include "fuzz_checks.h"

namespace {

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

std::vector<std::string_view> Words(std::string_view text) {
  std::vector<std::string_view> words;
  size_t k = 0;
  while (k < text.size()) {
    while (k < text.size() && IsSpace(text[k])) ++k;
    const size_t start = k;
    while (k < text.size() && !IsSpace(text[k])) ++k;
    if (k > start) words.push_back(text.substr(start, k - start));
  }
  return words;
}

// The 1-based variable a word of digits names, or -1 when it holds anything else
// (huge numbers come out as some value beyond any quad_count).
int64_t WordVariable(std::string_view word, bool zero_based) {
  int64_t value = 0;
  for (const char c : word) {
    if (c < '0' || c > '9') return -1;
    if (value < (int64_t{1} << 40)) value = value * 10 + (c - '0');
  }
  return value + (zero_based ? 1 : 0);
}

// The first line of text without blanks, tabs and '\r' at its ends.
std::string_view FirstLineTrimmed(std::string_view text) {
  std::string_view line = text.substr(0, text.find('\n'));
  const size_t begin = line.find_first_not_of(" \t\r");
  if (begin == std::string_view::npos) return {};
  line = line.substr(begin);
  return line.substr(0, line.find_last_not_of(" \t\r") + 1);
}

// What the reader must make of text: the chosen variables, or false.
bool Expect(std::string_view text, int32_t quad_count, bool zero_based, std::vector<uint8_t>* chosen) {
  chosen->assign(static_cast<size_t>(quad_count) + 1, 0);
  const std::string_view first = FirstLineTrimmed(text);
  if (!first.empty() && first[0] == '#') {
    if (first != (zero_based ? "# numbering: zero-based" : "# numbering: one-based")) return false;
    text = text.find('\n') == std::string_view::npos ? std::string_view() : text.substr(text.find('\n') + 1);
  }
  const std::vector<std::string_view> words = Words(text);
  const bool one_binary_word = !zero_based && words.size() == 1 &&
                               words[0].find_first_not_of("01") == std::string_view::npos;
  if (one_binary_word && words[0].size() == static_cast<size_t>(quad_count)) {
    for (int32_t v = 1; v <= quad_count; ++v) (*chosen)[v] = words[0][v - 1] == '1';
    return true;
  }
  // A 0/1 word with a leading zero is a string of the wrong length, not a number.
  if (one_binary_word && words[0].size() > 1 && words[0][0] == '0') return false;
  for (const std::string_view word : words) {
    const int64_t variable = WordVariable(word, zero_based);
    if (variable < 1 || variable > quad_count) return false;
    (*chosen)[variable] = 1;
  }
  return true;
}

// Calls the reader; true with *chosen filled, or false with *message set.
bool TryParse(std::string_view text, int32_t quad_count, bool zero_based, std::vector<uint8_t>* chosen,
              std::string* message) {
  try {
    *chosen = ParseSelectionText(text.data(), text.size(), quad_count, zero_based);
    return true;
  } catch (const Failure& failure) {
    *message = failure.what();
    return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const bool zero_based = (data[0] & 1) != 0;
  const int32_t quad_count = (data[0] >> 1) * 256 + data[1];
  const std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);

  std::vector<uint8_t> expected;
  const bool valid = Expect(text, quad_count, zero_based, &expected);
  std::vector<uint8_t> chosen(3, 7);
  std::string message;
  const bool read = TryParse(text, quad_count, zero_based, &chosen, &message);
  Check(read == valid);
  if (!read) {
    CheckMessage(message);
    return 0;
  }
  Check(chosen == expected);
  return 0;
}
