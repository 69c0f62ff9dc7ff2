// The command lines of rnaqubo-fold, rnaqubo-seq and rnaqubo-anneal: options
// read against a tool's table, and the values of the options checked against
// their rules, each refusal a Failure kUsage that names the option and, for a
// bad value, the rule it breaks. Words from outside are shown through ShowText.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// One option of a tool's table.
struct OptionRow {
  const char* name;  // "--solution", or a short name such as "-o" or "-h"
  bool takes_value;  // a value follows: the next word, or for a long name the text after "="
};

// A command line read against a table of options.
struct OptionWords {
  std::vector<const char*> values;     // per row: its value, "" for a flag given, nullptr when absent
  std::vector<const char*> arguments;  // the words that are not options, in order
};

// Reads argv[1..argc - 1] against rows[0..row_count - 1]. Until a word "--",
// which ends the options, a word that starts with "--" or with '-' and a
// letter is an option; every other word ("-", "-200", "x.txt") is an
// argument. A long name takes its value as "--name VALUE" or "--name=VALUE",
// a short one as "-o VALUE". A flag given twice counts once. Throws Failure
// kUsage "Unknown option: <word>", "Option <name> takes no value", "Option
// <name> needs a value", "Option <name> needs a non-empty value" or "Option
// <name> given twice" (an option with a value given a second time).
OptionWords ReadOptionWords(const OptionRow* rows, size_t row_count, int argc, char** argv);

// The decimal digits of text as a number from low to high (what names the kind
// of number: "a whole number", "a record number"). Throws Failure kUsage
// "<option>: not <what> from <low> to <high>: <text>" for anything else, a
// sign, a space or too many digits included.
uint64_t ParseWholeOption(const char* option, const char* text, uint64_t low, uint64_t high,
                          const char* what = "a whole number");

// The seed of --seed: a whole number from 0 to 2^64 - 1, as ParseWholeOption
// reads it.
uint64_t ParseSeedOption(const char* text);

// The lowest and highest temperature an option takes, and their text in messages.
constexpr double kLowestTemperature = 1e-307;
constexpr double kHighestTemperature = 1e307;
constexpr const char* kTemperatureRule = "a temperature from 1e-307 to 1e307";

// A decimal number ("10", "0.5", "2e-3") from kLowestTemperature to
// kHighestTemperature. Throws Failure kUsage "<option>: not <kTemperatureRule>:
// <text>" for anything else (a sign other than an exponent's, "inf", "nan" and
// hexadecimal included).
double ParseTemperatureOption(const char* option, const char* text);

// The index of text among choices[0..count - 1]. Throws Failure kUsage
// "<option>: not <a>, <b> or <c>: <text>" (the choices in order) otherwise.
size_t ParseChoiceOption(const char* option, const char* text, const char* const* choices, size_t count);
