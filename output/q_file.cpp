#include "output/q_file.h"

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

#include "model/quad_couplings.h"
#include "model/stack_score.h"
#include "output/output_file.h"

namespace {

// Longest entry line: three 11-character numbers, two gaps of two and a line end.
constexpr size_t kLongestEntry = 11 + 2 + 11 + 2 + 11 + 1;

// Entries are stored as fixed-size blocks that reach past their own end: the
// output keeps this much room after its last entry.
constexpr size_t kStoreReach = 48;

// Candidates (later quads examined) per block of rows: a block's text stays
// within a few megabytes, so the blocks in flight stay small whatever Q is.
constexpr int64_t kBlockWork = 1 << 16;

// Candidates of a row whose conflicts are decided at a time.
constexpr int32_t kFlagChunk = 2048;

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
// (the prefix and its conflict text, entry_copy bytes, reaching past the entry's
// end) and moves out past it only if its flag is set, so that no branch depends
// on the flags.
template <size_t entry_copy>
inline char* AppendFlaggedEntries(char* out, const char* prefix, size_t prefix_size, const QModel& model,
                                  int32_t first, const uint8_t* flags, int32_t count) {
  char prefix_block[16];
  std::memcpy(prefix_block, prefix, sizeof prefix_block);
  const char* text = ConflictText(model, first);
  const uint8_t* text_size = model.conflict_text_size + first;
  for (int32_t k = 0; k < count; ++k) {
    std::memcpy(out, prefix_block, sizeof prefix_block);
    std::memcpy(out + prefix_size, text, entry_copy);
    out += flags[k] * (prefix_size + text_size[k]);
    text += kConflictTextStride;
  }
  return out;
}

char* AppendFlaggedEntries(char* out, const char* prefix, size_t prefix_size, const QModel& model,
                           int32_t first, const uint8_t* flags, int32_t count) {
  if (model.conflict_text_longest <= 16) {
    return AppendFlaggedEntries<16>(out, prefix, prefix_size, model, first, flags, count);
  }
  return AppendFlaggedEntries<kConflictTextStride>(out, prefix, prefix_size, model, first, flags, count);
}

// Rows 1..quad_count split into blocks of about kBlockWork candidates.
struct BlockPlan {
  std::vector<int32_t> starts;  // first row of each block, then quad_count + 1
  size_t largest_text;          // RowsTextBound of the largest block
};

BlockPlan PlanBlocks(const QModel& model) {
  BlockPlan plan{{}, 0};
  int64_t work = 0;
  for (int32_t l = 1; l <= model.quad_count; ++l) {
    if (work == 0) plan.starts.push_back(l);
    work += LastCouplingRow(MatrixRow(model.quads, l), model.first_row) - l + 1;
    if (work >= kBlockWork) work = 0;
  }
  plan.starts.push_back(model.quad_count + 1);
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
void FormatAndWriteBlocks(const QModel& model, const BlockPlan& plan, OutputFile* file, WriteTurns* turns,
                          char* text) noexcept {
  const int64_t block_count = static_cast<int64_t>(plan.starts.size()) - 1;
  try {
    for (;;) {
      int64_t block;
      {
        std::lock_guard<std::mutex> hold(turns->lock);
        if (turns->failed || turns->next_block >= block_count) return;
        block = turns->next_block++;
      }
      const char* end = FormatQRows(model, plan.starts[block], plan.starts[block + 1] - 1, text);
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
bool WriteRows(const QModel& model, const BlockPlan& plan, OutputFile* file,
               const std::vector<std::unique_ptr<char[]>>& texts, std::vector<std::thread>* threads) {
  WriteTurns turns;
  for (size_t t = 1; t < texts.size(); ++t) {
    try {
      threads->emplace_back(FormatAndWriteBlocks, std::cref(model), std::cref(plan), file, &turns,
                            texts[t].get());
    } catch (...) {
      break;  // out of threads or memory: the ones started, and this one, do all the blocks
    }
  }
  FormatAndWriteBlocks(model, plan, file, &turns, texts[0].get());
  for (std::thread& thread : *threads) thread.join();
  errno = turns.error;
  return !turns.failed;
}

}  // namespace

std::string QFileName(int32_t quad_count, const char* path) {
  return "Q_" + std::to_string(quad_count) + "_" + path;
}

QModel MakeQModel(const char* buffer, int32_t n, IntMatrix quads, int32_t quad_count,
                  int32_t add_quads, int32_t penalty) {
  IntArray first_row = IndexQuadsByPosition(quads, quad_count, n);
  IntArray next = LinkStackedQuads(quads, quad_count, first_row);
  const QuadColumns columns = SplitQuadColumns(quads, quad_count);
  QModel model{buffer, n, quads, quad_count, add_quads, penalty, first_row, next, columns, nullptr, nullptr, 0};
  // Row m's conflict text is the same in every row that conflicts with m.
  const int64_t columns_end = static_cast<int64_t>(quad_count) + 1;
  model.conflict_text = AllocateCharTable(columns_end * static_cast<int64_t>(kConflictTextStride));
  model.conflict_text_size = reinterpret_cast<uint8_t*>(AllocateCharTable(columns_end));
  const EntryTail penalty_tail = MakeTail(penalty);
  for (int32_t m = 1; m <= quad_count; ++m) {
    char* text = model.conflict_text + static_cast<size_t>(m) * kConflictTextStride;
    char* end = AppendBytes(AppendDecimal(text, m), penalty_tail.text, penalty_tail.size);
    model.conflict_text_size[m] = static_cast<uint8_t>(end - text);
    model.conflict_text_longest = std::max(model.conflict_text_longest, static_cast<size_t>(end - text));
  }
  return model;
}

size_t RowsTextBound(const QModel& model, int32_t first, int32_t last) {
  size_t entries = 0;
  for (int32_t l = first; l <= last; ++l) {
    // The diagonal, one entry per later candidate, and the chain bonus.
    entries += static_cast<size_t>(LastCouplingRow(MatrixRow(model.quads, l), model.first_row) - l) + 2;
  }
  return entries * kLongestEntry + kStoreReach;
}

char* FormatQRows(const QModel& model, int32_t first, int32_t last, char* out) {
  const EntryTail link_tail = MakeTail(kStackLinkValue);
  const EntryTail bonus_tail = MakeTail(kChainBonusValue);
  uint8_t flags[kFlagChunk];
  char prefix[16] = {};
  for (int32_t l = first; l <= last; ++l) {
    const int32_t* ql = MatrixRow(model.quads, l);
    const int32_t last_row = LastCouplingRow(ql, model.first_row);
    const size_t prefix_size = static_cast<size_t>(AppendBytes(AppendDecimal(prefix, l), "  ", 2) - prefix);
    out = AppendEntry(out, prefix, prefix_size, l, MakeTail(StackScore(model.buffer, ql)));

    // Only quads whose outer i lies in [L0, L1] can share a position with l, cross
    // it or continue its stack; those are the rows l + 1 .. last_row, taken in
    // chunks of kFlagChunk. The stack link of l and the chain bonus that extends
    // it come just before the link's conflict entry.
    const int32_t link = model.next[l];
    for (int32_t m = l + 1; m <= last_row;) {
      const int32_t chunk_last = static_cast<int32_t>(std::min<int64_t>(last_row, int64_t{m} + kFlagChunk - 1));
      FlagQuadConflicts(ql, model.columns, m, chunk_last, flags);
      int32_t done = 0;
      if (link >= m && link <= chunk_last) {
        done = link - m;
        out = AppendFlaggedEntries(out, prefix, prefix_size, model, m, flags, done);
        const int32_t chain = model.next[link];
        if (model.add_quads != 0 && chain > 0) out = AppendEntry(out, prefix, prefix_size, chain, bonus_tail);
        out = AppendEntry(out, prefix, prefix_size, link, link_tail);
      }
      out = AppendFlaggedEntries(out, prefix, prefix_size, model, m + done, flags + done,
                                 chunk_last - m + 1 - done);
      if (chunk_last == last_row) break;
      m = chunk_last + 1;
    }
  }
  return out;
}

bool WriteQFile(const char* path, const QModel& model, int thread_count, OutputFailure* failure,
                const KeptFile* kept) {
  std::string name;
  try {
    name = QFileName(model.quad_count, path);
  } catch (const std::bad_alloc&) {
    *failure = OutputFailure{OutputFailureKind::kMemory, ENOMEM, nullptr};
    return false;
  }
  return WriteQFileNamed(name, model, thread_count, failure, kept);
}

bool WriteQFileNamed(const std::string& name, const QModel& model, int thread_count, OutputFailure* failure,
                     const KeptFile* kept) {
  OutputFile file;
  *failure = OutputFailure{};
  try {
    // Everything that can run short (the plan, the buffers, the thread list) is
    // had before the file exists.
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
    if (texts.empty()) {
      failure->kind = OutputFailureKind::kMemory;
      failure->error = ENOMEM;
      return false;
    }
    std::vector<std::thread> threads;
    threads.reserve(texts.size());

    if (!StartOutputFile(name, kept, &file, failure)) return false;
    char header[32];
    char* end = AppendBytes(header, "p ", 2);
    end = AppendDecimal(end, model.quad_count);
    end = AppendBytes(end, " 1\n", 3);
    if (WriteOutputBytes(&file, header, static_cast<size_t>(end - header)) &&
        WriteRows(model, plan, &file, texts, &threads) && WriteOutputBytes(&file, "-1", 2) &&
        CommitOutputFile(&file)) {
      return true;
    }
    failure->kind = OutputFailureKind::kWrite;
    failure->error = errno;
  } catch (const std::bad_alloc&) {
    failure->kind = OutputFailureKind::kMemory;
    failure->error = ENOMEM;
  }
  DiscardOutputFile(&file);
  return false;
}
