#include "core/model_arguments.h"

#include <string>

#include "core/failure.h"

bool ConvertArgument(const char* text, int32_t* value) {
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = (*p == '-');
    ++p;
  }
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

RunParameters ParseModelArguments(const char* const* words) {
  int32_t numbers[4] = {0, 0, 0, 0};
  for (int k = 0; k < 4; ++k) {
    if (!ConvertArgument(words[1 + k], &numbers[k])) {
      throw Failure(FailureKind::kUsage, std::string("Number out of range: ") + words[1 + k]);
    }
  }
  const RunParameters params{words[0], numbers[0], numbers[1], numbers[2], numbers[3]};
  if (params.sequence_length < 1) {
    throw Failure(FailureKind::kData, "Error in sequence length " + std::to_string(params.sequence_length));
  }
  return params;
}
