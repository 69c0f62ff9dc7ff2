#include "output/reduced_model.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <vector>

#include "model/row_entries.h"
#include "output/q_file.h"
#include "output/text_output.h"

namespace {

// Writes the kept entries as Q file lines, "l  m  value".
struct QLines {
  TextOutput* file;
  void Entry(int32_t row, int32_t column, int32_t value) { file->AddLine({row, column, value}, "  ", 2); }
};

// Counts the kept couplings (entries off the diagonal).
struct CouplingCount {
  int64_t count = 0;
  void Entry(int32_t row, int32_t column, int32_t) { count += row != column; }
};

void FillQFile(TextOutput* q_file, const QuadModel& model, const KeptVariables& kept) {
  const int32_t size = static_cast<int32_t>(kept.original.size()) - 1;
  q_file->Add("p ");
  q_file->AddLine({size, 1}, " ", 1);
  QLines lines{q_file};
  for (int32_t k = 1; k <= size; ++k) WalkKeptRowEntries(model, kept, k, lines);
  q_file->Add("-1", 2);
}

// Bytes of one column's conflict text in the .qubo: "<column - 1> <-penalty>\n".
constexpr size_t kQuboStride = 32;

// The couplings of one kept row as .qubo lines sorted by column: the chain
// bonus, which the walk gives before the link's column, waits for its place.
struct QuboRow {
  const KeptVariables& kept;
  const std::vector<char>& conflict_text;  // kQuboStride bytes per new column, its size in the last byte
  TextOutput* file;
  char prefix[16] = {};
  size_t prefix_size = 0;
  int32_t pending_bonus = 0;  // the bonus's original column, 0 when none waits

