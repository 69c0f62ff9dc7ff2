// libFuzzer target for the conversion of numeric command-line arguments.
//
// The input, cut at its first NUL byte, is one argument. The conversion must
// accept it exactly when its number fits in a signed 32-bit integer, and then give
// what strtol gives; a refused argument must leave the value untouched.

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/model_arguments.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Whether the number at the start of text (white space, optional sign, digits)
// lies in the 32-bit range. Text without digits is the number 0.
bool FitsInt32(const std::string& text) {
  size_t at = 0;
  while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    negative = text[at] == '-';
    ++at;
  }
  while (at < text.size() && text[at] == '0') ++at;
  size_t end = at;
  while (end < text.size() && IsDigit(text[end])) ++end;
  // Eleven significant digits are at least 10^10, beyond either limit.
  if (end - at > 10) return false;
  if (end == at) return true;
  const long long magnitude = std::strtoll(text.substr(at, end - at).c_str(), nullptr, 10);
  return negative ? magnitude <= 2147483648LL : magnitude <= 2147483647LL;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // std::string(const char*) stops at the first NUL, as an argument would.
  const std::string argument(reinterpret_cast<const char*>(data), size);
  const std::string text(argument.c_str());

  constexpr int32_t kUntouched = -123456789;
  int32_t value = kUntouched;
  const bool accepted = ConvertArgument(text.c_str(), &value);

  Check(accepted == FitsInt32(text));
  if (accepted) {
    errno = 0;
    const long expected = std::strtol(text.c_str(), nullptr, 10);
    Check(errno == 0);
    Check(static_cast<long>(value) == expected);
  } else {
    Check(value == kUntouched);
  }
  return 0;
}
