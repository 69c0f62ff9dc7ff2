#include "driver/run_parameters.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/run_end.h"
#include "driver/usage_text.h"

bool ConvertArgument(const char* text, int32_t* value) {
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = (*p == '-');
    ++p;
  }
  // Accumulate as a negative number so that INT32_MIN is reachable.
  int64_t magnitude = 0;
  while (*p >= '0' && *p <= '9') {
    magnitude = magnitude * 10 + (*p - '0');
    if (magnitude > static_cast<int64_t>(INT32_MAX) + 1) return false;
    ++p;
  }
  if (!negative && magnitude > INT32_MAX) return false;
  *value = static_cast<int32_t>(negative ? -magnitude : magnitude);
  return true;
}

RunParameters ParseRunParameters(int argc, char** argv) {
  const char* program = argc > 0 ? argv[0] : "rnaqubo";
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) PrintHelpAndEnd(program);
  if (argc == 2 && std::strcmp(argv[1], "-h") == 0) PrintHelpAndEnd(program);
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) PrintVersionAndEnd();
  if (argc != 6) {
    PrintUsage(stderr, program);
    std::exit(kStatusIoError);
  }
  // Every number is checked before anything else happens, so that a refused
  // command line touches no file.
  int32_t numbers[4] = {0, 0, 0, 0};
  for (int k = 0; k < 4; ++k) {
    if (!ConvertArgument(argv[2 + k], &numbers[k])) {
      std::fprintf(stderr, "Number out of range: %s\n", argv[2 + k]);
      std::exit(kStatusIoError);
    }
  }
  RunParameters params{argv[1], numbers[0], numbers[1], numbers[2], numbers[3]};
  if (params.sequence_length < 1) {
    EndRunFormatted(kStatusDataError, "Error in sequence length %d", params.sequence_length);
  }
  return params;
}
