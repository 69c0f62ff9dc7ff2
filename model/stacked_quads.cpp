#include "model/stacked_quads.h"

#include <string>

#include "core/failure.h"

namespace {

// Walks the pairs once. The inner pair wanted for row r, (i + 1, j - 1), grows in
// (i, j) order as r does, so one cursor moving forward through the table finds
// every inner pair: time linear in the number of pairs.
int64_t EnumerateQuads(IntMatrix pairs, int32_t pair_count, IntMatrix* quads) {
  int64_t written = 0;
  int64_t b = 1;
  for (int64_t r = 1; r <= pair_count; ++r) {
    const int32_t* outer = MatrixRow(pairs, r);
    const int64_t want_i = static_cast<int64_t>(outer[0]) + 1;
    const int64_t want_j = static_cast<int64_t>(outer[1]) - 1;
    while (b <= pair_count) {
      const int32_t* row = MatrixRow(pairs, b);
      if (row[0] > want_i || (row[0] == want_i && row[1] >= want_j)) break;
      ++b;
    }
    if (b > pair_count) break;  // no later pair can be an inner pair
    const int32_t* inner = MatrixRow(pairs, b);
    if (inner[0] != want_i || inner[1] != want_j) continue;
    ++written;
    if (quads != nullptr) {
      int32_t* quad = MatrixRow(*quads, written);
      quad[0] = outer[0];
      quad[1] = outer[1];
      quad[2] = inner[0];
      quad[3] = inner[1];
    }
  }
  return written;
}

}  // namespace

int64_t CountNestedPairs(IntMatrix pairs, int32_t pair_count) {
  return EnumerateQuads(pairs, pair_count, nullptr);
}

int64_t GenerateNestedPairs(IntMatrix pairs, int32_t pair_count, IntMatrix quads) {
  return EnumerateQuads(pairs, pair_count, &quads);
}

IntMatrix BuildQuadTable(IntMatrix pairs, int32_t pair_count, int32_t* quad_count) {
  const int64_t count = CountNestedPairs(pairs, pair_count);
  IntMatrix quads = AllocateIntMatrix(count + 1, 4);  // refuses a count beyond 32 bits
  const int64_t written = GenerateNestedPairs(pairs, pair_count, quads);
  if (written != count) {
    throw Failure(FailureKind::kData, "Nested Feasible pair generation fails " +
                                          std::to_string(static_cast<int32_t>(written)) + " != " +
                                          std::to_string(static_cast<int32_t>(count)));
  }
  *quad_count = static_cast<int32_t>(count);
  return quads;
}
