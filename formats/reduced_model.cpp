#include "formats/reduced_model.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <charconv>
#include <cstring>
#include <sstream>
#include <vector>

#include "core/failure.h"
#include "core/shown_text.h"
#include "core/whole_file.h"
#include "model/row_entries.h"
#include "formats/q_file.h"
#include "formats/text_output.h"

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

namespace {

// The name beside final_name under which its complete file waits for the
// other files of the reduction.
std::string StagedName(const std::string& final_name) {
  return final_name + ".rnaqubo-" + std::to_string(getpid()) + ".staged";
}

// Whether each name is free or a regular file of its own (not a link, a FIFO
// or a device) and has room for its staged name: a staged file can then take
// its place by a rename.
bool CanStage(const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    if (!OutputNameFits(StagedName(name))) return false;
    struct stat status;
    if (lstat(name.c_str(), &status) == 0 ? !S_ISREG(status.st_mode) : errno != ENOENT) return false;
  }
  return true;
}

// The three files written to the names given, each committed when complete.
void WriteReducedFiles(const std::string& map_name, const std::string& qubo_name, const std::string& q_name,
                       const QuadModel& model, const InstanceHeader& header, const std::vector<KeptFile>& inputs,
                       int thread_count) {
  const KeptVariables& kept = *header.reduction;
  TextOutput map_file(map_name, inputs);
  FillMap(&map_file, model, kept);
  map_file.Commit();
  WriteQuboInstance(model, header, qubo_name, true, inputs);
  if (thread_count > 0 && !HasLoneChains(model, kept)) {
    // The sub-model's own Q file is exactly the kept entries: rnaqubo's writer.
    WriteQFileNamed(q_name, MakeKeptModel(model, kept), thread_count);
  } else {
    TextOutput q_file(q_name, inputs);
    FillQFile(&q_file, model, kept);
    q_file.Commit();
  }
}

}  // namespace

void WriteReducedModel(const std::string& prefix, const QuadModel& model, const InstanceHeader& header,
                       const std::vector<KeptFile>& inputs, int thread_count) {
  const std::vector<std::string> names = {prefix + ".map", prefix + ".qubo", prefix + ".q"};
  for (const std::string& name : names) {
    for (const KeptFile& input : inputs) {
      if (input.known && OutputWouldReplace(name, input)) {
        throw OutputFileFailure(OutputStage::kOpen, EEXIST, kInputOverwriteReason, name);
      }
    }
  }
  if (!CanStage(names)) {
    // A link or a special file among the names: each file goes to its name in turn.
    WriteReducedFiles(names[0], names[1], names[2], model, header, inputs, thread_count);
    return;
  }
  // Each file is written complete under a staged name; only when all three are
  // do they take their names, so that a failure leaves the earlier files of the
  // prefix as they were, never a mixture of two runs.
  std::vector<std::string> staged;
  for (const std::string& name : names) staged.push_back(StagedName(name));
  const auto remove_staged = [&] {
    for (const std::string& name : staged) unlink(name.c_str());
  };
  try {
    WriteReducedFiles(staged[0], staged[1], staged[2], model, header, inputs, thread_count);
  } catch (const OutputFileFailure& failure) {
    remove_staged();
    if (failure.stage() == OutputStage::kMemory) throw;
    for (size_t k = 0; k < names.size(); ++k) {
      if (failure.path() == staged[k]) {
        throw OutputFileFailure(failure.stage(), failure.error_number(), failure.reason(), names[k]);
      }
    }
    throw;
  } catch (...) {
    remove_staged();
    throw;
  }
  for (size_t k = 0; k < names.size(); ++k) {
    if (rename(staged[k].c_str(), names[k].c_str()) != 0) {
      const int error = errno;
      remove_staged();
      throw OutputFileFailure(OutputStage::kWrite, error, nullptr, names[k]);
    }
  }
}

void WriteReducedQFile(const std::string& name, const QuadModel& model, const KeptVariables& kept,
                       const std::vector<KeptFile>& inputs) {
  TextOutput file(name, inputs);
  FillQFile(&file, model, kept);
  file.Commit();
}

std::vector<int32_t> ReadReducedMap(const std::string& path, const QuadModel& model) {
  std::string text;
  if (!ReadWholeFile(path.c_str(), &text)) {
    const int error = errno;
    throw Failure(FailureKind::kFile, ShowText(path) + ": cannot read: " + std::strerror(error), path, error);
  }
  std::vector<int32_t> original{0};
  std::istringstream lines(text);
  std::string line;
  int64_t number = 0;
  const auto fail = [&](const std::string& reason) {
    throw Failure(FailureKind::kData, ShowText(path) + ": line " + std::to_string(number) + ": " + reason);
  };
  while (std::getline(lines, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (number == 1) {
      if (line + "\n" != "variable\toriginal\ti\tj\n") fail("not a reduced model's map: expected the header \"variable\toriginal\ti\tj\"");
      continue;
    }
    if (line.empty()) continue;
    std::istringstream fields(line);
    int64_t k = 0, v = 0, i = 0, j = 0;
    std::string extra;
    if (!(fields >> k >> v >> i >> j) || (fields >> extra)) fail("expected four numbers: variable, original, i, j");
    if (k != static_cast<int64_t>(original.size())) fail("variable " + std::to_string(k) + " out of order, expected " + std::to_string(original.size()));
    if (v < 1 || v > model.quad_count) fail("original variable " + std::to_string(v) + " is not in the model (1 to " + std::to_string(model.quad_count) + ")");
    if (v <= original.back()) fail("original variables must ascend");
    const int32_t* quad = MatrixRow(model.quads, v);
    if (quad[0] != i || quad[1] != j) {
      fail("original variable " + std::to_string(v) + " is the quad of pair " + std::to_string(quad[0]) + "-" +
           std::to_string(quad[1]) + ", not " + std::to_string(i) + "-" + std::to_string(j) + ": a map of another model");
    }
    original.push_back(static_cast<int32_t>(v));
  }
  if (number == 0) fail("empty file: not a reduced model's map");
  return original;
}
