// The two quad listings: "dot_paren.txt" and the Q_nested_ file.
#pragma once

#include <cstdint>
#include <string>

#include "driver/index_arrays.h"

// The name "Q_nested_<quad_count>_<path>", with path exactly as given.
std::string NestedQuadFileName(int32_t quad_count, const char* path);

// Writes "dot_paren.txt" in the working directory: n, then "k\ti\tj\ti+1\tj-1"
// for quad rows 1..quad_count. A failed open prints "Failed to open <reason>" on
// standard error and "Could not write to file!" on standard output, status 2;
// a failed write prints the second line only.
void WriteDotParenFile(int32_t n, IntMatrix quads, int32_t quad_count);

// Writes the Q_nested_ listing: "k  X_i Y_j     Z_i+1 W_j-1" for rows
// 1..quad_count with the letters of buffer. Any failure prints
// "Could not write to file!" on standard output, status 2.
void WriteNestedQuadFile(const char* path, const char* buffer, IntMatrix quads,
                         int32_t quad_count);
