// Reading a Q file written by rnaqubo (or any file of its format) into integer
// arrays, beside its writer (q_file.h). The file is split into parts at line
// ends; a first pass counts each part's lines, which sizes the arrays exactly
// and tells each part where its entries go, and a second pass parses the parts
// on threads of their own, each following the writer's order as it goes. A
// file in that order is free of repeated couples by the entries just before
// each; only a file in another order is checked against a table of couples.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Follows entries one at a time, telling whether they keep the order the Q-file
// writer gives them (WalkRowEntries): rows ascend, and within a row the columns
// ascend but for one step down, from the chain bonus to the stack link, landing
// above the column before the bonus when that is in the row, after which the
// bonus's column does not come again in the row. Entries in that order hold no
// couple twice: the columns after the step lie above every column before the
// bonus and differ from the bonus's.
struct WriterOrder {
  int32_t row = 0;     // the last entry's row and column (0: none yet)
  int32_t column = 0;
  int32_t before = 0;  // the column of the entry before the last, if in the same row, else 0
  int32_t bonus = 0;   // the column the row stepped down from, 0 before the step
  bool kept = true;    // every entry so far kept the order

  // Takes the next entry; the first one taken starts a row.
  void Take(int32_t entry_row, int32_t entry_column) {
    if (entry_row != row) {
      kept &= entry_row > row;
      before = bonus = 0;
    } else {
      if (entry_column <= column) {
        kept &= (bonus == 0) & (entry_column != column) & (entry_column > before);
        bonus = column;
      } else {
        kept &= entry_column != bonus;
      }
      before = column;
    }
    row = entry_row;
    column = entry_column;
  }
};

// Whether entries begin..end - 1 of (rows, columns) keep the writer's order
// (WriterOrder), the one before begin, if any, taken as the end of an earlier
// row. begin must be 0 or a row's first entry.
bool KeepsWriterOrder(const int32_t* rows, const int32_t* columns, int64_t begin, int64_t end);

class QFileInput {
 public:
  // Opens path for reading; throws Failure kFile "<path>: Q file: cannot read:
  // <reason>" (with path and errno) if it cannot.
  explicit QFileInput(const std::string& path);
  QFileInput(const QFileInput&) = delete;
  QFileInput& operator=(const QFileInput&) = delete;
  ~QFileInput();

  // Reads the header "p Q 1", splits the rest into up to thread_count parts
  // and counts their lines. Returns the number of entries of a sound file (an
  // upper bound otherwise). Throws Failure kData for a bad header and
  // kFile when the file cannot be read.
  int64_t Survey(int thread_count);

  // Q, from the header read by Survey.
  int32_t quad_count() const { return quad_count_; }

  // Parses the entry lines "row  column  value" (fields separated by spaces or
  // tabs, 1 <= row <= column <= Q, 32-bit values, no couple twice) and the final "-1" into the
  // arrays (Survey's count of elements each), in file order; returns the number
  // of entries. Throws Failure kData "<path>: line <k>: <what is wrong>"
  // for a malformed line, a missing final "-1" or text after it, and
  // kFile when the file cannot be read.
  int64_t ReadEntries(int32_t* rows, int32_t* columns, int32_t* values);

 private:
  // A run of whole lines of the file, after the header.
  struct Part {
    int64_t begin, end;   // byte range
    int64_t first_line;   // number of its first line (the header is line 1)
    int64_t lines;        // lines in it, a last one without line end included
    int64_t first_entry;  // index of its first entry in the arrays
    int64_t entries;      // entry lines it holds if the file is sound
  };

  // Reads up to size bytes at offset into data; returns how many (0 at the end).
  size_t ReadAt(int64_t offset, char* data, size_t size) const;
  // Offset just past the first line end at or after offset (the file's size if none).
  int64_t NextLineStart(int64_t offset) const;
  // Throws Failure kData "<path>: line <k>: the couple ... is given twice" for
  // the first of the count entries that repeats an earlier couple; in_order
  // tells that they keep the writer's order, where none can.
  void CheckCouplesOnce(const int32_t* rows, const int32_t* columns, int64_t count, bool in_order) const;
  // Whether the count entries of parts 0..last, each part's parse having found
  // its own in_order[k], keep the writer's order across the seams as well.
  bool PartsInOrder(const int32_t* rows, const int32_t* columns, int64_t count, size_t last,
                    const std::vector<char>& in_order) const;
  // Line ends in part.
  int64_t CountLineEnds(const Part& part) const;

  std::string path_;
  int fd_;
  int64_t size_ = 0;
  int32_t quad_count_ = 0;
  std::vector<Part> parts_;
};
