// The Q file: the model's sparse upper-triangular coefficient matrix over the quads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/index_arrays.h"
#include "model/quad_couplings.h"
#include "output/output_file.h"

// The name "Q_<quad_count>_<path>", with path exactly as given.
std::string QFileName(int32_t quad_count, const char* path);

// What the Q file needs besides the quad table.
struct QModel {
  const char* buffer;   // letters at positions 1..n
  int32_t n;
  IntMatrix quads;      // rows 1..quad_count, sorted by outer pair
  int32_t quad_count;
  int32_t add_quads;    // non-zero: write chain bonus entries
  int32_t penalty;      // value of every conflict entry
  IntArray first_row;   // IndexQuadsByPosition of the quads
  IntArray next;        // LinkStackedQuads of the quads
  QuadColumns columns;  // SplitQuadColumns of the quads
  // The text "m  penalty\n" that follows the row prefix in the conflict entry of
  // column m (1..quad_count), at conflict_text + m * kConflictTextStride, and its
  // size in bytes at conflict_text_size[m]; the longest of them.
  char* conflict_text;
  uint8_t* conflict_text_size;
  size_t conflict_text_longest;
};

// Bytes set aside for each column's conflict text: room for the widest column
// and penalty, "2147483647  -2147483648\n".
constexpr size_t kConflictTextStride = 32;

// The conflict text of column m of model.
inline const char* ConflictText(const QModel& model, int32_t m) {
  return model.conflict_text + static_cast<size_t>(m) * kConflictTextStride;
}

// Prepares the lookup tables of model from its quads.
QModel MakeQModel(const char* buffer, int32_t n, IntMatrix quads, int32_t quad_count,
                  int32_t add_quads, int32_t penalty);

// Formats the entries of rows first..last (1-based, inclusive) of the matrix at
// out: for each row l its diagonal "l  l  score", then for each later quad m in
// ascending order the chain bonus "l  r  16" (before the link it extends), the
// stack link "l  m  8" and the conflict "l  m  penalty". out must hold
// RowsTextBound(model, first, last) bytes. Returns the end of the text.
char* FormatQRows(const QModel& model, int32_t first, int32_t last, char* out);

// The most bytes FormatQRows can write for rows first..last.
size_t RowsTextBound(const QModel& model, int32_t first, int32_t last);

// Writes the Q file of model under QFileName(quad_count, path): the header
// "p Q 1", the entries of every row, the terminator "-1". Rows are formatted in
// blocks by up to thread_count threads and written in order, so the bytes do not
// depend on the threads (fewer run when no more can be started or given a
// buffer). Never ends the process and never throws: on any failure it removes
// the partial file, fills *failure and returns false. When kept is given, a final
// name that is that file is refused before anything is written.
bool WriteQFile(const char* path, const QModel& model, int thread_count, OutputFailure* failure,
                const KeptFile* kept = nullptr);

// WriteQFile under the file name name exactly, as given.
bool WriteQFileNamed(const std::string& name, const QModel& model, int thread_count, OutputFailure* failure,
                     const KeptFile* kept = nullptr);
