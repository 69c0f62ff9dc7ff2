#include "driver/run_end.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

void EndRun(const char* text, int status) {
  std::fputs(text, stdout);
  std::fflush(stdout);
  std::exit(status);
}

void EndRunFormatted(int status, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::fflush(stdout);
  std::exit(status);
}