  void Start(int32_t row) {
    prefix_size = static_cast<size_t>(std::to_chars(prefix, prefix + 12, row - 1).ptr - prefix);
    prefix[prefix_size++] = ' ';
    pending_bonus = 0;
  }
  void Line(int32_t column, int64_t value) {
    char* const start = file->Reserve(48);
    char* at = AppendBytes(start, prefix, prefix_size);
    at = std::to_chars(at, at + 12, column - 1).ptr;
    *at++ = ' ';
    at = std::to_chars(at, at + 20, value).ptr;
    *at++ = '\n';
    file->Advance(at);
  }
  void FlushBonusBefore(int32_t original_column) {
    if (pending_bonus != 0 && pending_bonus <= original_column) {
      Line(kept.renumbered[pending_bonus], -int64_t{kChainBonusValue});
      pending_bonus = 0;
    }
  }
  void Diagonal(int32_t) {}
  // Columns first..first + count - 1, none of them the waiting bonus's: every
  // column's line is stored and kept only when flagged and kept, so that no
  // branch depends on the flags.
  void Run(int32_t first, const uint8_t* flags, int32_t count) {
    if (count <= 0) return;
    const int32_t* renumbered = kept.renumbered.data() + first;
    char* at = file->Reserve(static_cast<size_t>(count) * (prefix_size + kQuboStride) + 64);
    char line_prefix[16];
    std::memcpy(line_prefix, prefix, sizeof line_prefix);
    for (int32_t c = 0; c < count; ++c) {
      const char* text = conflict_text.data() + static_cast<size_t>(renumbered[c]) * kQuboStride;
      std::memcpy(at, line_prefix, sizeof line_prefix);
      std::memcpy(at + prefix_size, text, kQuboStride - 1);
      const size_t keep = static_cast<size_t>(flags[c] != 0 && renumbered[c] != 0);
      at += keep * (prefix_size + static_cast<unsigned char>(text[kQuboStride - 1]));
    }
    file->Advance(at);
  }
  void Conflicts(int32_t first, const uint8_t* flags, int32_t count) {
    if (pending_bonus >= first && pending_bonus < first + count) {
      // The bonus's column is never a conflict: its line goes in its place.
      const int32_t split = pending_bonus - first;
      Run(first, flags, split);
      FlushBonusBefore(INT32_MAX);
      Run(first + split + 1, flags + split + 1, count - split - 1);
      return;
    }
    Run(first, flags, count);
  }
  void Bonus(int32_t column) {
    if (kept.renumbered[column] != 0) pending_bonus = column;
  }
  void Link(int32_t column) {
    if (kept.renumbered[column] != 0) Line(kept.renumbered[column], -int64_t{kStackLinkValue});
  }
  // A bonus beyond the row's last candidate column cannot be: flushed anyway.
  void Finish() { FlushBonusBefore(INT32_MAX); }
};

void FillQubo(TextOutput* qubo_file, const QuadModel& model, const KeptVariables& kept) {
  const int32_t size = static_cast<int32_t>(kept.original.size()) - 1;
  CouplingCount couplings;
  for (int32_t k = 1; k <= size; ++k) WalkKeptRowEntries(model, kept, k, couplings);
  qubo_file->Add("p qubo 0 ");
  qubo_file->AddLine({size, size, couplings.count}, " ", 1);
  for (int32_t k = 1; k <= size; ++k) {
    qubo_file->AddLine({k - 1, k - 1, -int64_t{model.score[kept.original[k]]}}, " ", 1);
  }
  std::vector<char> conflict_text(kQuboStride * (static_cast<size_t>(size) + 1));
  for (int32_t k = 1; k <= size; ++k) {
    char* text = conflict_text.data() + static_cast<size_t>(k) * kQuboStride;
    char* at = std::to_chars(text, text + 12, k - 1).ptr;
    *at++ = ' ';
    at = std::to_chars(at, at + 12, -int64_t{model.penalty}).ptr;
    *at++ = '\n';
    text[kQuboStride - 1] = static_cast<char>(at - text);
  }
  QuboRow row{kept, conflict_text, qubo_file};
  uint8_t flags[kFlagChunk];
  for (int32_t k = 1; k <= size; ++k) {
    row.Start(k);
    WalkRowEntries(model, kept.original[k], flags, row);
    row.Finish();
  }
}

void FillMap(TextOutput* map_file, const QuadModel& model, const KeptVariables& kept) {
  map_file->Add(kReducedMapHeader);
  for (size_t k = 1; k < kept.original.size(); ++k) {
    const int32_t* quad = MatrixRow(model.quads, kept.original[k]);
    map_file->AddLine({static_cast<int64_t>(k), kept.original[k], quad[0], quad[1]}, "\t", 1);
  }
}

// Whether a kept quad's chain partner is kept while the quad between them is
// not: that bonus entry has no stack link beside it in the sub-model.
bool HasLoneChains(const QuadModel& model, const KeptVariables& kept) {
  for (size_t k = 1; k < kept.original.size(); ++k) {
    const int32_t l = kept.original[k];
    if (model.chain[l] > 0 && kept.renumbered[model.chain[l]] != 0 && kept.renumbered[model.next[l]] == 0) return true;
  }
  return false;
}

// The model over the kept quads, its tables made as index arrays.
QuadModel MakeKeptModel(const QuadModel& model, const KeptVariables& kept) {
  const int32_t size = static_cast<int32_t>(kept.original.size()) - 1;
  IntMatrix quads = AllocateIntMatrix(size, model.quads.cols);
  for (int32_t k = 1; k <= size; ++k) {
    std::memcpy(MatrixRow(quads, k), MatrixRow(model.quads, kept.original[k]),
                sizeof(int32_t) * (static_cast<size_t>(model.quads.cols) + 1));
  }
  return MakeQuadModel(model.buffer, model.n, quads, size, model.add_quads, model.penalty);
}

}  // namespace

void WriteReducedModel(const std::string& prefix, const QuadModel& model, const KeptVariables& kept,
                       const std::vector<KeptFile>& inputs, int thread_count) {
  const std::string q_name = prefix + ".q";
  for (const KeptFile& input : inputs) {
    if (input.known && OutputWouldReplace(q_name, input)) {
      throw OutputFileFailure(OutputStage::kOpen, EEXIST, kInputOverwriteReason, q_name);
    }
  }
  TextOutput qubo_file(prefix + ".qubo", inputs);
  TextOutput map_file(prefix + ".map", inputs);
  FillQubo(&qubo_file, model, kept);
  FillMap(&map_file, model, kept);
  if (thread_count > 0 && !HasLoneChains(model, kept)) {
    // The sub-model's own Q file is exactly the kept entries: rnaqubo's writer.
    WriteQFileNamed(q_name, MakeKeptModel(model, kept), thread_count);
  } else {
    TextOutput q_file(q_name, inputs);
    FillQFile(&q_file, model, kept);
    q_file.Commit();
  }
  qubo_file.Commit();
  map_file.Commit();
}

void WriteReducedQFile(const std::string& name, const QuadModel& model, const KeptVariables& kept) {
  TextOutput file(name, {});
  FillQFile(&file, model, kept);
  file.Commit();
}

void WriteReducedQubo(const std::string& name, const QuadModel& model, const KeptVariables& kept) {
  TextOutput file(name, {});
  FillQubo(&file, model, kept);
  file.Commit();
}
