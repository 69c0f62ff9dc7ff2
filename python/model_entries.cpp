#include "python/model_entries.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <system_error>
#include <thread>

#include "core/shown_text.h"
#include "model/feasible_pairs.h"
#include "model/quad_couplings.h"
#include "model/row_entries.h"
#include "formats/instance_files.h"

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

// Rows first..last split among threads by their share of the work, given by
// a running total cost[l - 1]..cost[l] per row: returns the first row of each
// part and then last + 1.
std::vector<int32_t> SplitRows(const std::vector<int64_t>& cost, int32_t first, int32_t last, int parts) {
  std::vector<int32_t> starts{first};
  const int64_t begin = cost[first - 1], total = cost[last] - begin;
  int32_t l = first;
  for (int p = 1; p < parts; ++p) {
    const int64_t target = begin + total * p / parts;
    while (l <= last && cost[l - 1] < target) ++l;
    if (l > starts.back() && l <= last) starts.push_back(l);
  }
  starts.push_back(last + 1);
  return starts;
}

// Runs work(first, last) for each part of starts, all but the first on new
// threads. A thread that cannot start leaves its part to this one. Both lists
// are reserved before any thread starts, so recording a thread or a left-over
// part cannot throw, and every started thread is joined even if work throws
// here: no exception leaves a thread running.
template <typename Work>
void RunParts(const std::vector<int32_t>& starts, Work work) {
  std::vector<std::thread> helpers;
  std::vector<size_t> left_over;
  helpers.reserve(starts.size());
  left_over.reserve(starts.size());
  for (size_t p = 1; p + 1 < starts.size(); ++p) {
    try {
      helpers.emplace_back(work, starts[p], starts[p + 1] - 1);
    } catch (const std::exception&) {  // std::system_error, or no memory for the thread
      left_over.push_back(p);
    }
  }
  try {
    work(starts[0], starts[1] - 1);
    for (size_t p : left_over) work(starts[p], starts[p + 1] - 1);
  } catch (...) {
    for (std::thread& helper : helpers) helper.join();
    throw;
  }
  for (std::thread& helper : helpers) helper.join();
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
  // A negated INT32_MIN penalty is refused by the callers before any fill.
  const int32_t penalty = negate ? static_cast<int32_t>(-static_cast<int64_t>(model.penalty)) : model.penalty;
  uint8_t flags[kFlagChunk];
  int32_t flagged[kFlagChunk];
  EntryFiller filler{columns, values, negate ? -1 : 1, penalty, l, flagged};
  WalkRowEntries(model, l, flags, filler);
  *bonus_at = filler.bonus_at;
  return filler.e;
}

}  // namespace

std::unique_ptr<SequenceModel> BuildSequenceModel(const std::string& letters, int32_t min_distance,
                                                  int32_t add_quads, int32_t penalty) {
  auto model = std::make_unique<SequenceModel>();
  CurrentArena owner(&model->arena);
  try {
    model->letters = letters;
    model->n = static_cast<int32_t>(letters.size());
    model->min_distance = min_distance;
    model->buffer = AllocateSequenceBuffer(model->n);
    std::memcpy(model->buffer + 1, letters.data(), letters.size());
    const int64_t pair_count = CountFeasiblePairs(model->buffer, model->n, min_distance);
    if (pair_count > INT32_MAX) throw Failure(FailureKind::kMemory, kArrayAllocationFailure);
    model->pair_count = static_cast<int32_t>(pair_count);
    model->q = BuildQuadModel(model->buffer, model->n, min_distance, add_quads, penalty);
  } catch (const std::bad_alloc&) {
    // A table of the quad model (or a count beyond 32 bits), as the tool reports it.
    throw Failure(FailureKind::kMemory, kArrayAllocationFailure);
  }
  return model;
}

std::vector<int64_t> RowEntryOffsets(const QuadModel& model, int thread_count) {
  std::vector<int64_t> offsets = CandidateTotals(model);
  const int32_t quad_count = model.quad_count;
  if (quad_count == 0) return offsets;
  // offsets[l] receives row l's count, then the running total replaces them.
  RunParts(SplitRows(offsets, 1, quad_count, thread_count), [&model, &offsets](int32_t first, int32_t last) {
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
  RunParts(SplitRows(offsets, 1, model.quad_count, thread_count), [&](int32_t first, int32_t last) {
    FillRowEntries(model, first, last, offsets.data(), shift, negate, rows, columns, values);
  });
}

std::vector<KeptFile> SourceFiles(const SequenceModel& model) {
  if (model.source_path.empty()) return {};
  return {IdentifyKeptFile(model.source_path.c_str())};
}

void WriteModelInstance(const SequenceModel& model, InstanceKind kind, const std::string& path, bool negate,
                        bool pairwise, const KeptVariables* reduction, const std::string& reduce) {
  const bool from_file = !model.source_path.empty();
  InstanceHeader header{model.name.empty() && from_file ? RecordNameOfFile(model.source_path) : model.name,
                        from_file ? model.source_path : "-", model.min_distance};
  header.reduction = reduction;
  header.reduce = reduce;
  const std::vector<KeptFile> inputs = SourceFiles(model);
  switch (kind) {
    case InstanceKind::kLp:
      return WriteLpInstance(model.q, header, path, inputs);
    case InstanceKind::kMilp:
      return WriteMilpInstance(model.q, header, path, inputs, pairwise ? MilpForm::kPairwise : MilpForm::kPositions);
    case InstanceKind::kQubo:
      break;
  }
  WriteQuboInstance(model.q, header, path, negate, inputs);
}
