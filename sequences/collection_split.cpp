#include "sequences/collection_split.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unordered_map>

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

void RemoveStaging(const std::string& staging, const std::vector<StagedRecord>& staged) {
  for (const StagedRecord& record : staged) {
    unlink(StagedPath(staging, record.index, ".txt").c_str());
    unlink(StagedPath(staging, record.index, ".dbn").c_str());
  }
  rmdir(staging.c_str());
}

bool FailFile(ReadFailure* failure, const std::string& path, const char* what) {
  return Fail(failure, FailureKind::kUnreadable, kSeqStatusFileError,
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
      return Fail(failure, FailureKind::kBadStructure, kSeqStatusDataError,
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
      ok = Fail(failure, FailureKind::kBadStructure, kSeqStatusDataError,
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
          ok = Fail(failure, FailureKind::kBadStructure, kSeqStatusDataError,
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
    return Fail(failure, FailureKind::kNotSequences, kSeqStatusDataError,
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

// Moves every staged file to its place and writes the manifest.
bool CommitRecords(const SplitRequest& request, const std::string& staging,
                   const std::vector<StagedRecord>& staged, SplitSummary* summary,
                   ReadFailure* failure) {
  std::string manifest = "name\tlength\tpath\n";
  for (const StagedRecord& record : staged) {
    const std::string directory = request.directory + "/" + record.safe_name;
    const std::string stem = directory + "/" + record.safe_name;
    if (!MakeDirectories(directory)) return FailFile(failure, directory, "cannot create");
    if (rename(StagedPath(staging, record.index, ".txt").c_str(), (stem + ".txt").c_str()) != 0) {
      return FailFile(failure, stem + ".txt", "cannot write");
    }
    if (record.has_structure) {
      if (rename(StagedPath(staging, record.index, ".dbn").c_str(), (stem + ".dbn").c_str()) != 0) {
        return FailFile(failure, stem + ".dbn", "cannot write");
      }
      ++summary->structures;
    } else if (unlink((stem + ".dbn").c_str()) != 0 && errno != ENOENT) {
      // A structure left by an earlier split would be taken as this record's.
      return FailFile(failure, stem + ".dbn", "cannot remove the earlier structure");
    }
    manifest += record.safe_name + "\t" + std::to_string(record.length) + "\t" +
                record.safe_name + "/" + record.safe_name + ".txt\n";
  }
  summary->records = static_cast<int64_t>(staged.size());
  return WriteFileAtomically(request.directory + "/manifest.tsv", manifest, failure);
}

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
  const bool existed = stat(request.directory.c_str(), &info) == 0;
  if (!MakeDirectories(request.directory)) return FailFile(failure, request.directory, "cannot create");
  const std::string staging =
      request.directory + "/.rnaqubo-seq-" + std::to_string(getpid()) + ".tmp";
  if (mkdir(staging.c_str(), 0777) != 0) return FailFile(failure, staging, "cannot create");
  std::vector<StagedRecord> staged;
  const bool ok = StageRecords(request, references, staging, &staged, summary, failure) &&
                  CommitRecords(request, staging, staged, summary, failure);
  RemoveStaging(staging, staged);
  if (!ok && !existed) rmdir(request.directory.c_str());
  return ok;
}
