#include "formats/reduced_model.h"

#include <dirent.h>
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
#include "formats/target_lock.h"
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

namespace {

constexpr char kJournalFirstLine[] = "rnaqubo-fold reduction journal 1";

// The directory part of path with its slash ("" for a bare name), and the rest.
std::pair<std::string, std::string> SplitPath(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {"", path};
  return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

// Whether name is "<base><suffix>.rnaqubo-<digits>.staged" for one of the
// reduction's suffixes.
bool IsStagedName(const std::string& name, const std::string& base) {
  for (const char* suffix : {".map", ".qubo", ".q"}) {
    const std::string head = base + suffix + ".rnaqubo-";
    const std::string tail = ".staged";
    if (name.size() <= head.size() + tail.size() || name.compare(0, head.size(), head) != 0 ||
        name.compare(name.size() - tail.size(), tail.size(), tail) != 0) {
      continue;
    }
    const std::string digits = name.substr(head.size(), name.size() - head.size() - tail.size());
    if (digits.find_first_not_of("0123456789") == std::string::npos) return true;
  }
  return false;
}

// Finishes what a run killed in its commit left at prefix (the journal lists
// the staged files that were complete and the names they take: those not yet
// moved are moved now), then removes every staged file of prefix that an
// earlier run left. Runs under the prefix's lock, so none of them is live.
void RecoverReducedModel(const std::string& prefix, const std::string& journal_name) {
  const auto [directory, base] = SplitPath(prefix);
  std::string text;
  if (ReadWholeFile(journal_name.c_str(), &text)) {
    std::istringstream lines(text);
    std::string line;
    std::vector<std::pair<std::string, std::string>> moves;
    bool valid = std::getline(lines, line) && line == kJournalFirstLine;
    while (valid && std::getline(lines, line)) {
      const size_t tab = line.find('\t');
      const std::string staged = line.substr(0, tab), final_name = tab == std::string::npos ? "" : line.substr(tab + 1);
      valid = tab != std::string::npos && IsStagedName(staged, base) && final_name.rfind(base + ".", 0) == 0 &&
              final_name.find('/') == std::string::npos;
      moves.emplace_back(staged, final_name);
    }
    if (!valid) {
      throw OutputFileFailure(OutputStage::kOpen, EINVAL, "not the journal of a reduction: remove it by hand",
                              journal_name);
    }
    for (const auto& [staged, final_name] : moves) {
      struct stat info;
      if (lstat((directory + staged).c_str(), &info) != 0) continue;
      if (rename((directory + staged).c_str(), (directory + final_name).c_str()) != 0) {
        throw OutputFileFailure(OutputStage::kWrite, errno, nullptr, directory + final_name);
      }
    }
    if (unlink(journal_name.c_str()) != 0) throw OutputFileFailure(OutputStage::kWrite, errno, nullptr, journal_name);
  } else if (errno != ENOENT) {
    throw OutputFileFailure(OutputStage::kOpen, errno, nullptr, journal_name);
  }
  if (DIR* listing = opendir(directory.empty() ? "." : directory.c_str())) {
    std::vector<std::string> left;
    while (const dirent* entry = readdir(listing)) {
      if (IsStagedName(entry->d_name, base)) left.push_back(directory + entry->d_name);
    }
    closedir(listing);
    for (const std::string& name : left) unlink(name.c_str());
  }
}

// Empties the signal clean-up slots 1 to 3 (the staged files) on every way out.
struct StagedCleanup {
  ~StagedCleanup() {
    for (int slot = 1; slot <= 3; ++slot) SetSignalCleanup(slot, nullptr);
  }
};

// The prefix's lock, its file removed by a terminating signal too.
struct PrefixLock {
  TargetLock lock;
  ~PrefixLock() { SetSignalCleanup(0, nullptr); }
};

}  // namespace

void WriteReducedModel(const std::string& prefix, const QuadModel& model, const InstanceHeader& header,
                       const std::vector<KeptFile>& inputs, int thread_count) {
  CheckNegatedPenalty(model.penalty);  // the .qubo is negated
  const std::vector<std::string> names = {prefix + ".map", prefix + ".qubo", prefix + ".q"};
  // Held from the first check to the end of the commit: a second run writing
  // the prefix is refused, never interleaved with this one. A lock file that
  // cannot be made (a missing or read-only directory) leaves the files' own
  // writes to report what is wrong.
  PrefixLock held;
  if (LockPrefix(prefix, &held.lock)) {
    SetSignalCleanup(0, held.lock.lock_file.c_str());
  } else if (errno == EWOULDBLOCK) {
    throw OutputFileFailure(OutputStage::kOpen, EWOULDBLOCK, kTargetBusyReason, prefix);
  }
  for (const std::string& name : names) {
    for (const KeptFile& input : inputs) {
      if (input.known && OutputWouldReplace(name, input)) {
        throw OutputFileFailure(OutputStage::kOpen, EEXIST, kInputOverwriteReason, name);
      }
    }
  }
  const std::string journal_name = prefix + ".rnaqubo-journal";
  if (held.lock.fd >= 0) RecoverReducedModel(prefix, journal_name);
  PassTestStep();
  if (held.lock.fd < 0 || !CanStage(names)) {
    // A link or a special file among the names: each file goes to its name in turn.
    WriteReducedFiles(names[0], names[1], names[2], model, header, inputs, thread_count);
    return;
  }
  // Each file is written complete under a staged name; only when all three are
  // do they take their names, under a journal that the next run finishes if
  // this one is killed in between, so that the prefix never holds a mixture
  // of two runs once a run has looked at it.
  std::vector<std::string> staged;
  for (const std::string& name : names) staged.push_back(StagedName(name));
  const StagedCleanup cleanup;
  for (int k = 0; k < 3; ++k) SetSignalCleanup(k + 1, staged[k].c_str());
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
  PassTestStep();
  const TerminationBlock blocked;
  for (int slot = 1; slot <= 3; ++slot) SetSignalCleanup(slot, nullptr);
  std::string journal = std::string(kJournalFirstLine) + "\n";
  for (size_t k = 0; k < names.size(); ++k) {
    journal += SplitPath(staged[k]).second + "\t" + SplitPath(names[k]).second + "\n";
  }
  try {
    TextOutput journal_file(journal_name, inputs);
    journal_file.Add(journal);
    journal_file.Commit();
  } catch (...) {
    remove_staged();
    throw;
  }
  PassTestStep();
  for (size_t k = 0; k < names.size(); ++k) {
    if (rename(staged[k].c_str(), names[k].c_str()) != 0) {
      // The journal stays: the next run into the prefix finishes the commit.
      throw OutputFileFailure(OutputStage::kWrite, errno, nullptr, names[k]);
    }
    PassTestStep();
  }
  if (unlink(journal_name.c_str()) != 0) throw OutputFileFailure(OutputStage::kWrite, errno, nullptr, journal_name);
  PassTestStep();
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
