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
