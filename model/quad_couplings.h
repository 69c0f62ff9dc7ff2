// Couplings between quads: the stack link (8), the chain bonus (16) and the
// conflict penalty, for couples of quad rows l < m.
#pragma once

#include <cstdint>

#include "core/index_arrays.h"

// Value of a stack link entry and of a chain bonus entry.
constexpr int32_t kStackLinkValue = 8;
constexpr int32_t kChainBonusValue = 16;

// First row a with start <= a <= last whose elements 0 and 1 are key_i and key_j,
// scanning upwards; -1 if none or start > last.
int32_t FindQuad(int32_t key_i, int32_t key_j, int32_t start, int32_t last, IntMatrix quads);

// Whether quads ql and qm (elements 0..3, ql's row before qm's) cannot both be
// chosen: they share a position (unless qm continues ql's stack) or their outer
// pairs cross. The tests run in a fixed order; the first that decides answers.
inline bool QuadsConflict(const int32_t* ql, const int32_t* qm) {
  const int32_t l0 = ql[0], l1 = ql[1], l2 = ql[2], l3 = ql[3];
  const int32_t m0 = qm[0], m1 = qm[1], m2 = qm[2], m3 = qm[3];
  if (l0 == m0 || l0 == m1 || l0 == m2 || l0 == m3) return true;
  if (l1 == m0 || l1 == m1 || l1 == m2 || l1 == m3) return true;
  if (l2 == m0 && l3 != m1) return true;
  if (l0 >= m0) return false;
  if (l1 < m1 && l1 >= m2) return true;
  if (l2 >= m2) return false;
  if (l0 + 1 == m0 && l2 + 1 == m2) return false;
  if (l3 == m3 || l3 == m1) return true;
  return false;
}

// QuadsConflict(ql, qm) as one expression over the same tests, with no early
// exit, so that a loop over many qm compiles to vector instructions. Returns 0 or 1.
inline int32_t QuadsConflictFlag(int32_t l0, int32_t l1, int32_t l2, int32_t l3, int32_t m0,
                                 int32_t m1, int32_t m2, int32_t m3) {
  const bool shared = (l0 == m0) | (l0 == m1) | (l0 == m2) | (l0 == m3) | (l1 == m0) |
                      (l1 == m1) | (l1 == m2) | (l1 == m3) | ((l2 == m0) & (l3 != m1));
  const bool crossing = (l1 < m1) & (l1 >= m2);
  const bool adjacent_stack = (l0 + 1 == m0) & (l2 + 1 == m2);
  const bool inner_shared = ((l3 == m3) | (l3 == m1)) & (l2 < m2) & !adjacent_stack;
  return shared | ((l0 < m0) & (crossing | inner_shared));
}

// The quad table as four columns: column k holds element k of rows 1..quad_count
// (index 0 unused), so that a run of rows is four contiguous arrays.
struct QuadColumns {
  IntArray element[4];
};

// Copies the elements of quads rows 1..quad_count into columns.
QuadColumns SplitQuadColumns(IntMatrix quads, int32_t quad_count);

// flags[m - first] = QuadsConflict(ql, row m) (0 or 1) for every row m in
// first..last of columns; nothing if first > last.
void FlagQuadConflicts(const int32_t* ql, const QuadColumns& columns, int32_t first, int32_t last,
                       uint8_t* flags);

// Whether quad qm's outer pair is quad ql's inner pair (the stack link).
inline bool QuadsStackLinked(const int32_t* ql, const int32_t* qm) {
  return qm[0] == ql[2] && qm[1] == ql[3];
}

// Row index of quads rows 1..quad_count by outer position: an IntArray of size
// n + 1 whose element i (1..n + 1) is the first row whose element 0 is at least i.
// The rows whose outer pair starts at i are first_row[i] .. first_row[i + 1] - 1.
IntArray IndexQuadsByPosition(IntMatrix quads, int32_t quad_count, int32_t n);

// Stack link partners: an IntArray of size quad_count whose element l is the row
// whose outer pair is quad l's inner pair, or 0 if there is none. Always > l.
IntArray LinkStackedQuads(IntMatrix quads, int32_t quad_count, IntArray first_row);

// The last row m that may couple with quad l: every quad that shares a position
// with l, crosses it or continues its stack has its outer i between L0 and L1,
// and those rows end at first_row[L1 + 1] - 1.
inline int32_t LastCouplingRow(const int32_t* ql, IntArray first_row) {
  return first_row[ql[1] + 1] - 1;
}
