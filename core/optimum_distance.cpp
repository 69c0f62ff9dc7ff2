#include "core/optimum_distance.h"

#include <string>

#include "core/failure.h"
#include "core/shown_text.h"

namespace {

constexpr int64_t kDistanceLimit = 1000000000000000;  // 10^15
__extension__ typedef unsigned __int128 Magnitude;  // |optimum| x amount without overflow

}  // namespace

OptimumDistance ParseOptimumDistance(const char* option, const char* text) {
  OptimumDistance distance;
  const std::string word = text;
  const auto fail = [&]() {
    throw Failure(FailureKind::kUsage, std::string(option) + ": not " + kDistanceRule + ": " + ShowText(word));
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
  const Magnitude magnitude = static_cast<Magnitude>(optimum < 0 ? -optimum : optimum);
  const Magnitude product = magnitude * static_cast<Magnitude>(distance.amount) / scale;
  return product > static_cast<Magnitude>(INT64_MAX / 4) ? INT64_MAX / 4 : static_cast<int64_t>(product);
}
