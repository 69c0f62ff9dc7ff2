#include "formats/q_file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "core/work_threads.h"
#include "model/quad_couplings.h"
#include "model/row_entries.h"
#include "formats/output_file.h"

namespace {

// Longest entry line: three 11-character numbers, two gaps of two and a line end.
constexpr size_t kLongestEntry = 11 + 2 + 11 + 2 + 11 + 1;

// Entries are stored as fixed-size blocks that reach past their own end: the
// output keeps this much room after its last entry.
constexpr size_t kStoreReach = 48;

// Candidates (later quads examined) per block of rows: a block's text stays
// within a few megabytes, so the blocks in flight stay small whatever Q is.
constexpr int64_t kBlockWork = 1 << 16;

// "  <value>\n", the tail of every entry with that value.
struct EntryTail {
  char text[16];
  size_t size;
};

EntryTail MakeTail(int32_t value) {
  EntryTail tail;
  char* out = AppendBytes(tail.text, "  ", 2);
  out = AppendDecimal(out, value);
  *out++ = '\n';
  tail.size = static_cast<size_t>(out - tail.text);
  return tail;
}

// One entry line: the row prefix "l  ", the column, the tail.
inline char* AppendEntry(char* out, const char* prefix, size_t prefix_size, int32_t column,
                         const EntryTail& tail) {
  std::memcpy(out, prefix, prefix_size);
  out = AppendDecimal(out + prefix_size, column);
  std::memcpy(out, tail.text, sizeof tail.text);  // fixed-size copy; only size bytes count
  return out + tail.size;
}

// Writes the conflict entries "l  m  penalty" of row l for the columns first..
// first + count - 1 whose flag is set. Every column stores a whole entry at out
// (the prefix and its conflict text, stride bytes, reaching past the entry's
// end) and moves out past it only if its flag is set, so that no branch depends
// on the flags.
template <size_t stride>
inline char* AppendFlaggedEntries(char* out, const char* prefix, size_t prefix_size, const QFileText& conflicts,
                                  int32_t first, const uint8_t* flags, int32_t count) {
  char prefix_block[16];
  std::memcpy(prefix_block, prefix, sizeof prefix_block);
  const char* text = conflicts.text.data() + static_cast<size_t>(first) * stride;
  const uint8_t* text_size = conflicts.size.data() + first;
  for (int32_t k = 0; k < count; ++k) {
    std::memcpy(out, prefix_block, sizeof prefix_block);
    std::memcpy(out + prefix_size, text, stride);
    out += flags[k] * (prefix_size + text_size[k]);
    text += stride;
  }
  return out;
}

char* AppendFlaggedEntries(char* out, const char* prefix, size_t prefix_size, const QFileText& conflicts,
                           int32_t first, const uint8_t* flags, int32_t count) {
  if (conflicts.stride == kShortConflictStride) {
    return AppendFlaggedEntries<kShortConflictStride>(out, prefix, prefix_size, conflicts, first, flags, count);
  }
  return AppendFlaggedEntries<kLongConflictStride>(out, prefix, prefix_size, conflicts, first, flags, count);
}

// Formats the entries of one row as WalkRowEntries visits them.
struct RowFormatter {
  const QFileText& conflicts;
  const EntryTail link_tail = MakeTail(kStackLinkValue);
  const EntryTail bonus_tail = MakeTail(kChainBonusValue);
  char* out;
  int32_t row = 0;
  char prefix[16] = {};  // "l  "
  size_t prefix_size = 0;

