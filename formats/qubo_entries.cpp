#include "formats/qubo_entries.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <numeric>
#include <string_view>

#include "core/failure.h"
#include "core/shown_text.h"
#include "core/whole_file.h"

namespace {

[[noreturn]] void FailData(const std::string& path, const std::string& what) {
  throw Failure(FailureKind::kData, ShowText(path) + ": qubo file: " + what);
}

[[noreturn]] void FailLine(const std::string& path, int64_t line, const std::string& what) {
  FailData(path, "line " + std::to_string(line) + ": " + what);
}

// The words of a line, split at spaces and tabs: the first seven at most, and
// how many there are.
struct LineWords {
  std::string_view word[7];
  size_t count = 0;
};
LineWords SplitWords(std::string_view line) {
  LineWords words;
  size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
    size_t end = at;
    while (end < line.size() && line[end] != ' ' && line[end] != '\t') ++end;
    if (end > at) {
      if (words.count < 7) words.word[words.count] = line.substr(at, end - at);
      ++words.count;
    }
    at = end;
  }
  return words;
}

// word as a whole number from 0 to limit, or -1 when it is not one.
int64_t WholeWord(std::string_view word, int64_t limit) {
  int64_t number = -1;
  const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), number);
  if (error != std::errc() || end != word.data() + word.size() || number < 0 || number > limit) return -1;
  return number;
}

}  // namespace

int64_t FindRepeatedEntry(const int32_t* row, const int32_t* column, int64_t count) {
  // Couples in the order of (smaller, larger) node; entries already in that
  // order (as rnaqubo writes them, nodes then couplings) need no sort.
  const auto key = [&](int64_t k) {
    const uint64_t a = static_cast<uint32_t>(std::min(row[k], column[k]));
    const uint64_t b = static_cast<uint32_t>(std::max(row[k], column[k]));
    return (a << 32) | b;
  };
  const auto diagonal = [&](int64_t k) { return row[k] == column[k]; };
  bool ordered = true;
  for (int64_t k = 1; k < count && ordered; ++k) {
    if (diagonal(k) == diagonal(k - 1)) ordered = key(k) > key(k - 1);
    else ordered = diagonal(k - 1);
  }
  if (ordered) return -1;
  std::vector<int64_t> order(static_cast<size_t>(count));
  std::iota(order.begin(), order.end(), int64_t{0});
  std::stable_sort(order.begin(), order.end(), [&](int64_t a, int64_t b) { return key(a) < key(b); });
  int64_t first = -1;
  for (size_t k = 1; k < order.size(); ++k) {
    if (key(order[k]) == key(order[k - 1]) && (first < 0 || order[k] < first)) first = order[k];
  }
  return first;
}

