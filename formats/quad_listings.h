// The two quad listings: "dot_paren.txt" and the Q_nested_ file.
#pragma once

#include <cstdint>
#include <string>

#include "core/index_arrays.h"
#include "formats/output_file.h"

// The name "Q_nested_<quad_count>_<path>", with path exactly as given.
std::string NestedQuadFileName(int32_t quad_count, const char* path);

// The name of the quad listing in the working directory.
constexpr const char* kDotParenName = "dot_paren.txt";

// Writes kDotParenName in the working directory: n, then "k\ti\tj\ti+1\tj-1"
// for quad rows 1..quad_count. Never ends the process: on a failure it removes
// the partial file and throws OutputFileFailure (stage kMemory before anything
// is created when the buffer cannot be had). When kept is given, a final name
// that is that file is refused before anything is written.
void WriteDotParenFile(int32_t n, IntMatrix quads, int32_t quad_count, const KeptFile* kept = nullptr);

// Writes the Q_nested_ listing: "k  X_i Y_j     Z_i+1 W_j-1" for rows
// 1..quad_count with the letters of buffer (positions 1..n). Failures and kept
// as for WriteDotParenFile.
void WriteNestedQuadFile(const char* path, const char* buffer, IntMatrix quads, int32_t quad_count,
                         const KeptFile* kept = nullptr);
