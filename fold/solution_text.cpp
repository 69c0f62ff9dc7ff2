#include "fold/solution_text.h"

#include <algorithm>

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

}  // namespace

std::string EscapeText(const std::string& text, size_t shown) {
  static const char kHex[] = "0123456789abcdef";
  std::string escaped;
  for (size_t k = 0; k < text.size() && k < shown; ++k) {
    const unsigned char c = static_cast<unsigned char>(text[k]);
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      escaped += static_cast<char>(c);
    } else {
      escaped += "\\x";
      escaped += kHex[c >> 4];
      escaped += kHex[c & 15];
    }
  }
  if (text.size() > shown) escaped += "...";
  return escaped;
}

std::string QuoteItem(const std::string& text) {
  std::string quoted = EscapeText(text, 40);
  for (size_t at = quoted.find('"'); at != std::string::npos; at = quoted.find('"', at)) {
    quoted.replace(at, 1, "\\x22");
  }
  return "\"" + quoted + "\"";
}

bool ParseSelectionText(const char* text, size_t size, int32_t quad_count, bool zero_based,
                        std::vector<uint8_t>* chosen, std::string* error) {
  chosen->assign(static_cast<size_t>(quad_count) + 1, 0);
  const std::vector<std::string> words = SplitWords(text, size);
  // With zero_based every word is a number: "0" or "01" would otherwise be both
  // a variable number and a 0/1 string.
  if (!zero_based && words.size() == 1 && IsBinaryWord(words[0])) {
    const std::string& bits = words[0];
    if (bits.size() == static_cast<size_t>(quad_count)) {
      for (int32_t v = 1; v <= quad_count; ++v) (*chosen)[v] = bits[v - 1] == '1';
      return true;
    }
    // A lone word of 0 and 1 that is no variable number is a string of the
    // wrong length; one that is a variable number is read as that number.
    const int64_t number = WordNumber(bits);
    const bool is_variable = (bits.size() == 1 || bits[0] != '0') && number >= 1 && number <= quad_count;
    if (!is_variable) {
      *error = "a 0/1 string of " + std::to_string(bits.size()) + " characters, but the model has " +
               std::to_string(quad_count) + " variables";
      return false;
    }
  }
  for (size_t k = 0; k < words.size(); ++k) {
    const std::string item = "item " + std::to_string(k + 1) + " " + QuoteItem(words[k]) + ": ";
    const int64_t number = WordNumber(words[k]);
    if (number < 0) {
      *error = item + "not a variable number";
      return false;
    }
    const int64_t variable = number + (zero_based ? 1 : 0);
    if (variable < 1 || variable > quad_count) {
      *error = item + "out of range: " + RangeText(quad_count, zero_based);
      const bool looks_like_bits =
          words.size() == 1 && IsBinaryWord(words[0]) && words[0].size() == static_cast<size_t>(quad_count);
      if (zero_based && looks_like_bits) *error += " (a 0/1 string is read only without --zero-based)";
      return false;
    }
    (*chosen)[variable] = 1;
  }
  return true;
}