QuboEntries ReadQuboEntries(const std::string& path) {
  std::string text;
  std::error_code unknown;
  const uintmax_t size = std::filesystem::file_size(path, unknown);
  if (!unknown) text.reserve(static_cast<size_t>(size));  // read in one piece, not regrown
  errno = 0;
  if (!ReadWholeFile(path.c_str(), &text)) {
    const int error = errno != 0 ? errno : EIO;
    throw Failure(FailureKind::kFile, ShowText(path) + ": cannot read: " + std::strerror(error), path, error);
  }
  QuboEntries entries;
  entries.rnaqubo = text.rfind("c rnaqubo instance: qubo\n", 0) == 0 || text.rfind("c rnaqubo instance: qubo\r\n", 0) == 0;
  bool problem = false;
  int64_t nodes_expected = 0, couplers_expected = 0, nodes_read = 0;
  std::vector<int64_t> lines;  // the line of each entry, for a repeat's message
  size_t at = 0;
  for (int64_t number = 1; at < text.size(); ++number) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.empty() && line[0] == 'c' && (line.size() == 1 || line[1] == ' ' || line[1] == '\t')) continue;
    const LineWords split = SplitWords(line);
    const std::string_view* const words = split.word;
    if (split.count == 0) continue;
    if (words[0] == "p") {
      if (problem) FailLine(path, number, "a second problem line");
      if (split.count != 6 || words[1] != "qubo") {
        FailLine(path, number, "expected \"p qubo <topology> <maxNodes> <nNodes> <nCouplers>\": " + ShowQuoted(line, 60));
      }
      const int64_t counts[3] = {WholeWord(words[3], INT32_MAX), WholeWord(words[4], INT32_MAX),
                                 WholeWord(words[5], INT32_MAX)};
      const char* names[3] = {"maxNodes", "nNodes", "nCouplers"};
      for (int k = 0; k < 3; ++k) {
        if (counts[k] < 0) {
          FailLine(path, number, std::string(names[k]) + ": not a whole number from 0 to 2147483647: " +
                                     ShowQuoted(words[3 + k], 40));
        }
      }
      if (counts[1] > counts[0]) {
        FailLine(path, number, "nNodes " + std::to_string(counts[1]) + " is above maxNodes " + std::to_string(counts[0]));
      }
      entries.node_count = static_cast<int32_t>(counts[0]);
      nodes_expected = counts[1];
      couplers_expected = counts[2];
      problem = true;
      // An entry takes at least 6 bytes ("0 0 1\n"): room for all of them, and never more than the file holds.
      const size_t room = static_cast<size_t>(std::min<int64_t>(counts[1] + counts[2], static_cast<int64_t>(text.size() / 6)));
      entries.row.reserve(room);
      entries.column.reserve(room);
      entries.value.reserve(room);
      lines.reserve(room);
      continue;
    }
    if (!problem) FailLine(path, number, "an entry before the problem line: " + ShowQuoted(line, 60));
    if (split.count != 3) FailLine(path, number, "expected \"i j value\": " + ShowQuoted(line, 60));
    const int64_t i = WholeWord(words[0], int64_t{entries.node_count} - 1);
    const int64_t j = WholeWord(words[1], int64_t{entries.node_count} - 1);
    if (i < 0 || j < 0) {
      FailLine(path, number, "node " + ShowQuoted(words[i < 0 ? 0 : 1], 40) + " is not from 0 to maxNodes - 1 = " +
                                 std::to_string(int64_t{entries.node_count} - 1));
    }
    double value = 0;
    const std::string_view v = words[2];
    const char* begin = v.data() + (v.size() > 1 && v[0] == '+' ? 1 : 0);
    int32_t whole = 0;  // most values are whole: read as such first
    const auto [whole_stop, whole_error] = std::from_chars(begin, v.data() + v.size(), whole);
    if (whole_error == std::errc() && whole_stop == v.data() + v.size()) {
      value = whole;
    } else {
      const auto [stop, error] = std::from_chars(begin, v.data() + v.size(), value);
      if (error != std::errc() || stop != v.data() + v.size() || !std::isfinite(value)) {
        FailLine(path, number, "value: not a finite number: " + ShowQuoted(v, 40));
      }
    }
    if (!(std::fabs(value) <= INT32_MAX && value == std::trunc(value))) entries.whole = false;
    nodes_read += i == j;
    entries.row.push_back(static_cast<int32_t>(std::min(i, j)));
    entries.column.push_back(static_cast<int32_t>(std::max(i, j)));
    entries.value.push_back(value);
    lines.push_back(number);
  }
  if (!problem) FailData(path, "no problem line \"p qubo ...\"");
  const int64_t couplers_read = static_cast<int64_t>(entries.row.size()) - nodes_read;
  if (nodes_read != nodes_expected || couplers_read != couplers_expected) {
    FailData(path, std::to_string(nodes_read) + " node lines and " + std::to_string(couplers_read) +
                       " coupler lines, but the problem line says " + std::to_string(nodes_expected) + " and " +
                       std::to_string(couplers_expected));
  }
  const int64_t repeated = FindRepeatedEntry(entries.row.data(), entries.column.data(),
                                             static_cast<int64_t>(entries.row.size()));
  if (repeated >= 0) {
    FailLine(path, lines[static_cast<size_t>(repeated)],
             "the couple " + std::to_string(entries.row[repeated]) + " " + std::to_string(entries.column[repeated]) +
                 " is given twice");
  }
  return entries;
}
