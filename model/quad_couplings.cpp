#include "model/quad_couplings.h"

int32_t FindQuad(int32_t key_i, int32_t key_j, int32_t start, int32_t last, IntMatrix quads) {
  for (int32_t a = start; a <= last; ++a) {
    const int32_t* quad = MatrixRow(quads, a);
    if (quad[0] == key_i && quad[1] == key_j) return a;
  }
  return -1;
}

IntArray IndexQuadsByPosition(IntMatrix quads, int32_t quad_count, int32_t n) {
  IntArray first_row = AllocateIntArray(static_cast<int64_t>(n) + 1);
  int32_t row = 1;
  for (int32_t i = 1; i <= n + 1; ++i) {
    while (row <= quad_count && MatrixRow(quads, row)[0] < i) ++row;
    first_row[i] = row;
  }
  return first_row;
}

IntArray LinkStackedQuads(IntMatrix quads, int32_t quad_count, IntArray first_row) {
  IntArray next = AllocateIntArray(quad_count);
  for (int32_t l = 1; l <= quad_count; ++l) {
    const int32_t* ql = MatrixRow(quads, l);
    // Rows with outer i = L2 are sorted by j: binary search for j = L3.
    int32_t low = first_row[ql[2]];
    int32_t high = first_row[ql[2] + 1] - 1;
    while (low <= high) {
      const int32_t mid = low + (high - low) / 2;
      const int32_t j = MatrixRow(quads, mid)[1];
      if (j == ql[3]) {
        next[l] = mid;
        break;
      }
      if (j < ql[3]) {
        low = mid + 1;
      } else {
        high = mid - 1;
      }
    }
  }
  return next;
}

QuadColumns SplitQuadColumns(IntMatrix quads, int32_t quad_count) {
  QuadColumns columns;
  for (int k = 0; k < 4; ++k) {
    columns.element[k] = AllocateIntArray(quad_count);
    for (int32_t row = 1; row <= quad_count; ++row) columns.element[k][row] = MatrixRow(quads, row)[k];
  }
  return columns;
}

// Built twice, for AVX2 (eight quads per instruction) and for any x86-64; the
// loader picks the one this processor runs.
#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target_clones("avx2", "default")))
#endif
void FlagQuadConflicts(const int32_t* ql, const QuadColumns& columns, int32_t first, int32_t last,
                       uint8_t* flags) {
  const int32_t l0 = ql[0], l1 = ql[1], l2 = ql[2], l3 = ql[3];
  const int32_t* __restrict m0 = columns.element[0] + first;
  const int32_t* __restrict m1 = columns.element[1] + first;
  const int32_t* __restrict m2 = columns.element[2] + first;
  const int32_t* __restrict m3 = columns.element[3] + first;
  uint8_t* __restrict out = flags;
  const int32_t count = last - first + 1;
  for (int32_t k = 0; k < count; ++k) {
    out[k] = static_cast<uint8_t>(QuadsConflictFlag(l0, l1, l2, l3, m0[k], m1[k], m2[k], m3[k]));
  }
}
