#include "output/quad_listings.h"

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
// to a file named final_name. Never throws; returns false with *failure filled.
template <typename Head, typename Line>
bool WriteListing(const std::string& final_name, int32_t quad_count, const KeptFile* kept,
                  OutputFailure* failure, Head head, Line format_line) {
  *failure = OutputFailure{};
  // The block is had before the file exists, so that a shortage creates nothing.
  const std::unique_ptr<char[]> block = AllocateOutputBuffer(kBlockBytes);
  if (block == nullptr) {
    failure->kind = OutputFailureKind::kMemory;
    failure->error = ENOMEM;
    return false;
  }
  OutputFile file;
  if (!StartOutputFile(final_name, kept, &file, failure)) return false;
  char* out = head(block.get());
  bool ok = true;
  for (int32_t k = 1; ok && k <= quad_count; ++k) {
    out = format_line(out, k);
    ok = FlushBlock(&file, block.get(), &out, false);
  }
  if (ok && FlushBlock(&file, block.get(), &out, true) && CommitOutputFile(&file)) return true;
  failure->kind = OutputFailureKind::kWrite;
  failure->error = errno;
  DiscardOutputFile(&file);
  return false;
}

// Builds name from its parts, or reports a memory failure; never throws.
bool ListingName(const char* prefix, int32_t quad_count, const char* path, std::string* name,
                 OutputFailure* failure) {
  try {
    *name = prefix + std::to_string(quad_count) + "_" + path;
    return true;
  } catch (...) {
    failure->kind = OutputFailureKind::kMemory;
    failure->error = ENOMEM;
    return false;
  }
}

}  // namespace

std::string NestedQuadFileName(int32_t quad_count, const char* path) {
  return "Q_nested_" + std::to_string(quad_count) + "_" + path;
}

bool WriteDotParenFile(int32_t n, IntMatrix quads, int32_t quad_count, OutputFailure* failure,
                       const KeptFile* kept) {
  const std::string name = "dot_paren.txt";  // short enough never to allocate
  return WriteListing(
      name, quad_count, kept, failure,
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

bool WriteNestedQuadFile(const char* path, const char* buffer, IntMatrix quads, int32_t quad_count,
                         OutputFailure* failure, const KeptFile* kept) {
  std::string name;
  if (!ListingName("Q_nested_", quad_count, path, &name, failure)) return false;
  // Separators after k and after each of the four positions but the last.
  static constexpr const char* kGaps[4] = {"  ", " ", "     ", " "};
  return WriteListing(
      name, quad_count, kept, failure, [](char* out) { return out; },
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
