#include "sequences/collection_split.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "core/shown_text.h"
#include "output/output_file.h"
#include "sequences/dbn_records.h"
#include "sequences/record_files.h"
#include "sequences/sequence_records.h"

namespace {

void AddCount(int64_t count, const std::string& name, int64_t* total, int64_t* records,
              std::string* only_name) {
  if (count == 0) return;
  *total += count;
  if (++*records == 1) *only_name = name;
}

std::string CountNote(int64_t count, int64_t records, const std::string& only_name,
                      const std::string& what) {
  if (records == 1) return "record " + ShowText(only_name) + ": " + std::to_string(count) + " " + what;
  return std::to_string(count) + " " + what + " in " + std::to_string(records) + " records";
}

// A record read, checked and written to the staging directory.
struct StagedRecord {
  int64_t index;          // 1-based position in the collection
  std::string safe_name;  // its directory and file name stem
  int64_t length;
  bool has_structure;
};

std::string StagedPath(const std::string& staging, int64_t index, const char* suffix) {
  return staging + "/" + std::to_string(index) + suffix;
}

[[noreturn]] void FailFile(const std::string& path, const char* what) {
  const int error = errno;
  throw SequenceFailure(SequenceFailureKind::kUnreadable, ShowText(path) + ": " + what + ": " + std::strerror(error),
                        path, error);
}

[[noreturn]] void FailData(SequenceFailureKind kind, const std::string& message) {
  throw SequenceFailure(kind, message);
}

// Throws failure again with prefix put before its message.
[[noreturn]] void FailWithin(const std::string& prefix, const SequenceFailure& failure) {
  throw SequenceFailure(failure.sequence_kind(), prefix + failure.what(), failure.path(), failure.error_number());
}

// The source of the records: a FASTA/FASTQ stream, or the dot-bracket records.
struct RecordSource {
  RecordStream* stream;                    // nullptr when reading references
  const std::vector<DbnRecord>* references;
  size_t next_reference;
};

bool NextRecord(RecordSource* source, std::string* name, std::string* raw) {
  if (source->stream != nullptr) return ReadRawRecord(source->stream, name, raw);
  if (source->next_reference >= source->references->size()) return false;
  const DbnRecord& reference = (*source->references)[source->next_reference++];
  *name = reference.name;
  *raw = reference.sequence;
  return true;
}

// Reads, checks and stages every record; fills staged and summary.
void StageRecords(const SplitRequest& request, const std::vector<DbnRecord>& references, const std::string& staging,
                  std::vector<StagedRecord>* staged, SplitSummary* summary) {
  const std::string shown_dbn = ShowText(request.dbn_path);
  std::unordered_map<std::string, size_t> reference_of;
  for (size_t k = 0; k < references.size(); ++k) {
    if (!reference_of.emplace(references[k].name, k).second) {
      FailData(SequenceFailureKind::kBadStructure,
               shown_dbn + ": two records are named " + ShowText(references[k].name));
    }
  }
  const bool from_references = request.sequences_path.empty();
  const std::string shown_source = ShowText(from_references ? request.dbn_path : request.sequences_path);
  RecordStreamPointer stream;
  if (!from_references) stream = OpenRecordStream(request.sequences_path.c_str());
  RecordSource source{stream.get(), &references, 0};
  std::unordered_map<std::string, std::pair<int64_t, std::string>> owner_of;  // safe name -> record
  std::vector<bool> reference_used(references.size(), false);
  LetterTotals totals;
  SequenceRecord record;
  std::string raw, structure;
  while (NextRecord(&source, &record.name, &raw)) {
    const int64_t index = static_cast<int64_t>(staged->size()) + 1;
    const std::string safe = SafeRecordName(record.name, index);
    const auto [owner, fresh] = owner_of.emplace(safe, std::make_pair(index, record.name));
    if (!fresh) {
      FailData(SequenceFailureKind::kBadStructure,
               shown_source + ": records " + std::to_string(owner->second.first) + " (" +
                   ShowText(owner->second.second) + ") and " + std::to_string(index) + " (" + ShowText(record.name) +
                   ") would both be written to " + ShowText(request.directory + "/" + safe + "/" + safe + ".txt"));
    }
    if (safe != record.name) {
      summary->notes.push_back("record " + std::to_string(index) + " (" + ShowText(record.name) +
                               ") is written as " + ShowText(safe));
    }
    try {
      NormaliseLetters(raw, request.policy, &record);
    } catch (const SequenceFailure& failure) {
      FailWithin(shown_source + ": ", failure);
    }
    AddLetterCounts(record, &totals);
    const auto found = reference_of.find(record.name);
    const bool has_structure = found != reference_of.end();
    if (has_structure) {
      const DbnRecord& reference = references[found->second];
      reference_used[found->second] = true;
      try {
        structure = AlignStructure(reference.sequence, reference.structure, request.policy, record.name);
        if (!from_references) {
          SequenceRecord reference_letters;
          reference_letters.name = record.name;
          NormaliseLetters(reference.sequence, request.policy, &reference_letters);
          if (reference_letters.letters != record.letters) {
            FailData(SequenceFailureKind::kBadStructure, "record " + ShowText(record.name) +
                                                             ": the sequence differs from the one in " +
                                                             ShowText(request.sequences_path));
          }
        }
      } catch (const SequenceFailure& failure) {
        FailWithin(shown_dbn + ": ", failure);
      }
    }
    staged->push_back(StagedRecord{index, safe, static_cast<int64_t>(record.letters.size()), has_structure});
    WriteFileAtomically(StagedPath(staging, index, ".txt"), FormatInputFile(record.letters));
    if (has_structure) {
      WriteFileAtomically(StagedPath(staging, index, ".dbn"), FormatDbnFile(record.name, record.letters, structure));
    }
  }
  if (staged->empty()) FailData(SequenceFailureKind::kNotSequences, shown_source + ": no record found");
  std::vector<std::string> unused;
  for (size_t k = 0; k < references.size(); ++k) {
    if (!reference_used[k]) unused.push_back(ShowText(references[k].name));
  }
  if (!unused.empty()) {
    std::string list;
    for (size_t k = 0; k < unused.size() && k < 5; ++k) list += (k > 0 ? ", " : "") + unused[k];
    if (unused.size() > 5) list += ", ...";
    summary->notes.push_back(std::to_string(unused.size()) + " reference structure" +
                             (unused.size() == 1 ? " names" : "s name") + " no record of " +
                             ShowText(request.sequences_path) + ": " + list);
  }
  for (std::string& note : LetterNotes(totals)) summary->notes.push_back(std::move(note));
}

// Refuses, before anything is moved into place, a record file or manifest that
// would land on an input file.
void CheckInputsKept(const SplitRequest& request, const std::vector<StagedRecord>& staged) {
  std::vector<KeptFile> kept;
  for (const std::string* input : {&request.sequences_path, &request.dbn_path}) {
    if (input->empty()) continue;
    const KeptFile file = IdentifyKeptFile(input->c_str());
    if (file.known) kept.push_back(file);
  }
  if (kept.empty()) return;
  std::vector<std::string> targets{request.directory + "/manifest.tsv"};
  for (const StagedRecord& record : staged) {
    const std::string stem = request.directory + "/" + record.safe_name + "/" + record.safe_name;
    targets.push_back(stem + ".txt");
    targets.push_back(stem + ".dbn");
  }
  for (const std::string& target : targets) {
    for (const KeptFile& file : kept) {
      if (OutputWouldReplace(target, file)) {
        throw SequenceFailure(SequenceFailureKind::kUnreadable,
                              ShowText(target) + ": cannot write: " + kInputOverwriteReason, target);
      }
    }
  }
}

// What a commit did to one final path, so that it can be undone.
struct CommitStep {
  std::string final_path;  // the file placed or moved away
  std::string backup;      // where its earlier file waits in staging, empty if none
  bool placed;             // a staged file now sits at final_path
};

// Moves the file at final_path, if any, to backup in staging and records the
// step; refuses a directory there (EISDIR).
bool SetAside(const std::string& final_path, const std::string& backup,
              std::vector<CommitStep>* steps) {
  struct stat info;
  if (lstat(final_path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    errno = EISDIR;
    return false;
  }
  if (rename(final_path.c_str(), backup.c_str()) == 0) {
    steps->push_back(CommitStep{final_path, backup, false});
    return true;
  }
  if (errno != ENOENT) return false;
  steps->push_back(CommitStep{final_path, "", false});
  return true;
}

// Undoes steps, latest first: removes the files placed and puts back the earlier
// ones. Returns false if an earlier file could not be put back.
bool UndoCommit(const std::vector<CommitStep>& steps, const std::vector<std::string>& made) {
  bool restored = true;
  for (auto step = steps.rbegin(); step != steps.rend(); ++step) {
    if (step->placed) unlink(step->final_path.c_str());
    if (!step->backup.empty() && rename(step->backup.c_str(), step->final_path.c_str()) != 0) {
      restored = false;
    }
  }
  for (auto directory = made.rbegin(); directory != made.rend(); ++directory) {
    rmdir(directory->c_str());
  }
  return restored;
}

// Moves every staged file to its place and writes the manifest. A failure puts
// back the files of earlier runs and removes those of this one, and is thrown
// again with what became of them; *keep_staging is set when an earlier file could
// not be put back and still waits in staging.
void CommitRecords(const SplitRequest& request, const std::string& staging, const std::vector<StagedRecord>& staged,
                   SplitSummary* summary, bool* keep_staging) {
  std::string manifest = "name\tlength\tpath\n";
  std::vector<CommitStep> steps;
  std::vector<std::string> made;  // record directories this run created
  try {
    for (const StagedRecord& record : staged) {
      const std::string directory = request.directory + "/" + record.safe_name;
      const std::string stem = directory + "/" + record.safe_name;
      struct stat info;
      const bool existed = stat(directory.c_str(), &info) == 0;
      if (!MakeDirectories(directory)) FailFile(directory, "cannot create");
      if (!existed) made.push_back(directory);
      if (!SetAside(stem + ".txt", StagedPath(staging, record.index, ".old.txt"), &steps)) {
        FailFile(stem + ".txt", "cannot replace");
      }
      if (rename(StagedPath(staging, record.index, ".txt").c_str(), (stem + ".txt").c_str()) != 0) {
        FailFile(stem + ".txt", "cannot write");
      }
      steps.back().placed = true;
      // Without a structure, one left by an earlier split would be taken as this
      // record's: it is moved away as well.
      if (!SetAside(stem + ".dbn", StagedPath(staging, record.index, ".old.dbn"), &steps)) {
        FailFile(stem + ".dbn", "cannot replace");
      }
      if (record.has_structure) {
        if (rename(StagedPath(staging, record.index, ".dbn").c_str(), (stem + ".dbn").c_str()) != 0) {
          FailFile(stem + ".dbn", "cannot write");
        }
        steps.back().placed = true;
      }
      manifest += record.safe_name + "\t" + std::to_string(record.length) + "\t" + record.safe_name + "/" +
                  record.safe_name + ".txt\n";
    }
    WriteFileAtomically(request.directory + "/manifest.tsv", manifest);
  } catch (const SequenceFailure& failure) {
    std::string message = failure.what();
    if (!UndoCommit(steps, made)) {
      *keep_staging = true;
      message += "; files of an earlier split could not all be put back: they remain in " + ShowText(staging);
    } else {
      message += "; nothing was changed in " + ShowText(request.directory);
    }
    throw SequenceFailure(failure.sequence_kind(), message, failure.path(), failure.error_number());
  }
  for (const CommitStep& step : steps) {
    if (!step.backup.empty()) unlink(step.backup.c_str());
  }
  for (const StagedRecord& record : staged) summary->structures += record.has_structure ? 1 : 0;
  summary->records = static_cast<int64_t>(staged.size());
}

// Removes a staging directory and whatever it holds, unless told to keep it.
struct StagingGuard {
  std::string path;
  bool keep = false;
  ~StagingGuard() {
    if (path.empty() || keep) return;
    if (DIR* directory = opendir(path.c_str())) {
      while (const dirent* entry = readdir(directory)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") unlink((path + "/" + name).c_str());
      }
      closedir(directory);
    }
    rmdir(path.c_str());
  }
};

// Removes the collection directory on a failure if this run created it (and it
// is empty again).
struct CreatedDirectoryGuard {
  std::string path;
  bool created = false;
  bool done = false;
  ~CreatedDirectoryGuard() {
    if (created && !done) rmdir(path.c_str());
  }
};

}  // namespace

void AddLetterCounts(const SequenceRecord& record, LetterTotals* totals) {
  AddCount(record.thymines_converted, record.name, &totals->thymines, &totals->thymine_records,
           &totals->thymine_name);
  AddCount(record.gaps_removed, record.name, &totals->gaps, &totals->gap_records, &totals->gap_name);
  AddCount(record.ambiguous_dropped, record.name, &totals->dropped, &totals->dropped_records,
           &totals->dropped_name);
}

std::vector<std::string> LetterNotes(const LetterTotals& totals) {
  std::vector<std::string> notes;
  if (totals.thymines > 0) {
    notes.push_back(CountNote(totals.thymines, totals.thymine_records, totals.thymine_name,
                              "T written as U"));
  }
  if (totals.gaps > 0) {
    notes.push_back(CountNote(totals.gaps, totals.gap_records, totals.gap_name,
                              totals.gaps == 1 ? "gap ('-' or '.') removed" : "gaps ('-' or '.') removed"));
  }
  if (totals.dropped > 0) {
    notes.push_back(CountNote(totals.dropped, totals.dropped_records, totals.dropped_name,
                              std::string(totals.dropped == 1 ? "ambiguous letter" : "ambiguous letters") +
                                  " dropped, so later positions shift"));
  }
  return notes;
}

SplitSummary SplitCollection(const SplitRequest& request) {
  std::vector<DbnRecord> references;
  if (!request.dbn_path.empty()) references = ReadDbnRecords(request.dbn_path.c_str());
  struct stat info;
  CreatedDirectoryGuard collection{request.directory, stat(request.directory.c_str(), &info) != 0};
  if (!MakeDirectories(request.directory)) FailFile(request.directory, "cannot create");
  // A name of its own per run, so that one left by a killed run blocks nothing.
  std::string pattern = request.directory + "/.rnaqubo-seq-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) FailFile(pattern, "cannot create");
  StagingGuard staging{pattern};
  std::vector<StagedRecord> staged;
  SplitSummary summary;
  StageRecords(request, references, staging.path, &staged, &summary);
  CheckInputsKept(request, staged);
  CommitRecords(request, staging.path, staged, &summary, &staging.keep);
  collection.done = true;
  return summary;
}
