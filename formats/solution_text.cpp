#include "formats/solution_text.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "core/failure.h"
#include "core/shown_text.h"

namespace {

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool IsBinaryWord(const std::string& word) {
  return !word.empty() && word.find_first_not_of("01") == std::string::npos;
}

// The white-space-separated words of text.
std::vector<std::string> SplitWords(const char* text, size_t size) {
  std::vector<std::string> words;
  size_t k = 0;
  while (k < size) {
    while (k < size && IsSpace(text[k])) ++k;
    const size_t start = k;
    while (k < size && !IsSpace(text[k])) ++k;
    if (k > start) words.emplace_back(text + start, k - start);
  }
  return words;
}

// The decimal value of a word of digits, saturated beyond 32 bits; -1 when the
// word holds anything but digits.
int64_t WordNumber(const std::string& word) {
  int64_t value = 0;
  for (char c : word) {
    if (c < '0' || c > '9') return -1;
    value = std::min<int64_t>(value * 10 + (c - '0'), int64_t{1} << 40);
  }
  return value;
}

std::string RangeText(int32_t quad_count, bool zero_based) {
  if (quad_count == 0) return "the model has no variables";
  const int64_t first = zero_based ? 0 : 1;
  return "variables are numbered " + std::to_string(first) + " to " +
         std::to_string(int64_t{quad_count} - 1 + first);
}

[[noreturn]] void FailItem(const std::string& message) { throw Failure(FailureKind::kData, message); }

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// The length of the numbering header at the start of text (its line end
// included), 0 when the first line is no header. Throws for a header that is
// not one of the two, or that disagrees with zero_based.
size_t ReadNumberingHeader(const char* text, size_t size, bool zero_based) {
  if (size == 0) return 0;
  const char* line_end = static_cast<const char*>(std::memchr(text, '\n', size));
  const size_t line_size = line_end != nullptr ? static_cast<size_t>(line_end - text) : size;
  size_t begin = 0, end = line_size;
  while (begin < end && IsBlank(text[begin])) ++begin;
  if (begin == end || text[begin] != '#') return 0;
  while (end > begin && IsBlank(text[end - 1])) --end;
  const std::string_view header(text + begin, end - begin);
  const bool says_zero = header == kZeroBasedHeader;
  if (!says_zero && header != kOneBasedHeader) {
    FailItem(std::string("line 1: not a numbering header: expected \"") + kOneBasedHeader + "\" or \"" +
             kZeroBasedHeader + "\", found " + ShowQuoted(header, 60));
  }
  if (says_zero != zero_based) {
    FailItem("line 1 says " + ShowQuoted(header, 60) + ", but the answer is read " +
             (zero_based ? "zero-based (--zero-based)" : "one-based (without --zero-based)"));
  }
  return line_end != nullptr ? line_size + 1 : size;
}

}  // namespace

SelectionVerdict ReadSelectionArray(const int64_t* items, int64_t size, int32_t quad_count, bool mask,
                                    bool zero_based, bool repeats, uint8_t* chosen) {
  std::fill(chosen, chosen + quad_count + 1, 0);
  if (mask) {
    if (size != quad_count) return {SelectionFault::kLength, -1};
    for (int64_t k = 0; k < size; ++k) {
      if (items[k] != 0 && items[k] != 1) return {SelectionFault::kNotBit, k};
      chosen[k + 1] = static_cast<uint8_t>(items[k]);
    }
    return {SelectionFault::kNone, -1};
  }
  const int64_t shift = zero_based ? 1 : 0;
  for (int64_t k = 0; k < size; ++k) {
    // Compared before the shift: no overflow at the int64 limits.
    if (items[k] < 1 - shift || items[k] > int64_t{quad_count} - shift) return {SelectionFault::kOutOfRange, k};
    const int64_t variable = items[k] + shift;
    if (chosen[variable] != 0 && !repeats) return {SelectionFault::kRepeated, k};
    chosen[variable] = 1;
  }
  return {SelectionFault::kNone, -1};
}

std::vector<uint8_t> ParseSelectionText(const char* text, size_t size, int32_t quad_count, bool zero_based) {
  std::vector<uint8_t> chosen(static_cast<size_t>(quad_count) + 1, 0);
  const size_t header = ReadNumberingHeader(text, size, zero_based);
  const std::vector<std::string> words = SplitWords(text + header, size - header);
  // With zero_based every word is a number: "0" or "01" would otherwise be both
  // a variable number and a 0/1 string.
  if (!zero_based && words.size() == 1 && IsBinaryWord(words[0])) {
    const std::string& bits = words[0];
    if (bits.size() == static_cast<size_t>(quad_count)) {
      std::vector<int64_t> items(bits.size());
      for (size_t k = 0; k < bits.size(); ++k) items[k] = bits[k] == '1';
      ReadSelectionArray(items.data(), quad_count, quad_count, true, false, true, chosen.data());
      return chosen;
    }
    // A lone word of 0 and 1 that is no variable number is a string of the
    // wrong length; one that is a variable number is read as that number.
    const int64_t number = WordNumber(bits);
    const bool is_variable = (bits.size() == 1 || bits[0] != '0') && number >= 1 && number <= quad_count;
    if (!is_variable) {
      FailItem("a 0/1 string of " + std::to_string(bits.size()) + " characters, but the model has " +
               std::to_string(quad_count) + " variables");
    }
  }
  // A word that is no number reads as -1, outside every numbering: the first
  // item at fault is named for what it is.
  std::vector<int64_t> numbers(words.size());
  for (size_t k = 0; k < words.size(); ++k) numbers[k] = WordNumber(words[k]);
  const SelectionVerdict verdict = ReadSelectionArray(numbers.data(), static_cast<int64_t>(numbers.size()),
                                                      quad_count, false, zero_based, true, chosen.data());
  if (verdict.fault != SelectionFault::kNone) {
    const size_t k = static_cast<size_t>(verdict.item);
    const std::string item = "item " + std::to_string(k + 1) + " " + ShowQuoted(words[k], 40) + ": ";
    if (numbers[k] < 0) FailItem(item + "not a variable number");
    const bool looks_like_bits =
        words.size() == 1 && IsBinaryWord(words[0]) && words[0].size() == static_cast<size_t>(quad_count);
    FailItem(item + "out of range: " + RangeText(quad_count, zero_based) +
             (zero_based && looks_like_bits ? " (a 0/1 string is read only without --zero-based)" : ""));
  }
  return chosen;
}
