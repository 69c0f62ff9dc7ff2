#include "formats/entry_arrays.h"

#include <algorithm>
#include <cstring>

#include "core/work_threads.h"
#include "formats/instance_files.h"
#include "model/quad_couplings.h"
#include "model/row_entries.h"

namespace {

// Counts the entries of a row: diagonal, chain bonus, stack link, conflicts.
struct EntryCounter {
  int64_t count = 0;
  void Diagonal(int32_t) { ++count; }
  void Conflicts(int32_t, const uint8_t* flags, int32_t size) {
    int32_t flagged = 0;
    for (int32_t k = 0; k < size; ++k) flagged += flags[k];
    count += flagged;
  }
  void Bonus(int32_t) { ++count; }
  void Link(int32_t) { ++count; }
};

// Number of entries of row l; flags holds kFlagChunk bytes.
int64_t CountRowEntries(const QuadModel& model, int32_t l, uint8_t* flags) {
  EntryCounter counter;
  WalkRowEntries(model, l, flags, counter);
  return counter.count;
}

// Runs work(first, last) over rows 1..quad_count split into up to thread_count
// parts of about equal shares of the work, given as the running total
// cost[l - 1]..cost[l] of each row, all but the first part on threads of their
// own; rethrows the first failure once every part has ended.
template <typename Work>
void RunRowParts(const std::vector<int64_t>& cost, int32_t quad_count, int thread_count, Work work) {
  int32_t next = 1;
  const std::vector<int64_t> starts =
      SplitWork(1, int64_t{quad_count} + 1, cost[quad_count] - cost[0], thread_count, [&](int64_t share) {
        while (next <= quad_count && cost[next - 1] < cost[0] + share) ++next;
        return int64_t{next};
      });
  RethrowFirst(RunEach(starts.size() - 1, [&](size_t p) {
    work(static_cast<int32_t>(starts[p]), static_cast<int32_t>(starts[p + 1] - 1));
  }));
}

// The candidates of each row as a running total, to share rows among threads.
std::vector<int64_t> CandidateTotals(const QuadModel& model) {
  std::vector<int64_t> totals(static_cast<size_t>(model.quad_count) + 1, 0);
  for (int32_t l = 1; l <= model.quad_count; ++l) totals[l] = totals[l - 1] + LastRowCandidate(model, l) - l + 1;
  return totals;
}

// Writes the entries of a row at columns and values as WalkRowEntries visits
// them: the conflicts' columns are compacted from their flags, with no branch
// on the flags.
struct EntryFiller {
  int32_t* columns;
  int32_t* values;
  int32_t sign;      // -1 when negated
  int32_t penalty;   // the conflict value, negated when negated
  int32_t row;
  int32_t* flagged;      // kFlagChunk columns of scratch
  int32_t e = 0;         // entries written
  int32_t bonus_at = -1; // index of the chain bonus entry, or -1
  void Diagonal(int32_t score) {
    columns[e] = row;
    values[e++] = sign * score;
  }
  // Compacted in a buffer of its own: the store of an unflagged column would
  // reach past the row's last entry, into the next row's or past the array.
  void Conflicts(int32_t first, const uint8_t* flags, int32_t count) {
    int32_t flagged_count = 0;
    for (int32_t k = 0; k < count; ++k) {
      flagged[flagged_count] = first + k;
      flagged_count += flags[k];
    }
    std::memcpy(columns + e, flagged, sizeof(int32_t) * static_cast<size_t>(flagged_count));
    std::fill(values + e, values + e + flagged_count, penalty);
    e += flagged_count;
  }
  void Bonus(int32_t column) {
    bonus_at = e;
    columns[e] = column;
    values[e++] = sign * kChainBonusValue;
  }
  void Link(int32_t column) {
    columns[e] = column;
    values[e++] = sign * kStackLinkValue;
  }
};

// Writes the entries of row l at columns and values (negated if negate) and
// returns their number; *bonus_at is the index of the chain bonus entry, or -1.
// columns and values hold LastRowCandidate(l) - l + 2 elements.
int32_t RowEntries(const QuadModel& model, int32_t l, bool negate, int32_t* columns, int32_t* values,
                   int32_t* bonus_at) {
  // A negated INT32_MIN penalty is refused before any fill (CheckNegatedPenalty).
  const int32_t penalty = negate ? static_cast<int32_t>(-static_cast<int64_t>(model.penalty)) : model.penalty;
  uint8_t flags[kFlagChunk];
  int32_t flagged[kFlagChunk];
  EntryFiller filler{columns, values, negate ? -1 : 1, penalty, l, flagged};
  WalkRowEntries(model, l, flags, filler);
  *bonus_at = filler.bonus_at;
  return filler.e;
}

}  // namespace

std::vector<int64_t> RowEntryOffsets(const QuadModel& model, int thread_count) {
  std::vector<int64_t> offsets = CandidateTotals(model);
  const int32_t quad_count = model.quad_count;
  if (quad_count == 0) return offsets;
  // offsets[l] receives row l's count, then the running total replaces them.
  RunRowParts(offsets, quad_count, thread_count, [&model, &offsets](int32_t first, int32_t last) {
    uint8_t flags[kFlagChunk];
    for (int32_t l = first; l <= last; ++l) offsets[l] = CountRowEntries(model, l, flags);
  });
  offsets[0] = 0;
  for (int32_t l = 1; l <= quad_count; ++l) offsets[l] += offsets[l - 1];
  return offsets;
}

void FillRowEntries(const QuadModel& model, int32_t first, int32_t last, const int64_t* offsets, int32_t shift,
                    bool negate, int32_t* rows, int32_t* columns, int32_t* values) {
  for (int32_t l = first; l <= last; ++l) {
    const int64_t start = offsets[l - 1], end = offsets[l];
    int32_t bonus_at;
    RowEntries(model, l, negate, columns + start, values + start, &bonus_at);
    std::fill(rows + start, rows + end, l - shift);
    if (shift != 0) {
      for (int64_t k = start; k < end; ++k) columns[k] -= shift;
    }
  }
}

void FillAllEntries(const QuadModel& model, const std::vector<int64_t>& offsets, int32_t shift, bool negate,
                    int thread_count, int32_t* rows, int32_t* columns, int32_t* values) {
  if (model.quad_count == 0) return;
  if (negate) CheckNegatedPenalty(model.penalty);
  RunRowParts(offsets, model.quad_count, thread_count, [&](int32_t first, int32_t last) {
    FillRowEntries(model, first, last, offsets.data(), shift, negate, rows, columns, values);
  });
}
