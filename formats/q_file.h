// The Q file: the model's sparse upper-triangular coefficient matrix over the quads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/index_arrays.h"
#include "model/quad_model.h"
#include "formats/output_file.h"

// The name "Q_<quad_count>_<path>", with path exactly as given.
std::string QFileName(int32_t quad_count, const char* path);

// Bytes set aside for each column's conflict text: 16 when every column's text
// fits (up to 9,999 columns with a penalty of up to four characters, and so on),
// else room for the widest column and penalty, "2147483647  -2147483648\n".
constexpr size_t kShortConflictStride = 16;
constexpr size_t kLongConflictStride = 32;

// The writer's text of the conflict entries of a model: the text "m  penalty\n"
// that follows the row prefix in the conflict entry of column m (1..quad_count),
// at text.data() + m * stride, and its size in bytes at size[m]. Row m's
// conflict text is the same in every row that conflicts with m, so it is made
// once per column.
struct QFileText {
  std::vector<char> text;
  std::vector<uint8_t> size;
  size_t stride = kLongConflictStride;  // kShortConflictStride or kLongConflictStride
};

// The conflict text of every column of model. Throws std::bad_alloc when memory
// is short.
QFileText MakeQFileText(const QuadModel& model);

// Formats the entries of rows first..last (1-based, inclusive) of model's matrix
// at out, in the order of WalkRowEntries: for each row l its diagonal
// "l  l  score", then for each later quad m in ascending order the conflict
// "l  m  penalty", with the chain bonus "l  r  16" and the stack link "l  m  8"
// just before the conflicts from the link's column on. text is
// MakeQFileText(model); out must hold RowsTextBound(model, first, last) bytes.
// Returns the end of the text.
char* FormatQRows(const QuadModel& model, const QFileText& text, int32_t first, int32_t last, char* out);

// The most bytes FormatQRows can write for rows first..last.
size_t RowsTextBound(const QuadModel& model, int32_t first, int32_t last);

// Writes the Q file of model under QFileName(quad_count, path): the header
// "p Q 1", the entries of every row, the terminator "-1". Rows are formatted in
// blocks by up to thread_count threads and written in order, so the bytes do not
// depend on the threads (fewer run when no more can be started or given a
// buffer). Never ends the process: on any failure it removes the partial file
// and throws OutputFileFailure (stage kMemory when a table or buffer cannot be
// had, before anything is created). When kept is given, a final name that is
// that file is refused (stage kOpen, reason kInputOverwriteReason) before
// anything is written.
void WriteQFile(const char* path, const QuadModel& model, int thread_count, const KeptFile* kept = nullptr);

// WriteQFile under the file name name exactly, as given.
void WriteQFileNamed(const std::string& name, const QuadModel& model, int thread_count,
                     const KeptFile* kept = nullptr);
