#include "structure/reference_structure.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/failure.h"
#include "core/shown_text.h"
#include "core/whole_file.h"

namespace {

// A line of the file: its number (1..) and its text without the line end and CR.
struct TextLine {
  int32_t number;
  const char* text;
  size_t size;
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

// "<path>: line <line>, " for a message that goes on with the position.
std::string WhereLine(const std::string& path, int32_t line) {
  return ShowText(path) + ": line " + std::to_string(line) + ", ";
}

std::string Where(const std::string& path, int32_t line, int32_t position) {
  if (position > 0) return WhereLine(path, line) + "position " + std::to_string(position) + ": ";
  return ShowText(path) + ": line " + std::to_string(line) + ": ";
}

[[noreturn]] void FailContent(const std::string& message) { throw Failure(FailureKind::kData, message); }

// The lines of text that are neither blank nor comments (starting with '#', as in
// bpRNA's dbn files), leading and trailing blanks and CR removed.
std::vector<TextLine> SplitLines(const char* text, size_t size) {
  std::vector<TextLine> lines;
  size_t start = 0;
  int32_t number = 0;
  while (start < size) {
    const char* end = static_cast<const char*>(std::memchr(text + start, '\n', size - start));
    const size_t stop = end == nullptr ? size : static_cast<size_t>(end - text);
    ++number;
    size_t last = stop;
    while (last > start && (IsBlank(text[last - 1]) || text[last - 1] == '\r')) --last;
    size_t first = start;
    while (first < last && IsBlank(text[first])) ++first;
    if (first < last && text[first] != '#') lines.push_back({number, text + first, last - first});
    start = stop + 1;
  }
  return lines;
}

// Whether text (size bytes from index from) is white space and an optional energy
// such as "(-12.30)" or "( -1.20)".
bool IsEnergyField(const char* text, size_t from, size_t size) {
  size_t k = from;
  while (k < size && IsBlank(text[k])) ++k;
  if (k == size) return true;
  if (text[k++] != '(') return false;
  while (k < size && IsBlank(text[k])) ++k;
  if (k < size && (text[k] == '-' || text[k] == '+')) ++k;
  size_t digits = 0;
  while (k < size && text[k] >= '0' && text[k] <= '9') ++k, ++digits;
  if (k < size && text[k] == '.') {
    ++k;
    while (k < size && text[k] >= '0' && text[k] <= '9') ++k, ++digits;
  }
  if (digits == 0) return false;
  while (k < size && IsBlank(text[k])) ++k;
  if (k == size || text[k++] != ')') return false;
  while (k < size && IsBlank(text[k])) ++k;
  return k == size;
}

void CheckSequenceLine(const std::string& path, const TextLine& line, const char* buffer, int32_t n) {
  if (line.size != static_cast<size_t>(n)) {
    FailContent(Where(path, line.number, 0) + "the reference sequence has " + std::to_string(line.size) +
                " letters, the folded sequence " + std::to_string(n));
  }
  for (int32_t p = 1; p <= n; ++p) {
    char letter = line.text[p - 1];
    if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
    if (letter == 'T') letter = 'U';
    if (letter != buffer[p]) {
      FailContent(Where(path, line.number, p) + "letter " + ShowCharacter(line.text[p - 1]) + " differs from " +
                  ShowCharacter(buffer[p]) + " of the folded sequence");
    }
  }
}

std::vector<BasePair> ParseStructureLine(const std::string& path, const TextLine& line, int32_t n) {
  size_t length = 0;
  while (length < line.size && !IsBlank(line.text[length])) ++length;
  if (!IsEnergyField(line.text, length, line.size)) {
    size_t extra = length;
    while (extra < line.size && IsBlank(line.text[extra])) ++extra;
    FailContent(Where(path, line.number, static_cast<int32_t>(extra + 1)) + "unexpected text after the structure: " +
                ShowQuoted(std::string_view(line.text + extra, line.size - extra), 40));
  }
  if (length != static_cast<size_t>(n)) {
    FailContent(Where(path, line.number, 0) + "the structure has " + std::to_string(length) +
                " characters, the folded sequence " + std::to_string(n) + " bases");
  }
  try {
    return MatchBrackets(std::string_view(line.text, length));
  } catch (const Failure& failure) {
    FailContent(WhereLine(path, line.number) + failure.what());
  }
}

}  // namespace

ReferenceStructure ParseReferenceStructure(const std::string& path, const char* text, size_t size,
                                           const char* buffer, int32_t n) {
  const std::vector<TextLine> lines = SplitLines(text, size);
  size_t next = 0;
  ReferenceStructure reference;
  if (next < lines.size() && lines[next].text[0] == '>') {
    size_t first = 1;
    while (first < lines[next].size && IsBlank(lines[next].text[first])) ++first;
    reference.name.assign(lines[next].text + first, lines[next].size - first);
    ++next;
  }
  const size_t remaining = lines.size() - next;
  if (remaining == 0) FailContent(ShowText(path) + ": no structure line");
  if (remaining > 2) {
    FailContent(Where(path, lines[next + 2].number, 0) +
                "more lines than one record (a name, a sequence and a structure)");
  }
  if (remaining == 2) {
    CheckSequenceLine(path, lines[next], buffer, n);
    ++next;
  }
  reference.pairs = ParseStructureLine(path, lines[next], n);
  return reference;
}

ReferenceStructure ReadReferenceStructure(const std::string& path, const char* buffer, int32_t n) {
  std::string text;
  if (!ReadWholeFile(path.c_str(), &text)) {
    const int error = errno;
    throw Failure(FailureKind::kFile, ShowText(path) + ": cannot read: " + std::strerror(error), path, error);
  }
  return ParseReferenceStructure(path, text.data(), text.size(), buffer, n);
}

std::vector<BasePair> SortedDistinctPairs(const std::vector<BasePair>& pairs) {
  std::vector<BasePair> sorted = pairs;
  std::sort(sorted.begin(), sorted.end(), [](const BasePair& a, const BasePair& b) {
    return a.i != b.i ? a.i < b.i : a.j < b.j;
  });
  sorted.erase(std::unique(sorted.begin(), sorted.end(),
                           [](const BasePair& a, const BasePair& b) {
                             return a.i == b.i && a.j == b.j;
                           }),
               sorted.end());
  return sorted;
}

PairScores ScorePairs(const std::vector<BasePair>& predicted,
                      const std::vector<BasePair>& reference) {
  const std::vector<BasePair> p = SortedDistinctPairs(predicted);
  const std::vector<BasePair> r = SortedDistinctPairs(reference);
  int32_t common = 0;
  for (size_t a = 0, b = 0; a < p.size() && b < r.size();) {
    if (p[a].i == r[b].i && p[a].j == r[b].j) {
      ++common, ++a, ++b;
    } else if (p[a].i < r[b].i || (p[a].i == r[b].i && p[a].j < r[b].j)) {
      ++a;
    } else {
      ++b;
    }
  }
  PairScores scores{};
  scores.true_pairs = common;
  scores.predicted_pairs = static_cast<int32_t>(p.size());
  scores.reference_pairs = static_cast<int32_t>(r.size());
  const bool both_empty = p.empty() && r.empty();
  auto ratio = [both_empty](double top, double bottom) {
    return bottom == 0 ? (both_empty ? 1.0 : 0.0) : top / bottom;
  };
  scores.sensitivity = ratio(common, scores.reference_pairs);
  scores.ppv = ratio(common, scores.predicted_pairs);
  scores.f1 = ratio(2.0 * common, scores.predicted_pairs + scores.reference_pairs);
  return scores;
}

std::string FormatPairScores(const PairScores& scores, const char* prefix) {
  char text[160];
  std::snprintf(text, sizeof text, "%ssensitivity: %.4f\n%sPPV: %.4f\n%sF1: %.4f\n", prefix,
                scores.sensitivity, prefix, scores.ppv, prefix, scores.f1);
  return text;
}

std::vector<BasePair> SelectionPairs(const QuadModel& model, const uint8_t* chosen) {
  std::vector<BasePair> pairs;
  for (int32_t v = 1; v <= model.quad_count; ++v) {
    if (chosen[v] == 0) continue;
    const int32_t* quad = MatrixRow(model.quads, v);
    pairs.push_back({quad[0], quad[1]});
    pairs.push_back({quad[2], quad[3]});
  }
  return SortedDistinctPairs(pairs);
}
