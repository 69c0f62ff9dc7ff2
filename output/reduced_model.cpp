#include "output/reduced_model.h"

#include <algorithm>
#include <tuple>
#include <vector>

#include "output/text_output.h"

namespace {

// The kept entries, gathered.
struct EntryList {
  std::vector<std::tuple<int32_t, int32_t, int32_t>> entries;
  void Entry(int32_t row, int32_t column, int32_t value) { entries.emplace_back(row, column, value); }
};

// Writes the entries as Q file lines, row by row.
struct QLines {
  TextOutput* file;
  int64_t count = 0;
  void Entry(int32_t row, int32_t column, int32_t value) {
    file->AddLine({row, column, value}, "  ", 2);
    ++count;
  }
};

}  // namespace

namespace {

void FillQFile(TextOutput* q_file, const QuadModel& model, const KeptVariables& kept) {
  const int32_t size = static_cast<int32_t>(kept.original.size()) - 1;
  q_file->Add("p ");
  q_file->AddLine({size, 1}, " ", 1);
  QLines lines{q_file};
  for (int32_t k = 1; k <= size; ++k) WalkKeptRowEntries(model, kept, k, lines);
  q_file->Add("-1", 2);
}

void FillQubo(TextOutput* qubo_file, const QuadModel& model, const KeptVariables& kept) {
  const int32_t size = static_cast<int32_t>(kept.original.size()) - 1;
  EntryList couplings;
  for (int32_t k = 1; k <= size; ++k) {
    const size_t before = couplings.entries.size();
    WalkKeptRowEntries(model, kept, k, couplings);
    // The .qubo lists the diagonal apart and each row's couplings by column.
    couplings.entries.erase(couplings.entries.begin() + static_cast<std::ptrdiff_t>(before));
    std::sort(couplings.entries.begin() + static_cast<std::ptrdiff_t>(before), couplings.entries.end());
  }
  qubo_file->Add("p qubo 0 ");
  qubo_file->AddLine({size, size, static_cast<int64_t>(couplings.entries.size())}, " ", 1);
  for (int32_t k = 1; k <= size; ++k) {
    qubo_file->AddLine({k - 1, k - 1, -int64_t{model.score[kept.original[k]]}}, " ", 1);
  }
  for (const auto& [row, column, value] : couplings.entries) {
    qubo_file->AddLine({row - 1, column - 1, -int64_t{value}}, " ", 1);
  }
}

void FillMap(TextOutput* map_file, const QuadModel& model, const KeptVariables& kept) {
  map_file->Add(kReducedMapHeader);
  for (size_t k = 1; k < kept.original.size(); ++k) {
    const int32_t* quad = MatrixRow(model.quads, kept.original[k]);
    map_file->AddLine({static_cast<int64_t>(k), kept.original[k], quad[0], quad[1]}, "\t", 1);
  }
}

}  // namespace

void WriteReducedModel(const std::string& prefix, const QuadModel& model, const KeptVariables& kept,
                       const std::vector<KeptFile>& inputs) {
  TextOutput q_file(prefix + ".q", inputs);
  TextOutput qubo_file(prefix + ".qubo", inputs);
  TextOutput map_file(prefix + ".map", inputs);
  FillQFile(&q_file, model, kept);
  FillQubo(&qubo_file, model, kept);
  FillMap(&map_file, model, kept);
  q_file.Commit();
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
