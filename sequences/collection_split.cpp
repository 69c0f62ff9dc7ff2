#include "sequences/collection_split.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

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
  if (records == 1) return "record " + only_name + ": " + std::to_string(count) + " " + what;
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

bool FailFile(ReadFailure* failure, const std::string& path, const char* what) {
  return Fail(failure, SequenceFailureKind::kUnreadable, kSeqStatusFileError,
              path + ": " + what + ": " + std::strerror(errno));
}

// The source of the records: a FASTA/FASTQ stream, or the dot-bracket records.
struct RecordSource {
  RecordStream* stream;                    // nullptr when reading references
  const std::vector<DbnRecord>* references;
  size_t next_reference;
};

int NextRecord(RecordSource* source, std::string* name, std::string* raw, ReadFailure* failure) {
  if (source->stream != nullptr) return ReadRawRecord(source->stream, name, raw, failure);
  if (source->next_reference >= source->references->size()) return 0;
  const DbnRecord& reference = (*source->references)[source->next_reference++];
  *name = reference.name;
  *raw = reference.sequence;
  return 1;
}

// Reads, checks and stages every record; fills staged and summary.
bool StageRecords(const SplitRequest& request, const std::vector<DbnRecord>& references,
                  const std::string& staging, std::vector<StagedRecord>* staged,
                  SplitSummary* summary, ReadFailure* failure) {
  std::unordered_map<std::string, size_t> reference_of;
  for (size_t k = 0; k < references.size(); ++k) {
    if (!reference_of.emplace(references[k].name, k).second) {
      return Fail(failure, SequenceFailureKind::kBadStructure, kSeqStatusDataError,
                  request.dbn_path + ": two records are named " + references[k].name);
    }
  }
  const bool from_references = request.sequences_path.empty();
  const std::string& source_path = from_references ? request.dbn_path : request.sequences_path;
  RecordSource source{nullptr, &references, 0};
  if (!from_references) {
    source.stream = OpenRecordStream(request.sequences_path.c_str(), failure);
    if (source.stream == nullptr) return false;
  }
  std::unordered_map<std::string, std::pair<int64_t, std::string>> owner_of;  // safe name -> record
  std::vector<bool> reference_used(references.size(), false);
  LetterTotals totals;
  SequenceRecord record;
  std::string raw, structure;
  bool ok = true;
  int result;
  while (ok && (result = NextRecord(&source, &record.name, &raw, failure)) == 1) {
    const int64_t index = static_cast<int64_t>(staged->size()) + 1;
    const std::string safe = SafeRecordName(record.name, index);
    const auto [owner, fresh] = owner_of.emplace(safe, std::make_pair(index, record.name));
    if (!fresh) {
      ok = Fail(failure, SequenceFailureKind::kBadStructure, kSeqStatusDataError,
                source_path + ": records " + std::to_string(owner->second.first) + " (" +
                    owner->second.second + ") and " + std::to_string(index) + " (" + record.name +
                    ") would both be written to " + request.directory + "/" + safe + "/" + safe +
                    ".txt");
      break;
    }
    if (safe != record.name) {
      summary->notes.push_back("record " + std::to_string(index) + " (" + record.name +
                               ") is written as " + safe);
    }
    if (!NormaliseLetters(raw, request.policy, &record, failure)) {
      failure->message = source_path + ": " + failure->message;
      ok = false;
      break;
    }
    AddLetterCounts(record, &totals);
    const auto found = reference_of.find(record.name);
    const bool has_structure = found != reference_of.end();
    if (has_structure) {
      const DbnRecord& reference = references[found->second];
      reference_used[found->second] = true;
      if (!AlignStructure(reference.sequence, reference.structure, request.policy, record.name,
                          &structure, failure)) {
        failure->message = request.dbn_path + ": " + failure->message;
        ok = false;
        break;
      }
      if (!from_references) {
        SequenceRecord reference_letters;
        reference_letters.name = record.name;
        if (!NormaliseLetters(reference.sequence, request.policy, &reference_letters, failure)) {
          failure->message = request.dbn_path + ": " + failure->message;
          ok = false;
          break;
        }
        if (reference_letters.letters != record.letters) {
          ok = Fail(failure, SequenceFailureKind::kBadStructure, kSeqStatusDataError,
                    request.dbn_path + ": record " + record.name + ": the sequence differs from the one in " +
                        request.sequences_path);
          break;
        }
      }
    }
    staged->push_back(StagedRecord{index, safe, static_cast<int64_t>(record.letters.size()),
                                   has_structure});
    ok = WriteFileAtomically(StagedPath(staging, index, ".txt"), FormatInputFile(record.letters),
                             failure) &&
         (!has_structure ||
          WriteFileAtomically(StagedPath(staging, index, ".dbn"),
                              FormatDbnFile(record.name, record.letters, structure), failure));
  }
  if (source.stream != nullptr) CloseRecordStream(source.stream);
  if (!ok || result < 0) return false;
  if (staged->empty()) {
    return Fail(failure, SequenceFailureKind::kNotSequences, kSeqStatusDataError,
                source_path + ": no record found");
  }
  std::vector<std::string> unused;
  for (size_t k = 0; k < references.size(); ++k) {
    if (!reference_used[k]) unused.push_back(references[k].name);
  }
  if (!unused.empty()) {
    std::string list;
    for (size_t k = 0; k < unused.size() && k < 5; ++k) list += (k > 0 ? ", " : "") + unused[k];
    if (unused.size() > 5) list += ", ...";
    summary->notes.push_back(std::to_string(unused.size()) + " reference structure" +
                             (unused.size() == 1 ? " names" : "s name") + " no record of " +
                             request.sequences_path + ": " + list);
  }
  for (std::string& note : LetterNotes(totals)) summary->notes.push_back(std::move(note));
  return true;
}

