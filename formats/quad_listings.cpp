#include "formats/quad_listings.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr size_t kBlockBytes = 1 << 20;
constexpr size_t kLongestLine = 128;  // longer than any listing line

// Writes the block if it is nearly full (or always, when final). Returns false,
// with errno set, if the write fails.
bool FlushBlock(OutputFile* file, char* block, char** cursor, bool final) {
  const size_t used = static_cast<size_t>(*cursor - block);
  if (!final && used + kLongestLine < kBlockBytes) return true;
  *cursor = block;
  return WriteOutputBytes(file, block, used);
}

// Writes the lines that format_line (char* out, int32_t k) -> char* puts at out
// for k = 1..quad_count, after the text that head (char* out) -> char* puts,
// to a file named final_name. Throws OutputFileFailure, with the partial file removed.
template <typename Head, typename Line>
void WriteListing(const std::string& final_name, int32_t quad_count, const KeptFile* kept, Head head,
                  Line format_line) {
  // The block is had before the file exists, so that a shortage creates nothing.
  const std::unique_ptr<char[]> block = AllocateOutputBuffer(kBlockBytes);
  if (block == nullptr) throw OutputFileFailure(OutputStage::kMemory, ENOMEM, nullptr, final_name);
  OutputFile file;
  StartOutputFile(final_name, kept, &file);
  char* out = head(block.get());
  bool ok = true;
  for (int32_t k = 1; ok && k <= quad_count; ++k) {
    out = format_line(out, k);
    ok = FlushBlock(&file, block.get(), &out, false);
  }
  if (ok && FlushBlock(&file, block.get(), &out, true) && CommitOutputFile(&file)) return;
  const int write_error = errno;
  DiscardOutputFile(&file);
  throw OutputFileFailure(OutputStage::kWrite, write_error, nullptr, final_name);
}

// The name prefix + "<quad_count>_<path>"; a shortage is an output's memory failure.
std::string ListingName(const char* prefix, int32_t quad_count, const char* path) {
  try {
    return prefix + std::to_string(quad_count) + "_" + path;
  } catch (const std::bad_alloc&) {
    throw OutputFileFailure(OutputStage::kMemory, ENOMEM, nullptr, std::string());
  }
}

}  // namespace

std::string NestedQuadFileName(int32_t quad_count, const char* path) {
  return "Q_nested_" + std::to_string(quad_count) + "_" + path;
}

void WriteDotParenFile(int32_t n, IntMatrix quads, int32_t quad_count, const KeptFile* kept) {
  const std::string name = kDotParenName;  // short enough never to allocate
  WriteListing(
      name, quad_count, kept,
      [n](char* out) {
        out = AppendDecimal(out, n);
        *out++ = '\n';
        return out;
      },
      [quads](char* out, int32_t k) {
        const int32_t* quad = MatrixRow(quads, k);
        out = AppendDecimal(out, k);
        for (int e = 0; e < 4; ++e) {
          *out++ = '\t';
          out = AppendDecimal(out, quad[e]);
        }
        *out++ = '\n';
        return out;
      });
}

void WriteNestedQuadFile(const char* path, const char* buffer, IntMatrix quads, int32_t quad_count,
                         const KeptFile* kept) {
  const std::string name = ListingName("Q_nested_", quad_count, path);
  // Separators after k and after each of the four positions but the last.
  static constexpr const char* kGaps[4] = {"  ", " ", "     ", " "};
  WriteListing(
      name, quad_count, kept, [](char* out) { return out; },
      [buffer, quads](char* out, int32_t k) {
        const int32_t* quad = MatrixRow(quads, k);
        out = AppendDecimal(out, k);
        for (int e = 0; e < 4; ++e) {
          out = AppendBytes(out, kGaps[e], std::strlen(kGaps[e]));
          *out++ = buffer[quad[e]];
          *out++ = '_';
          out = AppendDecimal(out, quad[e]);
        }
        *out++ = '\n';
        return out;
      });
}