  void StartRow(int32_t l) {
    row = l;
    prefix_size = static_cast<size_t>(AppendBytes(AppendDecimal(prefix, l), "  ", 2) - prefix);
  }
  void Diagonal(int32_t score) { out = AppendEntry(out, prefix, prefix_size, row, MakeTail(score)); }
  void Conflicts(int32_t first, const uint8_t* flags, int32_t count) {
    out = AppendFlaggedEntries(out, prefix, prefix_size, conflicts, first, flags, count);
  }
  void Bonus(int32_t column) { out = AppendEntry(out, prefix, prefix_size, column, bonus_tail); }
  void Link(int32_t column) { out = AppendEntry(out, prefix, prefix_size, column, link_tail); }
};

// Rows 1..quad_count split into blocks of about kBlockWork candidates.
struct BlockPlan {
  std::vector<int32_t> starts;  // first row of each block, then quad_count + 1
  size_t largest_text;          // RowsTextBound of the largest block
};

BlockPlan PlanBlocks(const QuadModel& model) {
  BlockPlan plan{{}, 0};
  const auto work_of = [&model](int32_t l) {
    return int64_t{LastCouplingRow(MatrixRow(model.quads, l), model.first_row)} - l + 1;
  };
  int64_t total = 0;
  for (int32_t l = 1; l <= model.quad_count; ++l) total += work_of(l);
  // The shares come in ascending order: one pass over the rows finds them all.
  int32_t next = 1;
  int64_t before = 0;  // the work of rows 1..next - 1
  const std::vector<int64_t> starts =
      SplitWork(1, int64_t{model.quad_count} + 1, total, (total + kBlockWork - 1) / kBlockWork, [&](int64_t share) {
        while (next <= model.quad_count && before < share) before += work_of(next++);
        return int64_t{next};
      });
  plan.starts.assign(starts.begin(), starts.end());
  for (size_t b = 0; b + 1 < plan.starts.size(); ++b) {
    plan.largest_text = std::max(plan.largest_text, RowsTextBound(model, plan.starts[b], plan.starts[b + 1] - 1));
  }
  return plan;
}

// Blocks are taken in order by the formatting threads; each thread formats its
// block into its own buffer and writes it when every earlier block is written,
// so one thread writes while the others format.
struct WriteTurns {
  std::mutex lock;
  std::condition_variable changed;
  int64_t next_block = 0;  // next block a thread takes
  int64_t written = 0;     // blocks written so far
  std::atomic<bool> failed{false};  // a write or a thread failed: every thread gives up
  int error = 0;                     // errno of the first failure, set by the thread that failed
};

// Marks turns failed with error (the first failure is kept) and wakes every thread.
// The mark needs no lock, so that it stands even if the lock cannot be had.
void GiveUp(WriteTurns* turns, int error) noexcept {
  if (!turns->failed.exchange(true)) turns->error = error;
  try {
    { std::lock_guard<std::mutex> hold(turns->lock); }  // a waiting thread sees the mark
    turns->changed.notify_all();
  } catch (...) {
    // A lock that cannot be taken is failing in every thread alike.
  }
}

// Formats blocks into text (RowsTextBound of the largest block) and writes them in
// turn until none is left or one thread failed. Never throws: a failure is
// recorded in turns for the calling thread to report.
void FormatAndWriteBlocks(const QuadModel& model, const QFileText& conflicts, const BlockPlan& plan,
                          OutputFile* file, WriteTurns* turns, char* text) noexcept {
  const int64_t block_count = static_cast<int64_t>(plan.starts.size()) - 1;
  try {
    for (;;) {
      int64_t block;
      {
        std::lock_guard<std::mutex> hold(turns->lock);
        if (turns->failed || turns->next_block >= block_count) return;
        block = turns->next_block++;
      }
      const char* end = FormatQRows(model, conflicts, plan.starts[block], plan.starts[block + 1] - 1, text);
      {
        std::unique_lock<std::mutex> hold(turns->lock);
        turns->changed.wait(hold, [&] { return turns->failed || turns->written == block; });
        if (turns->failed) return;
      }
      // Only the thread holding block `written` touches the file.
      if (!WriteOutputBytes(file, text, static_cast<size_t>(end - text))) {
        GiveUp(turns, errno);
        return;
      }
      {
        std::lock_guard<std::mutex> hold(turns->lock);
        turns->written = block + 1;
      }
      turns->changed.notify_all();
    }
  } catch (const std::system_error& error) {
    GiveUp(turns, error.code().value());
  } catch (...) {
    GiveUp(turns, EIO);
  }
}

// Formats and writes every row of model on the threads that texts has buffers
// for, this one included; a helper thread that cannot be started leaves its
// blocks to the others. Returns false, with errno set, if a write failed.
bool WriteRows(const QuadModel& model, const QFileText& conflicts, const BlockPlan& plan, OutputFile* file,
               const std::vector<std::unique_ptr<char[]>>& texts, std::vector<std::thread>* threads) {
  WriteTurns turns;
  for (size_t t = 1; t < texts.size(); ++t) {
    try {
      threads->emplace_back(FormatAndWriteBlocks, std::cref(model), std::cref(conflicts), std::cref(plan), file,
                            &turns,
                            texts[t].get());
    } catch (...) {
      break;  // out of threads or memory: the ones started, and this one, do all the blocks
    }
  }
  FormatAndWriteBlocks(model, conflicts, plan, file, &turns, texts[0].get());
  for (std::thread& thread : *threads) thread.join();
  errno = turns.error;
  return !turns.failed;
}

}  // namespace