// Refuses, before anything is moved into place, a record file or manifest that
// would land on an input file.
bool CheckInputsKept(const SplitRequest& request, const std::vector<StagedRecord>& staged,
                     ReadFailure* failure) {
  std::vector<KeptFile> kept;
  for (const std::string* input : {&request.sequences_path, &request.dbn_path}) {
    if (input->empty()) continue;
    const KeptFile file = IdentifyKeptFile(input->c_str());
    if (file.known) kept.push_back(file);
  }
  if (kept.empty()) return true;
  std::vector<std::string> targets{request.directory + "/manifest.tsv"};
  for (const StagedRecord& record : staged) {
    const std::string stem = request.directory + "/" + record.safe_name + "/" + record.safe_name;
    targets.push_back(stem + ".txt");
    targets.push_back(stem + ".dbn");
  }
  for (const std::string& target : targets) {
    for (const KeptFile& file : kept) {
      if (OutputWouldReplace(target, file)) {
        return Fail(failure, SequenceFailureKind::kUnreadable, kSeqStatusFileError,
                    target + ": cannot write: " + kInputOverwriteReason);
      }
    }
  }
  return true;
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
// back the files of earlier runs and removes those of this one; *keep_staging is
// set when an earlier file could not be put back and still waits in staging.
bool CommitRecords(const SplitRequest& request, const std::string& staging,
                   const std::vector<StagedRecord>& staged, SplitSummary* summary,
                   ReadFailure* failure, bool* keep_staging) {
  std::string manifest = "name\tlength\tpath\n";
  std::vector<CommitStep> steps;
  std::vector<std::string> made;  // record directories this run created
  bool ok = true;
  for (const StagedRecord& record : staged) {
    const std::string directory = request.directory + "/" + record.safe_name;
    const std::string stem = directory + "/" + record.safe_name;
    struct stat info;
    const bool existed = stat(directory.c_str(), &info) == 0;
    if (!MakeDirectories(directory)) {
      ok = FailFile(failure, directory, "cannot create");
      break;
    }
    if (!existed) made.push_back(directory);
    if (!SetAside(stem + ".txt", StagedPath(staging, record.index, ".old.txt"), &steps)) {
      ok = FailFile(failure, stem + ".txt", "cannot replace");
      break;
    }
    if (rename(StagedPath(staging, record.index, ".txt").c_str(), (stem + ".txt").c_str()) != 0) {
      ok = FailFile(failure, stem + ".txt", "cannot write");
      break;
    }
    steps.back().placed = true;
    // Without a structure, one left by an earlier split would be taken as this
    // record's: it is moved away as well.
    if (!SetAside(stem + ".dbn", StagedPath(staging, record.index, ".old.dbn"), &steps)) {
      ok = FailFile(failure, stem + ".dbn", "cannot replace");
      break;
    }
    if (record.has_structure) {
      if (rename(StagedPath(staging, record.index, ".dbn").c_str(), (stem + ".dbn").c_str()) != 0) {
        ok = FailFile(failure, stem + ".dbn", "cannot write");
        break;
      }
      steps.back().placed = true;
    }
    manifest += record.safe_name + "\t" + std::to_string(record.length) + "\t" +
                record.safe_name + "/" + record.safe_name + ".txt\n";
  }
  ok = ok && WriteFileAtomically(request.directory + "/manifest.tsv", manifest, failure);
  if (!ok) {
    if (!UndoCommit(steps, made)) {
      *keep_staging = true;
      failure->message += "; files of an earlier split could not all be put back: they remain in " +
                          staging;
    } else {
      failure->message += "; nothing was changed in " + request.directory;
    }
    return false;
  }
  for (const CommitStep& step : steps) {
    if (!step.backup.empty()) unlink(step.backup.c_str());
  }
  for (const StagedRecord& record : staged) summary->structures += record.has_structure ? 1 : 0;
  summary->records = static_cast<int64_t>(staged.size());
  return true;
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

bool SplitCollection(const SplitRequest& request, SplitSummary* summary, ReadFailure* failure) {
  std::vector<DbnRecord> references;
  if (!request.dbn_path.empty() && !ReadDbnRecords(request.dbn_path.c_str(), &references, failure)) {
    return false;
  }
  struct stat info;
  CreatedDirectoryGuard collection{request.directory, stat(request.directory.c_str(), &info) != 0};
  if (!MakeDirectories(request.directory)) return FailFile(failure, request.directory, "cannot create");
  // A name of its own per run, so that one left by a killed run blocks nothing.
  std::string pattern = request.directory + "/.rnaqubo-seq-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) return FailFile(failure, pattern, "cannot create");
  StagingGuard staging{pattern};
  std::vector<StagedRecord> staged;
  const bool ok = StageRecords(request, references, staging.path, &staged, summary, failure) &&
                  CheckInputsKept(request, staged, failure) &&
                  CommitRecords(request, staging.path, staged, summary, failure, &staging.keep);
  collection.done = ok;
  return ok;
}
