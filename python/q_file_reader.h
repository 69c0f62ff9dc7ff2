// Reading a Q file written by rnaqubo (or any file of its format) into integer
// arrays: a first pass counts the lines to size the arrays, a second fills them.
#pragma once

#include <cstdint>
#include <string>

// An open file, closed when the object goes.
class QFileInput {
 public:
  // Opens path for reading; throws FileFailure if it cannot.
  explicit QFileInput(const std::string& path);
  QFileInput(const QFileInput&) = delete;
  QFileInput& operator=(const QFileInput&) = delete;
  ~QFileInput();

  // Number of line ends in the file: at least the number of entries + 1.
  // Throws FileFailure when the file cannot be read.
  int64_t CountLineEnds();

  // Reads the file from its start: the header "p Q 1", entry lines
  // "row  column  value" (fields separated by spaces or tabs, 1 <= row, column <= Q,
  // 32-bit values) and the final "-1". Stores up to capacity entries, in file
  // order, and sets *quad_count to Q; returns the number of entries. Throws
  // RunFailure (status 1) "<path>: line <k>: <what is wrong>" for a malformed
  // line, a missing final "-1", text after it or more entries than capacity,
  // and FileFailure when the file cannot be read.
  int64_t ReadEntries(int64_t capacity, int32_t* quad_count, int32_t* rows, int32_t* columns,
                      int32_t* values);

 private:
  // Reads up to size bytes into data; returns how many (0 at the end of the file).
  size_t ReadSome(char* data, size_t size);

  std::string path_;
  int fd_;
};
