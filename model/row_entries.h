// The entries of one row of the Q file, in the Q file's order: the one place
// that knows that order and how a row's conflicts are found. The Q-file
// writer, the Python module's arrays, the value of a selection and the lists of
// conflicting couples all walk rows through WalkRowEntries, each with its own
// visitor, so that each keeps its own inner loop over the conflict flags.
#pragma once

#include <algorithm>
#include <cstdint>

#include "model/quad_couplings.h"
#include "model/quad_model.h"

// Later quads of a row whose conflicts are decided at a time: the size of the
// flags buffer that WalkRowEntries takes.
constexpr int32_t kFlagChunk = 2048;

// The later quads that may couple with row l of model: l + 1 .. LastRowCandidate.
inline int32_t LastRowCandidate(const QuadModel& model, int32_t l) {
  return LastCouplingRow(MatrixRow(model.quads, l), model.first_row);
}

// Calls, for row l (1..quad_count) of model, in the Q file's order:
//   visitor.Diagonal(score)                 the entry (l, l, score), first;
//   visitor.Conflicts(first, flags, count)  for the columns first..first + count - 1
//                                           ascending, flags[k] is 1 when (l, first + k)
//                                           is a conflict entry (value penalty), else 0;
//   visitor.Bonus(column)                   the chain bonus (l, column, 16), if any;
//   visitor.Link(column)                    the stack link (l, column, 8), if any.
// The columns l + 1 .. LastRowCandidate(model, l) are covered by Conflicts calls
// in ascending runs (a run may be empty); the bonus and then the link come
// between the run that ends just before the link's column and the run that
// starts at it (the link's own flag is 0: it is never a conflict). flags is a
// buffer of kFlagChunk bytes, overwritten between calls.
template <typename Visitor>
inline void WalkRowEntries(const QuadModel& model, int32_t l, uint8_t* flags, Visitor& visitor) {
  const int32_t* ql = MatrixRow(model.quads, l);
  const int32_t last_row = LastCouplingRow(ql, model.first_row);
  visitor.Diagonal(model.score[l]);
  const int32_t link = model.next[l];
  for (int32_t m = l + 1; m <= last_row;) {
    const int32_t chunk_last = static_cast<int32_t>(std::min<int64_t>(last_row, int64_t{m} + kFlagChunk - 1));
    FlagQuadConflicts(ql, model.columns, m, chunk_last, flags);
    int32_t done = 0;
    if (link >= m && link <= chunk_last) {
      done = link - m;
      visitor.Conflicts(m, flags, done);
      if (model.chain[l] > 0) visitor.Bonus(model.chain[l]);
      visitor.Link(link);
    }
    visitor.Conflicts(m + done, flags + done, chunk_last - m + 1 - done);
    if (chunk_last == last_row) break;
    m = chunk_last + 1;
  }
}

// Calls visitor.Entry(l, column, value) for every entry of row l of model, the
// diagonal (column l) first, in the Q file's order: WalkRowEntries for a visitor
// that takes the entries one at a time.
template <typename Visitor>
inline void WalkRowEntryCalls(const QuadModel& model, int32_t l, uint8_t* flags, Visitor& visitor) {
  struct Calls {
    int32_t row;
    int32_t penalty;
    Visitor& visitor;
    void Diagonal(int32_t score) { visitor.Entry(row, row, score); }
    void Conflicts(int32_t first, const uint8_t* conflict_flags, int32_t count) {
      for (int32_t k = 0; k < count; ++k) {
        if (conflict_flags[k] != 0) visitor.Entry(row, first + k, penalty);
      }
    }
    void Bonus(int32_t column) { visitor.Entry(row, column, kChainBonusValue); }
    void Link(int32_t column) { visitor.Entry(row, column, kStackLinkValue); }
  } calls{l, model.penalty, visitor};
  WalkRowEntries(model, l, flags, calls);
}
