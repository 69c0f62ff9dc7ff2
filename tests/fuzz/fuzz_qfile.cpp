// libFuzzer target for the Q-file reader (formats/q_file_reader.h).
//
// The input is the whole file. It is written to one temporary file, read through
// Survey and ReadEntries, and checked against a plain re-reading of the same
// bytes: the same Q and entries for a sound file, a failure at the same line for
// any other.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "core/failure.h"
#include "fuzz_checks.h"
#include "formats/q_file_reader.h"

namespace {

// Bytes the reader reads the header from.
constexpr size_t kHeaderBlock = 4096;

struct Entry {
  int32_t row, column, value;
  bool operator==(const Entry&) const = default;
};

// What reading a Q file gives: Q and the entries, or the line at fault.
struct QFile {
  bool sound = false;
  int64_t bad_line = 0;
  int32_t quad_count = 0;
  std::vector<Entry> entries;
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// A line's fields as the format has them: integers between blanks.
class Fields {
 public:
  explicit Fields(std::string_view line) : line_(line) {
    if (!line_.empty() && line_.back() == '\r') line_.remove_suffix(1);
  }
  // Skips blanks; returns whether there were any.
  bool SkipBlanks() {
    const size_t start = at_;
    while (at_ < line_.size() && IsBlank(line_[at_])) ++at_;
    return at_ > start;
  }
  // Reads an optional '-' and digits whose value fits in 32 bits.
  bool ReadInt32(int32_t* value) {
    size_t k = at_;
    const bool negative = k < line_.size() && line_[k] == '-';
    k += negative;
    const size_t digits = k;
    int64_t magnitude = 0;
    // Saturates past the limit, so that more digits never land back on it.
    for (; k < line_.size() && line_[k] >= '0' && line_[k] <= '9'; ++k) {
      magnitude = std::min<int64_t>(magnitude * 10 + (line_[k] - '0'), int64_t{INT32_MAX} + 2);
    }
    if (k == digits || magnitude > int64_t{INT32_MAX} + negative) return false;
    *value = static_cast<int32_t>(negative ? -magnitude : magnitude);
    at_ = k;
    return true;
  }
  // Reads the character c.
  bool ReadChar(char c) {
    if (at_ == line_.size() || line_[at_] != c) return false;
    ++at_;
    return true;
  }
  bool AtEnd() const { return at_ == line_.size(); }

 private:
  std::string_view line_;
  size_t at_ = 0;
};

QFile Reread(std::string_view text) {
  QFile q;
  std::vector<std::string_view> lines;
  for (size_t start = 0; start < text.size();) {
    size_t stop = text.find('\n', start);
    if (stop == std::string_view::npos) stop = text.size();
    lines.push_back(text.substr(start, stop - start));
    start = stop + 1;
  }
  q.bad_line = 1;
  if (lines.empty()) return q;
  // The header must end within the reader's first block, unless the file does.
  if (text.size() > kHeaderBlock && lines[0].size() >= kHeaderBlock) return q;
  Fields header(lines[0]);
  int32_t last;
  header.SkipBlanks();
  if (!header.ReadChar('p') || !header.SkipBlanks() || !header.ReadInt32(&q.quad_count) ||
      q.quad_count < 0 || !header.SkipBlanks() || !header.ReadInt32(&last)) {
    return q;
  }
  header.SkipBlanks();
  if (!header.AtEnd()) return q;
  bool finished = false;
  for (size_t k = 1; k < lines.size(); ++k) {
    q.bad_line = static_cast<int64_t>(k) + 1;
    Fields fields(lines[k]);
    fields.SkipBlanks();
    if (finished) {
      if (!fields.AtEnd()) return q;
      continue;
    }
    Entry entry;
    if (!fields.ReadInt32(&entry.row)) return q;
    fields.SkipBlanks();
    if (fields.AtEnd() && entry.row == -1) {
      finished = true;
      continue;
    }
    if (!fields.ReadInt32(&entry.column) || !fields.SkipBlanks() || !fields.ReadInt32(&entry.value)) {
      return q;
    }
    fields.SkipBlanks();
    if (!fields.AtEnd()) return q;
    if (entry.row < 1 || entry.row > q.quad_count || entry.column < 1 || entry.column > q.quad_count ||
        entry.row > entry.column) {
      return q;
    }
    q.entries.push_back(entry);
  }
  q.bad_line = static_cast<int64_t>(lines.size()) + 1;
  if (!finished) return q;
  // A couple given twice is refused at its second line, once the file is read.
  for (size_t k = 0; k < q.entries.size(); ++k) {
    for (size_t earlier = 0; earlier < k; ++earlier) {
      if (q.entries[earlier].row == q.entries[k].row && q.entries[earlier].column == q.entries[k].column) {
        q.bad_line = static_cast<int64_t>(k) + 2;
        return q;
      }
    }
  }
  q.sound = true;
  return q;
}

// A file that lives as long as the run, rewritten for each input.
class ScratchFile {
 public:
  ScratchFile() {
    const char* directory = std::getenv("TMPDIR");
    path_ = std::string(directory != nullptr && *directory != '\0' ? directory : "/tmp") +
            "/rnaqubo-fuzz-qfile.XXXXXX";
    fd_ = mkstemp(path_.data());
    Check(fd_ >= 0);
  }
  ~ScratchFile() {
    close(fd_);
    unlink(path_.c_str());
  }
  // Replaces the content with text.
  void Write(std::string_view text) {
    Check(ftruncate(fd_, 0) == 0);
    Check(pwrite(fd_, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size()));
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int fd_;
};

// Reads the Q file at path; true with *q filled, or false with *message set.
// *survey is Survey's count, -1 if it failed.
bool TryRead(const std::string& path, QFile* q, int64_t* survey, std::string* message) {
  *survey = -1;
  try {
    QFileInput input(path);
    *survey = input.Survey(2);
    q->quad_count = input.quad_count();
    // Exactly Survey's count, so that AddressSanitizer sees any write past it.
    std::vector<int32_t> rows(static_cast<size_t>(*survey)), columns(rows.size()),
        values(rows.size());
    const int64_t count = input.ReadEntries(rows.data(), columns.data(), values.data());
    Check(0 <= count && count <= *survey);
    for (int64_t k = 0; k < count; ++k) q->entries.push_back({rows[k], columns[k], values[k]});
    return true;
  } catch (const Failure& failure) {
    Check(failure.kind() == FailureKind::kData);
    *message = failure.what();
    return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ScratchFile file;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  file.Write(text);

  const QFile expected = Reread(text);
  QFile q;
  int64_t survey;
  std::string message;
  const bool read = TryRead(file.path(), &q, &survey, &message);
  Check(read == expected.sound);
  if (!read) {
    CheckMessage(message);
    Check(message.starts_with(file.path() + ": line " + std::to_string(expected.bad_line) + ": "));
    return 0;
  }
  Check(q.quad_count == expected.quad_count);
  Check(q.entries == expected.entries);
  return 0;
}
