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

std::string FormatDotBracket(std::vector<BasePair> pairs, int32_t length) {
  std::sort(pairs.begin(), pairs.end(), [](const BasePair& a, const BasePair& b) { return a.i < b.i; });
  std::string line(static_cast<size_t>(std::max(length, 0)), '.');
  // Per kind, the pairs written so far that are still open at the current
  // position, outermost first: being of one kind they nest, so the innermost
  // closes first, and a new pair crosses one of them exactly when it closes
  // after the innermost.
  std::vector<BasePair> open[kBracketKinds];
  for (const BasePair& pair : pairs) {
    for (const int32_t position : {pair.i, pair.j}) {
      if (position < 1 || position > length) {
        FailAt(static_cast<size_t>(std::max(position, 0)), "outside the structure of length " + std::to_string(length));
      }
      if (line[static_cast<size_t>(position - 1)] != '.') FailAt(static_cast<size_t>(position), "paired twice");
    }
    if (pair.i >= pair.j) FailAt(static_cast<size_t>(pair.i), "a pair must close after it opens");
    size_t chosen = kBracketKinds;
    for (size_t kind = 0; kind < kBracketKinds; ++kind) {
      while (!open[kind].empty() && open[kind].back().j < pair.i) open[kind].pop_back();
      if (chosen == kBracketKinds && (open[kind].empty() || open[kind].back().j > pair.j)) chosen = kind;
    }
    if (chosen == kBracketKinds) {
      FailAt(static_cast<size_t>(pair.i), "the pair " + std::to_string(pair.i) + "-" + std::to_string(pair.j) +
                                              " crosses pairs of all four bracket kinds");
    }
    open[chosen].push_back(pair);
    line[static_cast<size_t>(pair.i - 1)] = kOpeners[chosen];
    line[static_cast<size_t>(pair.j - 1)] = kClosers[chosen];
  }
  return line;
}
