#include "formats/q_file_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <unordered_map>

#include "core/failure.h"
#include "core/shown_text.h"
#include "core/work_threads.h"

namespace {

// Bytes read at a time; a line may not be longer.
constexpr size_t kBlock = size_t{1} << 20;

// Parts smaller than this are not worth a thread.
constexpr int64_t kSmallestPart = int64_t{8} << 20;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Parses a signed decimal 32-bit integer at *at (before end); moves *at past it.
// Returns false, *at unchanged, if there is none or it does not fit.
bool ParseInt32(const char** at, const char* end, int32_t* value) {
  const char* p = *at;
  const bool negative = p < end && *p == '-';
  if (negative) ++p;
  const char* digits = p;
  int64_t magnitude = 0;
  while (p < end && static_cast<unsigned char>(*p - '0') <= 9) {
    magnitude = magnitude * 10 + (*p - '0');
    if (magnitude > int64_t{INT32_MAX} + 1) return false;
    ++p;
  }
  if (p == digits) return false;
  const int64_t signed_value = negative ? -magnitude : magnitude;
  if (signed_value > INT32_MAX) return false;
  *value = static_cast<int32_t>(signed_value);
  *at = p;
  return true;
}

// Scans 1 to 10 decimal digits at *at into *value, moving *at past them;
// false if there are none or more than 10. A character that is not a digit
// must follow them (the caller knows of a line end ahead).
inline bool ScanDigits(const char** at, uint64_t* value) {
  const char* p = *at;
  uint64_t number = 0;
  while (static_cast<unsigned char>(*p - '0') <= 9) {
    number = number * 10 + static_cast<uint64_t>(*p - '0');
    ++p;
  }
  if (p == *at || p - *at > 10) return false;
  *value = number;
  *at = p;
  return true;
}

// The number of '\n' in data[0, size). Counted into byte lanes 255 bytes at a
// time, a loop the compiler turns into vector compares; std::count widens
// every byte to a 64-bit count and is several times slower.
int64_t CountNewlines(const char* data, size_t size) {
  int64_t total = 0;
  for (size_t at = 0; at < size;) {
    const size_t stop = std::min(size, at + 255);
    unsigned char part = 0;
    for (; at < stop; ++at) part = static_cast<unsigned char>(part + (data[at] == '\n'));
    total += part;
  }
  return total;
}

// Skips spaces and tabs; returns whether there was at least one.
bool SkipBlanks(const char** at, const char* end) {
  const char* start = *at;
  while (*at < end && IsBlank(**at)) ++*at;
  return *at > start;
}

// The parsing of one part, line by line: entries until the final "-1", then
// blank lines only.
class EntryParser {
 public:
  // Lines are numbered from first_line on; entries go to the arrays at
  // first_entry, at most capacity of them; variables must lie in 1..quad_count.
  EntryParser(const std::string& path, int64_t first_line, int32_t quad_count, int64_t capacity,
              int32_t* rows, int32_t* columns, int32_t* values)
      : path_(path), line_(first_line - 1), quad_count_(quad_count), capacity_(capacity),
        rows_(rows), columns_(columns), values_(values) {}

  // Takes the lines as after the final "-1": only blank lines are allowed.
  void SetFinished() { finished_ = true; }

  // Takes one line without its line end.
  void TakeLine(const char* p, const char* end) {
    ++line_;
    if (end > p && end[-1] == '\r') --end;
    const char* start = p;
    SkipBlanks(&p, end);
    if (finished_) {
      if (p != end) Fail("text after the final \"-1\"");
      return;
    }
    int32_t row, column, value;
    if (!ParseInt32(&p, end, &row)) Malformed(start, end);
    SkipBlanks(&p, end);
    if (p == end && row == -1) {
      finished_ = true;
      return;
    }
    if (!ParseInt32(&p, end, &column)) Malformed(start, end);
    if (!SkipBlanks(&p, end) || !ParseInt32(&p, end, &value)) Malformed(start, end);
    SkipBlanks(&p, end);
    if (p != end) Malformed(start, end);
    if (row < 1 || row > quad_count_ || column < 1 || column > quad_count_) {
      Fail("variable " + std::to_string(row < 1 || row > quad_count_ ? row : column) + " is outside 1.." +
           std::to_string(quad_count_));
    }
    Store(row, column, value);
  }

