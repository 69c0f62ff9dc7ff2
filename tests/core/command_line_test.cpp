// The shared option parser and value checks at their edges: which words are
// options, where a value comes from, the limits of whole numbers and
// temperatures, and what a refusal says.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/command_line.h"
#include "core/failure.h"

namespace {

constexpr OptionRow kRows[] = {{"--title", true}, {"-o", true}, {"--flag", false}, {"-h", false}};

// The words of line read against kRows, "values|arguments" (absent as "-",
// a flag as "+"), or "! <message>" for a refusal.
std::string Read(std::vector<std::string> line) {
  line.insert(line.begin(), "tool");
  std::vector<char*> argv;
  for (std::string& word : line) argv.push_back(word.data());
  try {
    const OptionWords words = ReadOptionWords(kRows, std::size(kRows), static_cast<int>(argv.size()), argv.data());
    std::string shown;
    for (const char* value : words.values) {
      shown += value == nullptr ? "-," : *value == '\0' ? "+," : std::string(value) + ",";
    }
    shown += "|";
    for (const char* argument : words.arguments) shown += std::string(argument) + ",";
    return shown;
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.kind(), FailureKind::kUsage);
    return std::string("! ") + failure.what();
  }
}

TEST(CommandLine, ReadsOptionsAndArgumentsByTheTable) {
  const struct {
    std::vector<std::string> line;
    std::string expected;
  } cases[] = {
      {{"--title=a=b", "x", "-200", "-", "-o", "-"}, "a=b,-,-,-,|x,-200,-,"},
      {{"--title", "--flag", "--flag", "-h"}, "--flag,-,+,+,|"},
      {{"--", "--flag", "-o"}, "-,-,-,-,|--flag,-o,"},
      {{"-o=x"}, "! Unknown option: -o=x"},
      {{"-x1"}, "! Unknown option: -x1"},
      {{"--title", "a", "--title=b"}, "! Option --title given twice"},
      {{"--flag=1"}, "! Option --flag takes no value"},
      {{"x", "-o"}, "! Option -o needs a value"},
      {{"--title="}, "! Option --title needs a non-empty value"},
      {{"--t\x01"}, "! Unknown option: --t\\x01"},
  };
  for (const auto& c : cases) EXPECT_EQ(Read(c.line), c.expected) << c.line[0];
}

// The value of text, or the refusal's message.
template <typename Parse>
std::string Value(Parse parse) {
  try {
    return std::to_string(parse());
  } catch (const Failure& failure) {
    return failure.what();
  }
}

TEST(CommandLine, ChecksValuesAgainstTheirRules) {
  EXPECT_EQ(Value([] { return ParseSeedOption("18446744073709551615"); }), "18446744073709551615");
  EXPECT_EQ(Value([] { return ParseSeedOption("018446744073709551615"); }), "18446744073709551615");
  for (const char* bad : {"18446744073709551616", "99999999999999999999", "", "+1", " 1", "1e3"}) {
    EXPECT_EQ(Value([&] { return ParseSeedOption(bad); }),
              std::string("--seed: not a whole number from 0 to 18446744073709551615: ") + bad);
  }
  EXPECT_EQ(Value([] { return ParseWholeOption("-i", "0", 1, 9, "a record number"); }),
            "-i: not a record number from 1 to 9: 0");
  EXPECT_EQ(Value([] { return ParseTemperatureOption("--hot", "1e-307"); }), std::to_string(1e-307));
  EXPECT_EQ(Value([] { return ParseTemperatureOption("--hot", "2.5"); }), std::to_string(2.5));
  for (const char* bad : {"1e-308", "2e307", "0", "-1", "+1", "inf", "nan", "0x10", " 1", "1 "}) {
    EXPECT_EQ(Value([&] { return ParseTemperatureOption("--hot", bad); }),
              std::string("--hot: not a temperature from 1e-307 to 1e307: ") + bad);
  }
  const char* const modes[] = {"a", "b", "c"};
  EXPECT_EQ(Value([&] { return ParseChoiceOption("--m", "c", modes, 3); }), "2");
  EXPECT_EQ(Value([&] { return ParseChoiceOption("--m", "d", modes, 3); }), "--m: not a, b or c: d");
}

}  // namespace
