#include "output/q_file.h"

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "driver/run_end.h"
#include "model/quad_couplings.h"
#include "model/stack_score.h"
#include "output/output_file.h"

namespace {

// Longest entry line: three 11-character numbers, two gaps of two and a line end.
constexpr size_t kLongestEntry = 11 + 2 + 11 + 2 + 11 + 1;

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

// Splits rows 1..quad_count into blocks of about kBlockWork candidates; returns the
// first row of each block, followed by quad_count + 1.
std::vector<int32_t> PlanBlocks(const QModel& model) {
  std::vector<int32_t> starts;
  int64_t work = 0;
  for (int32_t l = 1; l <= model.quad_count; ++l) {
    if (work == 0) starts.push_back(l);
    work += LastCouplingRow(MatrixRow(model.quads, l), model.first_row) - l + 1;
    if (work >= kBlockWork) work = 0;
  }
  starts.push_back(model.quad_count + 1);
  return starts;
}

// Blocks formatted by worker threads and handed to the writing thread in order.
// Slot k % slots holds block k; a worker starts block k only once block k - slots
// has been written, so at most `slots` blocks are in memory.
struct BlockPipeline {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<std::vector<char>> text;  // per slot
  std::vector<size_t> used;             // per slot: bytes of text
  std::vector<int64_t> ready;           // per slot: block held, -1 for none
  int64_t next_block = 0;               // next block a worker takes
  int64_t written = 0;                  // blocks written so far
  bool stop = false;                    // the writer failed: workers give up
};

void FormatBlocks(const QModel& model, const std::vector<int32_t>& starts, BlockPipeline* pipe) {
  const int64_t block_count = static_cast<int64_t>(starts.size()) - 1;
  const int64_t slots = static_cast<int64_t>(pipe->text.size());
  for (;;) {
    int64_t block;
    {
      std::unique_lock<std::mutex> hold(pipe->lock);
      block = pipe->next_block++;
      if (block >= block_count) return;
      pipe->changed.wait(hold, [&] { return pipe->stop || pipe->written > block - slots; });
      if (pipe->stop) return;
    }
    const int64_t slot = block % slots;
    const int32_t first = starts[block];
    const int32_t last = starts[block + 1] - 1;
    std::vector<char>& text = pipe->text[slot];
    const size_t bound = RowsTextBound(model, first, last);
    if (text.size() < bound) text.resize(bound);
    const size_t used = static_cast<size_t>(FormatQRows(model, first, last, text.data()) - text.data());
    {
      std::lock_guard<std::mutex> hold(pipe->lock);
      pipe->used[slot] = used;
      pipe->ready[slot] = block;
    }
    pipe->changed.notify_all();
  }
}

void WriteOrFail(OutputFile* file, const char* data, size_t size) {
  if (!WriteOutputBytes(file, data, size)) FailOutputFile(file);
}

// Formats and writes the rows on this thread alone.
void WriteRowsSerially(const QModel& model, const std::vector<int32_t>& starts, OutputFile* file) {
  std::vector<char> text;
  for (size_t b = 0; b + 1 < starts.size(); ++b) {
    const int32_t first = starts[b];
    const int32_t last = starts[b + 1] - 1;
    const size_t bound = RowsTextBound(model, first, last);
    if (text.size() < bound) text.resize(bound);
    const char* end = FormatQRows(model, first, last, text.data());
    WriteOrFail(file, text.data(), static_cast<size_t>(end - text.data()));
  }
}

// Formats the rows on worker threads while this thread writes the blocks in order.
void WriteRowsInParallel(const QModel& model, const std::vector<int32_t>& starts,
                         OutputFile* file, int worker_count) {
  BlockPipeline pipe;
  const size_t slots = static_cast<size_t>(worker_count) * 2;
  pipe.text.resize(slots);
  pipe.used.assign(slots, 0);
  pipe.ready.assign(slots, -1);
  std::vector<std::thread> workers;
  for (int w = 0; w < worker_count; ++w) {
    workers.emplace_back(FormatBlocks, std::cref(model), std::cref(starts), &pipe);
  }
  const int64_t block_count = static_cast<int64_t>(starts.size()) - 1;
  bool failed = false;
  for (int64_t block = 0; block < block_count && !failed; ++block) {
    const size_t slot = static_cast<size_t>(block) % slots;
    size_t used;
    {
      std::unique_lock<std::mutex> hold(pipe.lock);
      pipe.changed.wait(hold, [&] { return pipe.ready[slot] == block; });
      used = pipe.used[slot];
    }
    // The slot is not reused until `written` passes this block.
    failed = !WriteOutputBytes(file, pipe.text[slot].data(), used);
    {
      std::lock_guard<std::mutex> hold(pipe.lock);
      pipe.written = block + 1;
      pipe.stop = failed;
    }
    pipe.changed.notify_all();
  }
  for (std::thread& worker : workers) worker.join();
  if (failed) FailOutputFile(file);
}

}  // namespace

