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

void FillQFile(TextOutput* q_file, const QuadModel& model, const KeptVariables& kept) {
  const int32_t size = static_cast<int32_t>(kept.original.size()) - 1;
  q_file->Add("p ");
  q_file->AddLine({size, 1}, " ", 1);
  QLines lines{q_file};
  for (int32_t k = 1; k <= size; ++k) WalkKeptRowEntries(model, kept, k, lines);
  q_file->Add("-1", 2);
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

void WriteReducedModel(const std::string& prefix, const QuadModel& model, const InstanceHeader& header,
                       const std::vector<KeptFile>& inputs, int thread_count) {
  const KeptVariables& kept = *header.reduction;
  const std::string q_name = prefix + ".q";
  for (const KeptFile& input : inputs) {
    if (input.known && OutputWouldReplace(q_name, input)) {
      throw OutputFileFailure(OutputStage::kOpen, EEXIST, kInputOverwriteReason, q_name);
    }
  }
  TextOutput map_file(prefix + ".map", inputs);
  FillMap(&map_file, model, kept);
  if (thread_count > 0 && !HasLoneChains(model, kept)) {
    // The sub-model's own Q file is exactly the kept entries: rnaqubo's writer.
    WriteQFileNamed(q_name, MakeKeptModel(model, kept), thread_count);
  } else {
    TextOutput q_file(q_name, inputs);
    FillQFile(&q_file, model, kept);
    q_file.Commit();
  }
  WriteQuboInstance(model, header, prefix + ".qubo", true, inputs);
  map_file.Commit();
}

void WriteReducedQFile(const std::string& name, const QuadModel& model, const KeptVariables& kept) {
  TextOutput file(name, {});
  FillQFile(&file, model, kept);
  file.Commit();
}