  // Takes the complete lines of [p, end); returns the start of the unfinished
  // line at its end (end if there is none). Lines in the exact layout rnaqubo
  // writes, "row  column  value", are taken on a fast path.
  const char* TakeLines(const char* p, const char* end) {
    const void* last_line_end = memrchr(p, '\n', static_cast<size_t>(end - p));
    if (last_line_end == nullptr) return p;
    // Every scan below stops at a line end, at the latest this one.
    const char* stop = static_cast<const char*>(last_line_end);
    // The fast path keeps the parser's state in locals: the stores into the
    // entry arrays could otherwise alias it and force it back to memory on
    // every line. The state goes back to the members before any slow line.
    WriterOrder order = order_;
    // Every line of the fast path is one entry: the line number follows the
    // count and is brought up to date only where the state goes back.
    int64_t count = count_;
    int64_t line_less_count = line_ - count_;
    bool fast = !finished_;
    const uint64_t quad_count = static_cast<uint64_t>(quad_count_);
    while (p <= stop) {
      if (fast && count < capacity_) {
        const char* q = p;
        uint64_t row, column, magnitude;
        if (ScanDigits(&q, &row) && q[0] == ' ' && q[1] == ' ' && ScanDigits(&(q += 2), &column) &&
            q[0] == ' ' && q[1] == ' ') {
          q += 2;
          const bool negative = *q == '-';
          q += negative;
          // Entries below the diagonal leave the fast path to be refused.
          if (ScanDigits(&q, &magnitude) && *q == '\n' && row >= 1 && row <= column && column <= quad_count &&
              magnitude <= uint64_t{INT32_MAX} + negative) {
            order.Take(static_cast<int32_t>(row), static_cast<int32_t>(column));
            rows_[count] = static_cast<int32_t>(row);
            columns_[count] = static_cast<int32_t>(column);
            values_[count] =
                static_cast<int32_t>(negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude));
            ++count;
            p = q + 1;
            continue;
          }
        }
      }
      order_ = order;
      line_ = line_less_count + count;
      count_ = count;
      const char* line_end = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(stop - p) + 1));
      TakeLine(p, line_end);
      p = line_end + 1;
      // The slow line may have ended the entries or taken one itself.
      order = order_;
      count = count_;
      line_less_count = line_ - count_;
      fast = !finished_;
    }
    order_ = order;
    line_ = line_less_count + count;
    count_ = count;
    return p;
  }

  // The next line is longer than limit bytes: no line of a Q file is.
  [[noreturn]] void TooLong(size_t limit) {
    ++line_;
    Fail("a line longer than " + std::to_string(limit) + " bytes: not a Q file");
  }

  // Reads the header line "p Q 1".
  void TakeHeader(const char* p, const char* end) {
    ++line_;
    if (end > p && end[-1] == '\r') --end;
    int32_t last;
    SkipBlanks(&p, end);
    if (p == end || *p != 'p') Fail("not a Q file: the header \"p <variables> 1\" is missing");
    ++p;
    if (!SkipBlanks(&p, end) || !ParseInt32(&p, end, &quad_count_) || quad_count_ < 0 ||
        !SkipBlanks(&p, end) || !ParseInt32(&p, end, &last)) {
      Fail("not a Q file: the header \"p <variables> 1\" is malformed");
    }
    SkipBlanks(&p, end);
    if (p != end) Fail("not a Q file: the header \"p <variables> 1\" is malformed");
  }

  [[noreturn]] void Fail(const std::string& what) {
    throw Failure(FailureKind::kData, ShowText(path_) + ": line " + std::to_string(line_) + ": " + what);
  }

  int64_t count() const { return count_; }
  // Whether this part's entries keep the writer's order, its first entry taken
  // as a row's first.
  bool in_order() const { return order_.kept; }
  int64_t line() const { return line_; }
  int32_t quad_count() const { return quad_count_; }
  bool finished() const { return finished_; }

 private:
  void Store(int32_t row, int32_t column, int32_t value) {
    // rnaqubo writes each couple once, on or above the diagonal.
    if (row > column) {
      Fail("entry " + std::to_string(row) + " " + std::to_string(column) +
           " is below the diagonal: a Q file has row <= column");
    }
    if (count_ == capacity_) Fail("more lines than when the file was first read: it changed meanwhile");
    order_.Take(row, column);
    rows_[count_] = row;
    columns_[count_] = column;
    values_[count_] = value;
    ++count_;
  }

  [[noreturn]] void Malformed(const char* start, const char* end) {
    Fail("expected \"row  column  value\" or \"-1\", found " +
         ShowQuoted(std::string_view(start, static_cast<size_t>(end - start)), 60));
  }

  std::string path_;
  int64_t line_;
  int32_t quad_count_;
  int64_t capacity_;
  int32_t* rows_;
  int32_t* columns_;
  int32_t* values_;
  int64_t count_ = 0;
  bool finished_ = false;
  WriterOrder order_;
};

