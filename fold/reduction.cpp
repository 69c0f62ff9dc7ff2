#include "fold/reduction.h"

#include <cerrno>
#include <cstring>
#include <sstream>

#include "core/failure.h"
#include "core/shown_text.h"
#include "core/whole_file.h"

namespace {

constexpr int64_t kDistanceLimit = 1000000000000000;  // 10^15

}  // namespace

OptimumDistance ParseOptimumDistance(const char* option, const char* text) {
  OptimumDistance distance;
  const std::string word = text;
  const auto fail = [&]() {
    throw Failure(FailureKind::kUsage, std::string(option) + ": not a distance: " + ShowText(word));
  };
  size_t k = 0;
  bool point = false, digits = false;
  for (; k < word.size() && word[k] != '%'; ++k) {
    const char c = word[k];
    if (c == '.' && !point) {
      point = true;
      continue;
    }
    if (c < '0' || c > '9') fail();
    digits = true;
    distance.amount = distance.amount * 10 + (c - '0');
    if (point) ++distance.decimals;
    if (distance.amount > kDistanceLimit || distance.decimals > 6) fail();
  }
  distance.percentage = k < word.size();
  if (!digits || (distance.percentage && k + 1 != word.size()) || (point && !distance.percentage)) fail();
  return distance;
}

int64_t ResolveDistance(const OptimumDistance& distance, int64_t optimum) {
  if (!distance.percentage) return distance.amount;
  int64_t scale = 100;
  for (int32_t d = 0; d < distance.decimals; ++d) scale *= 10;
  const SelectionCount magnitude = static_cast<SelectionCount>(optimum < 0 ? -optimum : optimum);
  const SelectionCount product = magnitude * static_cast<SelectionCount>(distance.amount) / scale;
  return product > static_cast<SelectionCount>(INT64_MAX / 4) ? INT64_MAX / 4 : static_cast<int64_t>(product);
}

KeptVariables ReduceModel(const QuadModel& model, const QuadMarginals& marginals, int64_t delta) {
  std::vector<uint8_t> keep(static_cast<size_t>(model.quad_count) + 1, 0);
  for (int32_t v = 1; v <= model.quad_count; ++v) keep[v] = marginals.best_with[v] >= marginals.optimum - delta;
  return MakeKeptVariables(model, keep);
}

std::vector<int32_t> ReadReducedMap(const std::string& path, const QuadModel& model) {
  std::string text;
  if (!ReadWholeFile(path.c_str(), &text)) {
    const int error = errno;
    throw Failure(FailureKind::kFile, ShowText(path) + ": cannot read: " + std::strerror(error), path, error);
  }
  std::vector<int32_t> original{0};
  std::istringstream lines(text);
  std::string line;
  int64_t number = 0;
  const auto fail = [&](const std::string& reason) {
    throw Failure(FailureKind::kData, ShowText(path) + ": line " + std::to_string(number) + ": " + reason);
  };
  while (std::getline(lines, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (number == 1) {
      if (line + "\n" != "variable\toriginal\ti\tj\n") fail("not a reduced model's map: expected the header \"variable\toriginal\ti\tj\"");
      continue;
    }
    if (line.empty()) continue;
    std::istringstream fields(line);
    int64_t k = 0, v = 0, i = 0, j = 0;
    std::string extra;
    if (!(fields >> k >> v >> i >> j) || (fields >> extra)) fail("expected four numbers: variable, original, i, j");
    if (k != static_cast<int64_t>(original.size())) fail("variable " + std::to_string(k) + " out of order, expected " + std::to_string(original.size()));
    if (v < 1 || v > model.quad_count) fail("original variable " + std::to_string(v) + " is not in the model (1 to " + std::to_string(model.quad_count) + ")");
    if (v <= original.back()) fail("original variables must ascend");
    const int32_t* quad = MatrixRow(model.quads, v);
    if (quad[0] != i || quad[1] != j) {
      fail("original variable " + std::to_string(v) + " is the quad of pair " + std::to_string(quad[0]) + "-" +
           std::to_string(quad[1]) + ", not " + std::to_string(i) + "-" + std::to_string(j) + ": a map of another model");
    }
    original.push_back(static_cast<int32_t>(v));
  }
  if (number == 0) fail("empty file: not a reduced model's map");
  return original;
}
