#include "output/reduced_model.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <new>
#include <tuple>
#include <vector>

namespace {

// One file of the three while it is written: its text is gathered in blocks
// and written as they fill; removed unless committed.
class ReducedFile {
 public:
  ReducedFile(const std::string& name, const std::vector<KeptFile>& inputs) : name_(name) {
    for (const KeptFile& input : inputs) {
      if (input.known && OutputWouldReplace(name, input)) {
        throw OutputFileFailure(OutputStage::kOpen, EEXIST, kInputOverwriteReason, name);
      }
    }
    StartOutputFile(name, nullptr, &file_);
    text_.reserve(kBlock + 64);
  }
  ReducedFile(const ReducedFile&) = delete;
  ReducedFile& operator=(const ReducedFile&) = delete;
  ~ReducedFile() { DiscardOutputFile(&file_); }

  void Add(const char* text, size_t size) {
    text_.append(text, size);
    if (text_.size() >= kBlock) Flush();
  }
  void Add(const std::string& text) { Add(text.data(), text.size()); }
  // Appends the numbers with separator between them and a line end.
  void AddLine(std::initializer_list<int64_t> numbers, const char* separator, size_t separator_size) {
    char line[96];
    char* out = line;
    bool first = true;
    for (int64_t number : numbers) {
      if (!first) out = AppendBytes(out, separator, separator_size);
      first = false;
      out = std::to_chars(out, line + sizeof line, number).ptr;
    }
    *out++ = '\n';
    Add(line, static_cast<size_t>(out - line));
  }
  void Flush() {
    if (!text_.empty() && !WriteOutputBytes(&file_, text_.data(), text_.size())) Fail();
    text_.clear();
  }
  void Commit() {
    Flush();
    if (!CommitOutputFile(&file_)) Fail();
  }

 private:
  static constexpr size_t kBlock = 1 << 20;
  [[noreturn]] void Fail() {
    const int error = errno != 0 ? errno : EIO;
    DiscardOutputFile(&file_);
    throw OutputFileFailure(OutputStage::kWrite, error, nullptr, name_);
  }
  std::string name_;
  OutputFile file_;
  std::string text_;
};

// The kept entries, gathered.
struct EntryList {
  std::vector<std::tuple<int32_t, int32_t, int32_t>> entries;
  void Entry(int32_t row, int32_t column, int32_t value) { entries.emplace_back(row, column, value); }
};

// Writes the entries as Q file lines, row by row.
struct QLines {
  ReducedFile* file;
  int64_t count = 0;
  void Entry(int32_t row, int32_t column, int32_t value) {
    file->AddLine({row, column, value}, "  ", 2);
    ++count;
  }
};

}  // namespace

void WriteReducedModel(const std::string& prefix, const QuadModel& model, const KeptVariables& kept,
                       const std::vector<KeptFile>& inputs) {
  const int32_t size = static_cast<int32_t>(kept.original.size()) - 1;
  ReducedFile q_file(prefix + ".q", inputs);
  ReducedFile qubo_file(prefix + ".qubo", inputs);
  ReducedFile map_file(prefix + ".map", inputs);

  q_file.Add("p ");
  q_file.AddLine({size, 1}, " ", 1);
  QLines lines{&q_file};
  EntryList couplings;
  for (int32_t k = 1; k <= size; ++k) {
    WalkKeptRowEntries(model, kept, k, lines);
    const size_t before = couplings.entries.size();
    WalkKeptRowEntries(model, kept, k, couplings);
    // The .qubo lists the diagonal apart and each row's couplings by column.
    couplings.entries.erase(couplings.entries.begin() + static_cast<std::ptrdiff_t>(before));
    std::sort(couplings.entries.begin() + static_cast<std::ptrdiff_t>(before), couplings.entries.end());
  }
  q_file.Add("-1", 2);

  qubo_file.Add("p qubo 0 ");
  qubo_file.AddLine({size, size, static_cast<int64_t>(couplings.entries.size())}, " ", 1);
  for (int32_t k = 1; k <= size; ++k) qubo_file.AddLine({k - 1, k - 1, -int64_t{model.score[kept.original[k]]}}, " ", 1);
  for (const auto& [row, column, value] : couplings.entries) qubo_file.AddLine({row - 1, column - 1, -int64_t{value}}, " ", 1);

  map_file.Add(kReducedMapHeader);
  for (int32_t k = 1; k <= size; ++k) {
    const int32_t* quad = MatrixRow(model.quads, kept.original[k]);
    map_file.AddLine({k, kept.original[k], quad[0], quad[1]}, "\t", 1);
  }
  q_file.Commit();
  qubo_file.Commit();
  map_file.Commit();
}
