#include "python/q_file_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "python/module_failures.h"

namespace {

// Bytes read at a time; a line may not be longer.
constexpr size_t kBlock = size_t{1} << 20;

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

// Scans 1 to 10 decimal digits at *at (before end) into *value, moving *at past
// them; false if there are none or more than 10.
inline bool ScanDigits(const char** at, const char* end, uint64_t* value) {
  const char* p = *at;
  uint64_t number = 0;
  while (p < end && static_cast<unsigned char>(*p - '0') <= 9 && p - *at < 11) {
    number = number * 10 + static_cast<uint64_t>(*p - '0');
    ++p;
  }
  if (p == *at || p - *at > 10) return false;
  *value = number;
  *at = p;
  return true;
}

// Skips spaces and tabs; returns whether there was at least one.
bool SkipBlanks(const char** at, const char* end) {
  const char* start = *at;
  while (*at < end && IsBlank(**at)) ++*at;
  return *at > start;
}

// The state of the second pass, line by line.
class EntryParser {
 public:
  EntryParser(const std::string& path, int64_t capacity, int32_t* rows, int32_t* columns, int32_t* values)
      : path_(path), capacity_(capacity), rows_(rows), columns_(columns), values_(values) {}

  // Takes one line without its line end.
  void TakeLine(const char* p, const char* end) {
    ++line_;
    if (end > p && end[-1] == '\r') --end;
    if (finished_) {
      SkipBlanks(&p, end);
      if (p != end) Fail("text after the final \"-1\"");
      return;
    }
    if (line_ == 1) return TakeHeader(p, end);
    const char* start = p;
    int32_t row, column, value;
    SkipBlanks(&p, end);
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
    if (count_ == capacity_) Fail("more entries than when the file was first read: it changed meanwhile");
    rows_[count_] = row;
    columns_[count_] = column;
    values_[count_] = value;
    ++count_;
  }

  // Takes the complete lines of [p, end); returns the start of the unfinished
  // line at its end (end if there is none). Lines in the exact layout rnaqubo
  // writes, "row  column  value", are taken on a fast path.
  const char* TakeLines(const char* p, const char* end) {
    while (p < end) {
      if (line_ > 0 && !finished_) {
        const char* q = p;
        uint64_t row, column, magnitude;
        if (ScanDigits(&q, end, &row) && q + 2 < end && q[0] == ' ' && q[1] == ' ' &&
            ScanDigits(&(q += 2), end, &column) && q + 2 < end && q[0] == ' ' && q[1] == ' ') {
          q += 2;
          const bool negative = *q == '-';
          q += negative;
          if (ScanDigits(&q, end, &magnitude) && q < end && *q == '\n' && row >= 1 && column >= 1 &&
              row <= static_cast<uint64_t>(quad_count_) && column <= static_cast<uint64_t>(quad_count_) &&
              magnitude <= uint64_t{INT32_MAX} + negative && count_ < capacity_) {
            rows_[count_] = static_cast<int32_t>(row);
            columns_[count_] = static_cast<int32_t>(column);
            values_[count_] = static_cast<int32_t>(negative ? -static_cast<int64_t>(magnitude)
                                                            : static_cast<int64_t>(magnitude));
            ++count_;
            ++line_;
            p = q + 1;
            continue;
          }
        }
      }
      const char* line_end = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
      if (line_end == nullptr) return p;
      TakeLine(p, line_end);
      p = line_end + 1;
    }
    return p;
  }

  // The end of the file has been reached.
  void Finish() {
    if (line_ == 0) {
      line_ = 1;
      Fail("the file is empty, not a Q file");
    }
    if (!finished_) {
      ++line_;
      Fail("the file ends without the final \"-1\": it is incomplete");
    }
  }

  // The next line is longer than limit bytes: no line of a Q file is.
  [[noreturn]] void TooLong(size_t limit) {
    ++line_;
    Fail("a line longer than " + std::to_string(limit) + " bytes: not a Q file");
  }

  int64_t count() const { return count_; }
  int32_t quad_count() const { return quad_count_; }

 private:
  void TakeHeader(const char* p, const char* end) {
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

  [[noreturn]] void Malformed(const char* start, const char* end) {
    std::string shown;
    for (const char* c = start; c < end && shown.size() < 60; ++c) {
      const unsigned char u = static_cast<unsigned char>(*c);
      if (u >= 0x20 && u < 0x7f) {
        shown += *c;
      } else {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", u);
        shown += escaped;
      }
    }
    if (end - start > 60) shown += "...";
    Fail("expected \"row  column  value\" or \"-1\", found \"" + shown + "\"");
  }

  [[noreturn]] void Fail(const std::string& what) {
    throw RunFailure(path_ + ": line " + std::to_string(line_) + ": " + what, 1);
  }

  std::string path_;
  int64_t capacity_;
  int32_t* rows_;
  int32_t* columns_;
  int32_t* values_;
  int64_t line_ = 0;
  int64_t count_ = 0;
  int32_t quad_count_ = 0;
  bool finished_ = false;
};

}  // namespace

QFileInput::QFileInput(const std::string& path) : path_(path) {
  do {
    fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd_ < 0 && errno == EINTR);
  if (fd_ < 0) throw FileFailure("Could not read from Q file!", errno, path);
}

QFileInput::~QFileInput() { close(fd_); }

size_t QFileInput::ReadSome(char* data, size_t size) {
  ssize_t got;
  do {
    got = read(fd_, data, size);
  } while (got < 0 && errno == EINTR);
  if (got < 0) throw FileFailure("Could not read from Q file!", errno, path_);
  return static_cast<size_t>(got);
}

int64_t QFileInput::CountLineEnds() {
  std::vector<char> block(kBlock);
  int64_t line_ends = 0;
  for (size_t got; (got = ReadSome(block.data(), kBlock)) > 0;) {
    line_ends += std::count(block.data(), block.data() + got, '\n');
  }
  return line_ends;
}

int64_t QFileInput::ReadEntries(int64_t capacity, int32_t* quad_count, int32_t* rows, int32_t* columns,
                                int32_t* values) {
  if (lseek(fd_, 0, SEEK_SET) != 0) throw FileFailure("Could not read from Q file!", errno, path_);
  EntryParser parser(path_, capacity, rows, columns, values);
  std::vector<char> block(kBlock);
  size_t kept = 0;  // bytes of an unfinished line at the start of block
  for (;;) {
    const size_t got = ReadSome(block.data() + kept, kBlock - kept);
    const char* p = block.data();
    const char* end = p + kept + got;
    if (got == 0) {
      if (kept > 0) parser.TakeLine(p, end);
      break;
    }
    p = parser.TakeLines(p, end);
    kept = static_cast<size_t>(end - p);
    if (kept == kBlock) {
      parser.TooLong(kBlock);
    }
    std::memmove(block.data(), p, kept);
  }
  parser.Finish();
  *quad_count = parser.quad_count();
  return parser.count();
}