// Throws the failure of a Q file at path that cannot be opened or read.
[[noreturn]] void FailUnreadable(const std::string& path, int error_number) {
  throw Failure(FailureKind::kFile, ShowText(path) + ": Q file: cannot read: " + std::strerror(error_number), path,
                error_number);
}

}  // namespace

QFileInput::QFileInput(const std::string& path) : path_(path) {
  do {
    fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd_ < 0 && errno == EINTR);
  if (fd_ < 0) FailUnreadable(path, errno);
  struct stat info;
  if (fstat(fd_, &info) != 0 || S_ISDIR(info.st_mode)) {
    const int error_number = S_ISDIR(info.st_mode) ? EISDIR : errno;
    close(fd_);
    FailUnreadable(path, error_number);
  }
  size_ = info.st_size;
}

QFileInput::~QFileInput() { close(fd_); }

size_t QFileInput::ReadAt(int64_t offset, char* data, size_t size) const {
  ssize_t got;
  do {
    got = pread(fd_, data, size, offset);
  } while (got < 0 && errno == EINTR);
  if (got < 0) FailUnreadable(path_, errno);
  return static_cast<size_t>(got);
}

int64_t QFileInput::NextLineStart(int64_t offset) const {
  char block[4096];
  for (size_t got; (got = ReadAt(offset, block, sizeof block)) > 0; offset += static_cast<int64_t>(got)) {
    const void* line_end = std::memchr(block, '\n', got);
    if (line_end != nullptr) return offset + (static_cast<const char*>(line_end) - block) + 1;
  }
  return std::max(offset, size_);
}

int64_t QFileInput::CountLineEnds(const Part& part) const {
  std::vector<char> block(kBlock);
  int64_t line_ends = 0;
  for (int64_t offset = part.begin; offset < part.end;) {
    const size_t got = ReadAt(offset, block.data(), static_cast<size_t>(std::min<int64_t>(kBlock, part.end - offset)));
    if (got == 0) break;
    line_ends += CountNewlines(block.data(), got);
    offset += static_cast<int64_t>(got);
  }
  return line_ends;
}

bool KeepsWriterOrder(const int32_t* rows, const int32_t* columns, int64_t begin, int64_t end) {
  WriterOrder order;
  if (begin > 0) order.row = rows[begin - 1];
  for (int64_t k = begin; k < end && order.kept; ++k) order.Take(rows[k], columns[k]);
  return order.kept;
}

void QFileInput::CheckCouplesOnce(const int32_t* rows, const int32_t* columns, int64_t count, bool in_order) const {
  // Entry k is on line k + 2: no blank line comes before the final "-1". In
  // the writer's order no couple can repeat; only a file in another order is
  // looked at couple by couple.
  if (in_order) return;
  auto key = [&](int64_t k) { return uint64_t{static_cast<uint32_t>(rows[k])} << 32 | static_cast<uint32_t>(columns[k]); };
  std::unordered_map<uint64_t, int64_t> first_line;
  first_line.reserve(static_cast<size_t>(count));
  for (int64_t k = 0; k < count; ++k) {
    const auto [earlier, fresh] = first_line.emplace(key(k), k + 2);
    if (!fresh) {
      throw Failure(FailureKind::kData, ShowText(path_) + ": line " + std::to_string(k + 2) + ": the couple " +
                                            std::to_string(rows[k]) + " " + std::to_string(columns[k]) +
                                            " is given twice (first on line " + std::to_string(earlier->second) +
                                            ")");
    }
  }
}