std::string QFileName(int32_t quad_count, const char* path) {
  return "Q_" + std::to_string(quad_count) + "_" + path;
}

QModel MakeQModel(const char* buffer, int32_t n, IntMatrix quads, int32_t quad_count,
                  int32_t add_quads, int32_t penalty) {
  IntArray first_row = IndexQuadsByPosition(quads, quad_count, n);
  IntArray next = LinkStackedQuads(quads, quad_count, first_row);
  return QModel{buffer, n, quads, quad_count, add_quads, penalty, first_row, next};
}

size_t RowsTextBound(const QModel& model, int32_t first, int32_t last) {
  size_t entries = 0;
  for (int32_t l = first; l <= last; ++l) {
    // The diagonal, one entry per later candidate, and the chain bonus.
    entries += static_cast<size_t>(LastCouplingRow(MatrixRow(model.quads, l), model.first_row) - l) + 2;
  }
  return entries * kLongestEntry + sizeof(EntryTail::text);
}

char* FormatQRows(const QModel& model, int32_t first, int32_t last, char* out) {
  const EntryTail penalty_tail = MakeTail(model.penalty);
  const EntryTail link_tail = MakeTail(kStackLinkValue);
  const EntryTail bonus_tail = MakeTail(kChainBonusValue);
  char prefix[16];
  for (int32_t l = first; l <= last; ++l) {
    const int32_t* ql = MatrixRow(model.quads, l);
    char* prefix_end = AppendDecimal(prefix, l);
    prefix_end = AppendBytes(prefix_end, "  ", 2);
    const size_t prefix_size = static_cast<size_t>(prefix_end - prefix);

    out = AppendEntry(out, prefix, prefix_size, l, MakeTail(StackScore(model.buffer, ql)));
    // Only quads whose outer i lies in [L0, L1] can share a position with l, cross
    // it or continue its stack; those are the rows up to LastCouplingRow.
    const int32_t link = model.next[l];
    const int32_t last_row = LastCouplingRow(ql, model.first_row);
    for (int32_t m = l + 1; m <= last_row; ++m) {
      const int32_t* qm = MatrixRow(model.quads, m);
      if (m == link) {
        const int32_t chain = model.next[m];
        if (model.add_quads != 0 && chain > 0) {
          out = AppendEntry(out, prefix, prefix_size, chain, bonus_tail);
        }
        out = AppendEntry(out, prefix, prefix_size, m, link_tail);
      }
      if (QuadsConflict(ql, qm)) out = AppendEntry(out, prefix, prefix_size, m, penalty_tail);
    }
  }
  return out;
}

void WriteQFile(const char* path, const QModel& model, int thread_count) {
  OutputFile file;
  if (!OpenOutputFile(QFileName(model.quad_count, path), &file)) {
    EndRun("Could not write to file!\n", kStatusIoError);
  }
  char header[32];
  char* end = AppendBytes(header, "p ", 2);
  end = AppendDecimal(end, model.quad_count);
  end = AppendBytes(end, " 1\n", 3);
  WriteOrFail(&file, header, static_cast<size_t>(end - header));

  const std::vector<int32_t> starts = PlanBlocks(model);
  const int64_t block_count = static_cast<int64_t>(starts.size()) - 1;
  if (thread_count <= 1 || block_count <= 1) {
    WriteRowsSerially(model, starts, &file);
  } else {
    WriteRowsInParallel(model, starts, &file, thread_count);
  }
  WriteOrFail(&file, "-1", 2);
  if (!CommitOutputFile(&file)) EndRun("Could not write to file!\n", kStatusIoError);
}
