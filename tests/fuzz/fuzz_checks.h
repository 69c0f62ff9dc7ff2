// Checks shared by the libFuzzer harnesses of the input readers.
#pragma once

#include <string>

// Ends the run with a crash that libFuzzer reports, unless condition holds.
inline void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// Checks a failure message: not empty, one line, and free of raw control bytes
// (below 0x20, and DEL), which a terminal would act on.
inline void CheckMessage(const std::string& message) {
  Check(!message.empty());
  Check(message.find('\n') == std::string::npos);
  for (const char c : message) {
    const auto byte = static_cast<unsigned char>(c);
    Check(byte >= 0x20 && byte != 0x7f);
  }
}