int64_t QFileInput::Survey(int thread_count) {
  // The header: the first line.
  char head[4096];
  const size_t got = ReadAt(0, head, sizeof head);
  const char* head_end = static_cast<const char*>(std::memchr(head, '\n', got));
  EntryParser header(path_, 1, 0, 0, nullptr, nullptr, nullptr);
  if (got == 0) throw Failure(FailureKind::kData, ShowText(path_) + ": line 1: the file is empty, not a Q file");
  // A header that does not end within the block would be cut, and its rest read as entries.
  if (head_end == nullptr && static_cast<int64_t>(got) < size_) header.TooLong(sizeof head);
  header.TakeHeader(head, head_end != nullptr ? head_end : head + got);
  quad_count_ = header.quad_count();
  const int64_t body = head_end != nullptr ? head_end - head + 1 : static_cast<int64_t>(got);

  const int64_t part_count = std::clamp<int64_t>((size_ - body) / kSmallestPart, 1, std::max(thread_count, 1));
  parts_.clear();
  const std::vector<int64_t> starts =
      SplitWork(body, size_, size_ - body, part_count, [this, body](int64_t share) { return NextLineStart(body + share); });
  for (size_t k = 0; k + 1 < starts.size(); ++k) parts_.push_back(Part{starts[k], starts[k + 1], 0, 0, 0, 0});
  RethrowFirst(RunEach(parts_.size(), [this](size_t k) { parts_[k].lines = CountLineEnds(parts_[k]); }));
  // A last line without a line end counts as well (the final "-1" has none).
  if (!parts_.empty()) {
    char last;
    if (ReadAt(size_ - 1, &last, 1) == 1 && last != '\n') ++parts_.back().lines;
  }
  int64_t line = 2, entry = 0;
  for (Part& part : parts_) {
    part.first_line = line;
    part.first_entry = entry;
    part.entries = part.lines;  // the last part's final "-1" included: the arrays keep room for one more
    line += part.lines;
    entry += part.entries;
  }
  return entry;
}

bool QFileInput::PartsInOrder(const int32_t* rows, const int32_t* columns, int64_t count, size_t last,
                              const std::vector<char>& in_order) const {
  for (size_t k = 0; k <= last; ++k) {
    if (in_order[k] == 0) return false;
  }
  // Each part took its first entry as a row's first: the rows across each seam
  // are followed again whole.
  for (size_t k = 1; k <= last; ++k) {
    const int64_t seam = parts_[k].first_entry;
    if (seam >= count) break;
    int64_t begin = seam - 1, end = seam;
    while (begin > 0 && rows[begin - 1] == rows[begin]) --begin;
    while (end < count && rows[end] == rows[seam]) ++end;
    if (!KeepsWriterOrder(rows, columns, begin, end)) return false;
  }
  return true;
}

int64_t QFileInput::ReadEntries(int32_t* rows, int32_t* columns, int32_t* values) {
  std::vector<int64_t> counts(parts_.size(), 0);
  std::vector<char> finished(parts_.size(), 0), in_order(parts_.size(), 0);
  auto parse = [&](size_t k, bool after_end) {
    const Part& part = parts_[k];
    EntryParser parser(path_, part.first_line, quad_count_, part.entries, rows + part.first_entry,
                       columns + part.first_entry, values + part.first_entry);
    if (after_end) parser.SetFinished();
    std::vector<char> block(kBlock);
    size_t kept = 0;  // bytes of an unfinished line at the start of block
    for (int64_t offset = part.begin; offset < part.end;) {
      const size_t got = ReadAt(offset, block.data() + kept,
                                static_cast<size_t>(std::min<int64_t>(kBlock - kept, part.end - offset)));
      if (got == 0) break;
      offset += static_cast<int64_t>(got);
      const char* p = parser.TakeLines(block.data(), block.data() + kept + got);
      kept = static_cast<size_t>(block.data() + kept + got - p);
      if (kept == kBlock) parser.TooLong(kBlock);
      std::memmove(block.data(), p, kept);
    }
    if (kept > 0) parser.TakeLine(block.data(), block.data() + kept);
    counts[k] = parser.count();
    finished[k] = parser.finished();
    in_order[k] = parser.in_order();
  };
  const std::vector<std::exception_ptr> failures = RunEach(parts_.size(), [&parse](size_t k) { parse(k, false); });
  for (size_t k = 0; k < parts_.size(); ++k) {
    if (failures[k]) std::rethrow_exception(failures[k]);
    if (finished[k]) {
      // Whatever follows the final "-1" must be blank.
      for (size_t later = k + 1; later < parts_.size(); ++later) parse(later, true);
      const int64_t entries = parts_[k].first_entry + counts[k];
      CheckCouplesOnce(rows, columns, entries, PartsInOrder(rows, columns, entries, k, in_order));
      return entries;
    }
    if (k + 1 < parts_.size() && counts[k] != parts_[k].entries) {
      throw Failure(FailureKind::kData, ShowText(path_) + ": the file changed while it was read");
    }
  }
  const int64_t lines = parts_.empty() ? 1 : parts_.back().first_line + parts_.back().lines - 1;
  throw Failure(FailureKind::kData, ShowText(path_) + ": line " + std::to_string(lines + 1) +
                                        ": the file ends without the final \"-1\": it is incomplete");
}
