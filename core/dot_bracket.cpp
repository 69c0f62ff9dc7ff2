#include "core/dot_bracket.h"

#include <algorithm>
#include <string>

#include "core/failure.h"
#include "core/shown_text.h"

namespace {

constexpr std::string_view kOpeners = "([{<";
constexpr std::string_view kClosers = ")]}>";
constexpr size_t kBracketKinds = 4;

[[noreturn]] void FailAt(size_t position, const std::string& reason) {
  throw Failure(FailureKind::kData, "position " + std::to_string(position) + ": " + reason);
}

}  // namespace

std::vector<BasePair> MatchBrackets(std::string_view structure) {
  std::vector<int32_t> open[kBracketKinds];
  std::vector<BasePair> pairs;
  for (size_t k = 0; k < structure.size(); ++k) {
    const char c = structure[k];
    const int32_t position = static_cast<int32_t>(k + 1);
    if (c == '.') continue;
    const size_t opener = kOpeners.find(c), closer = kClosers.find(c);
    if (opener != std::string_view::npos) {
      open[opener].push_back(position);
    } else if (closer == std::string_view::npos) {
      FailAt(k + 1, "character " + ShowCharacter(c) + " is neither '.' nor one of the brackets ()[]{}<>");
    } else if (open[closer].empty()) {
      FailAt(k + 1, ShowCharacter(c) + " closes no " + ShowCharacter(kOpeners[closer]));
    } else {
      pairs.push_back({open[closer].back(), position});
      open[closer].pop_back();
    }
  }
  int32_t unclosed = 0;
  size_t unclosed_kind = 0;
  for (size_t kind = 0; kind < kBracketKinds; ++kind) {
    if (!open[kind].empty() && (unclosed == 0 || open[kind].back() < unclosed)) {
      unclosed = open[kind].back();
      unclosed_kind = kind;
    }
  }
  if (unclosed != 0) FailAt(static_cast<size_t>(unclosed), ShowCharacter(kOpeners[unclosed_kind]) + " is never closed");
  std::sort(pairs.begin(), pairs.end(), [](const BasePair& a, const BasePair& b) { return a.i < b.i; });
  return pairs;
}