std::string QFileName(int32_t quad_count, const char* path) {
  return "Q_" + std::to_string(quad_count) + "_" + path;
}

QFileText MakeQFileText(const QuadModel& model) {
  const size_t columns_end = static_cast<size_t>(model.quad_count) + 1;
  const EntryTail penalty_tail = MakeTail(model.penalty);
  // The last column's text is the longest: no other has more digits.
  char widest[kLongConflictStride];
  const size_t longest =
      static_cast<size_t>(AppendBytes(AppendDecimal(widest, model.quad_count), penalty_tail.text, penalty_tail.size) -
                          widest);
  QFileText conflicts;
  conflicts.stride = longest <= kShortConflictStride ? kShortConflictStride : kLongConflictStride;
  conflicts.text.resize(columns_end * conflicts.stride);
  conflicts.size.resize(columns_end);
  for (int32_t m = 1; m <= model.quad_count; ++m) {
    char* text = conflicts.text.data() + static_cast<size_t>(m) * conflicts.stride;
    const size_t size = static_cast<size_t>(AppendBytes(AppendDecimal(text, m), penalty_tail.text, penalty_tail.size) - text);
    conflicts.size[m] = static_cast<uint8_t>(size);
  }
  return conflicts;
}

size_t RowsTextBound(const QuadModel& model, int32_t first, int32_t last) {
  size_t entries = 0;
  for (int32_t l = first; l <= last; ++l) {
    // The diagonal, one entry per later candidate, and the chain bonus.
    entries += static_cast<size_t>(LastRowCandidate(model, l) - l) + 2;
  }
  return entries * kLongestEntry + kStoreReach;
}

char* FormatQRows(const QuadModel& model, const QFileText& text, int32_t first, int32_t last, char* out) {
  RowFormatter row{text, MakeTail(kStackLinkValue), MakeTail(kChainBonusValue), out};
  uint8_t flags[kFlagChunk];
  for (int32_t l = first; l <= last; ++l) {
    row.StartRow(l);
    WalkRowEntries(model, l, flags, row);
  }
  return row.out;
}

void WriteQFile(const char* path, const QuadModel& model, int thread_count, const KeptFile* kept) {
  std::string name;
  try {
    name = QFileName(model.quad_count, path);
  } catch (const std::bad_alloc&) {
    throw OutputFileFailure(OutputStage::kMemory, ENOMEM, nullptr, std::string());
  }
  WriteQFileNamed(name, model, thread_count, kept);
}

void WriteQFileNamed(const std::string& name, const QuadModel& model, int thread_count, const KeptFile* kept) {
  OutputFile file;
  int write_error = 0;
  try {
    // Everything that can run short (the conflict text, the plan, the buffers,
    // the thread list) is had before the file exists.
    const QFileText conflicts = MakeQFileText(model);
    const BlockPlan plan = PlanBlocks(model);
    const int64_t block_count = static_cast<int64_t>(plan.starts.size()) - 1;
    const int64_t thread_limit = std::max<int64_t>(std::min<int64_t>(std::max(thread_count, 1), block_count), 1);
    std::vector<std::unique_ptr<char[]>> texts;
    texts.reserve(static_cast<size_t>(thread_limit));
    for (int64_t t = 0; t < thread_limit; ++t) {
      std::unique_ptr<char[]> text = AllocateOutputBuffer(plan.largest_text);
      if (text == nullptr) break;  // fewer threads, as long as one has a buffer
      texts.push_back(std::move(text));
    }
    if (texts.empty()) throw std::bad_alloc();
    std::vector<std::thread> threads;
    threads.reserve(texts.size());

    StartOutputFile(name, kept, &file);
    char header[32];
    char* end = AppendBytes(header, "p ", 2);
    end = AppendDecimal(end, model.quad_count);
    end = AppendBytes(end, " 1\n", 3);
    if (WriteOutputBytes(&file, header, static_cast<size_t>(end - header)) &&
        WriteRows(model, conflicts, plan, &file, texts, &threads) && WriteOutputBytes(&file, "-1", 2) &&
        CommitOutputFile(&file)) {
      return;
    }
    write_error = errno;
  } catch (const OutputFileFailure&) {
    throw;
  } catch (const std::bad_alloc&) {
    DiscardOutputFile(&file);
    throw OutputFileFailure(OutputStage::kMemory, ENOMEM, nullptr, name);
  }
  DiscardOutputFile(&file);
  throw OutputFileFailure(OutputStage::kWrite, write_error, nullptr, name);
}
