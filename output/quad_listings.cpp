#include "output/quad_listings.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "driver/run_end.h"
#include "output/output_file.h"

namespace {

constexpr size_t kBlockBytes = 1 << 20;
constexpr size_t kLongestLine = 128;  // longer than any listing line

// Writes the block if it is nearly full (or always, when final); ends the run on failure.
void FlushBlock(OutputFile* file, std::vector<char>* block, char** cursor, bool final) {
  const size_t used = static_cast<size_t>(*cursor - block->data());
  if (!final && used + kLongestLine < block->size()) return;
  if (!WriteOutputBytes(file, block->data(), used)) FailOutputFile(file);
  *cursor = block->data();
}

void CommitOrFail(OutputFile* file) {
  if (!CommitOutputFile(file)) EndRun("Could not write to file!\n", kStatusIoError);
}

}  // namespace

std::string NestedQuadFileName(int32_t quad_count, const char* path) {
  return "Q_nested_" + std::to_string(quad_count) + "_" + path;
}

void WriteDotParenFile(int32_t n, IntMatrix quads, int32_t quad_count) {
  OutputFile file;
  if (!OpenOutputFile("dot_paren.txt", &file)) {
    std::fprintf(stderr, "Failed to open %s\n", std::strerror(errno));
    EndRun("Could not write to file!\n", kStatusIoError);
  }
  std::vector<char> block(kBlockBytes);
  char* out = block.data();
  out = AppendDecimal(out, n);
  *out++ = '\n';
  for (int32_t k = 1; k <= quad_count; ++k) {
    const int32_t* quad = MatrixRow(quads, k);
    out = AppendDecimal(out, k);
    for (int e = 0; e < 4; ++e) {
      *out++ = '\t';
      out = AppendDecimal(out, quad[e]);
    }
    *out++ = '\n';
    FlushBlock(&file, &block, &out, false);
  }
  FlushBlock(&file, &block, &out, true);
  CommitOrFail(&file);
}

void WriteNestedQuadFile(const char* path, const char* buffer, IntMatrix quads,
                         int32_t quad_count) {
  OutputFile file;
  if (!OpenOutputFile(NestedQuadFileName(quad_count, path), &file)) {
    EndRun("Could not write to file!\n", kStatusIoError);
  }
  std::vector<char> block(kBlockBytes);
  char* out = block.data();
  // Separators after k and after each of the four positions but the last.
  static constexpr const char* kGaps[4] = {"  ", " ", "     ", " "};
  for (int32_t k = 1; k <= quad_count; ++k) {
    const int32_t* quad = MatrixRow(quads, k);
    out = AppendDecimal(out, k);
    for (int e = 0; e < 4; ++e) {
      out = AppendBytes(out, kGaps[e], std::strlen(kGaps[e]));
      *out++ = buffer[quad[e]];
      *out++ = '_';
      out = AppendDecimal(out, quad[e]);
    }
    *out++ = '\n';
    FlushBlock(&file, &block, &out, false);
  }
  FlushBlock(&file, &block, &out, true);
  CommitOrFail(&file);
}
