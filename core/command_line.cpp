#include "core/command_line.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/failure.h"
#include "core/shown_text.h"

namespace {

[[noreturn]] void FailUsage(const std::string& message) { throw Failure(FailureKind::kUsage, message); }

// Whether word is an option word: "--name", "--name=value", or '-' and a letter.
bool IsOptionWord(const char* word) {
  if (word[0] != '-') return false;
  if (word[1] == '-') return word[2] != '\0';
  const char c = word[1];
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

}  // namespace

OptionWords ReadOptionWords(const OptionRow* rows, size_t row_count, int argc, char** argv) {
  OptionWords words;
  words.values.assign(row_count, nullptr);
  bool options_ended = false;
  for (int k = 1; k < argc; ++k) {
    const char* word = argv[k];
    if (options_ended || !IsOptionWord(word)) {
      if (!options_ended && std::strcmp(word, "--") == 0) {
        options_ended = true;
      } else {
        words.arguments.push_back(word);
      }
      continue;
    }
    // Only a long name carries its value after "=".
    const char* equals = word[1] == '-' ? std::strchr(word, '=') : nullptr;
    const size_t name_size = equals != nullptr ? static_cast<size_t>(equals - word) : std::strlen(word);
    size_t row = 0;
    while (row < row_count &&
           !(std::strlen(rows[row].name) == name_size && std::strncmp(rows[row].name, word, name_size) == 0)) {
      ++row;
    }
    if (row == row_count) FailUsage("Unknown option: " + ShowText(word));
    const std::string name = rows[row].name;
    if (!rows[row].takes_value) {
      if (equals != nullptr) FailUsage("Option " + name + " takes no value");
      words.values[row] = "";
      continue;
    }
    // A second value would silently win over the first.
    if (words.values[row] != nullptr) FailUsage("Option " + name + " given twice");
    const char* value = nullptr;
    if (equals != nullptr) {
      value = equals + 1;
    } else if (k + 1 < argc) {
      value = argv[++k];
    } else {
      FailUsage("Option " + name + " needs a value");
    }
    if (*value == '\0') FailUsage("Option " + name + " needs a non-empty value");
    words.values[row] = value;
  }
  return words;
}

uint64_t ParseWholeOption(const char* option, const char* text, uint64_t low, uint64_t high, const char* what) {
  const size_t size = std::strlen(text);
  uint64_t value = 0;
  bool fits = size > 0 && std::strspn(text, "0123456789") == size;
  for (size_t k = 0; fits && k < size; ++k) {
    const uint64_t digit = static_cast<uint64_t>(text[k] - '0');
    fits = value <= (UINT64_MAX - digit) / 10;
    value = value * 10 + digit;
  }
  if (!fits || value < low || value > high) {
    FailUsage(std::string(option) + ": not " + what + " from " + std::to_string(low) + " to " +
              std::to_string(high) + ": " + ShowText(text));
  }
  return value;
}

uint64_t ParseSeedOption(const char* text) { return ParseWholeOption("--seed", text, 0, UINT64_MAX); }

double ParseTemperatureOption(const char* option, const char* text) {
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  // strtod alone would take "inf", "nan", hexadecimal and leading spaces.
  const bool decimal = *text != '\0' && std::strspn(text, "0123456789.eE+-") == std::strlen(text) &&
                       text[0] != '+' && text[0] != '-';
  if (!decimal || end == text || *end != '\0' || !std::isfinite(value) || !(value >= kLowestTemperature) ||
      !(value <= kHighestTemperature)) {
    FailUsage(std::string(option) + ": not " + kTemperatureRule + ": " + ShowText(text));
  }
  return value;
}

size_t ParseChoiceOption(const char* option, const char* text, const char* const* choices, size_t count) {
  std::string rule;
  for (size_t k = 0; k < count; ++k) {
    if (std::strcmp(text, choices[k]) == 0) return k;
    rule += k == 0 ? "" : k + 1 == count ? " or " : ", ";
    rule += choices[k];
  }
  FailUsage(std::string(option) + ": not " + rule + ": " + ShowText(text));
}
