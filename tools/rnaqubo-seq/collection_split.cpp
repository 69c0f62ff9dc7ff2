#include "tools/rnaqubo-seq/collection_split.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <unordered_map>

#include "core/shown_text.h"
#include "formats/output_file.h"
#include "formats/target_lock.h"
#include "sequences/dbn_records.h"
#include "tools/rnaqubo-seq/record_files.h"
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

// The signals that end a run by default and that a run may receive from outside.
// A split blocks them while it runs and looks for one between steps, so that an
// interruption always finds the collection in a state it can take back.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGUSR1,
                                SIGUSR2, SIGALRM, SIGXCPU, SIGVTALRM, SIGPROF};

sigset_t StopSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int s : kStopSignals) sigaddset(&set, s);
  return set;
}

// Blocks the stop signals for its lifetime.
struct StopSignalBlock {
  sigset_t saved;
  StopSignalBlock() {
    const sigset_t set = StopSignalSet();
    pthread_sigmask(SIG_BLOCK, &set, &saved);
  }
  ~StopSignalBlock() { pthread_sigmask(SIG_SETMASK, &saved, nullptr); }
};

// Throws SplitInterruption, taking the signal, when a stop signal is pending.
void CheckInterrupted(const std::string& directory, const char* outcome) {
  PassTestStep();
  sigset_t pending;
  if (sigpending(&pending) != 0) return;
  for (int s : kStopSignals) {
    if (sigismember(&pending, s) != 1) continue;
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, s);
    const timespec now{0, 0};
    sigtimedwait(&one, nullptr, &now);
    throw SplitInterruption(s, ShowText(directory) + ": interrupted by signal " + std::to_string(s) + " (" +
                                   strsignal(s) + "); " + outcome);
  }
}

// The source of the records: a FASTA/FASTQ stream, the dot-bracket records, or
// the rows of Stockholm alignments.
struct RecordSource {
  RecordStream* stream;                    // nullptr when reading references or Stockholm
  const std::vector<DbnRecord>* references;
  size_t next_reference;
  const std::vector<StockholmAlignment>* alignments;  // nullptr unless Stockholm
  size_t alignment = 0, next_row = 0;      // where the next Stockholm row is
  size_t row = 0;                          // the row NextRecord named last
};

// Reads the next record's name and raw letters; for Stockholm only the name,
// with source->alignment and source->row naming the row.
bool NextRecord(RecordSource* source, std::string* name, std::string* raw) {
  if (source->stream != nullptr) return ReadRawRecord(source->stream, name, raw);
  if (source->alignments != nullptr) {
    const std::vector<StockholmAlignment>& alignments = *source->alignments;
    while (source->alignment < alignments.size() && source->next_row == alignments[source->alignment].rows.size()) {
      ++source->alignment;
      source->next_row = 0;
    }
    if (source->alignment == alignments.size()) return false;
    source->row = source->next_row++;
    *name = alignments[source->alignment].rows[source->row].name;
    return true;
  }
  if (source->next_reference >= source->references->size()) return false;
  const DbnRecord& reference = (*source->references)[source->next_reference++];
  *name = reference.name;
  *raw = reference.sequence;
  return true;
}

// Reads, checks and stages every record; fills staged and summary.
void StageRecords(const SplitRequest& request, const std::vector<DbnRecord>& references,
                  const std::vector<StockholmAlignment>* alignments, const std::string& staging,
                  std::vector<StagedRecord>* staged, SplitSummary* summary, std::string* all_references) {
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
  if (!from_references && alignments == nullptr) stream = OpenRecordStream(request.sequences_path.c_str());
  RecordSource source{stream.get(), &references, 0, alignments};
  std::set<int64_t> reversed_lines;  // the structure lines read reversed, by their first line
  std::string reversed_first;
  int64_t reversed_first_line = 0;
  std::unordered_map<std::string, std::pair<int64_t, std::string>> owner_of;  // safe name -> record
  std::vector<bool> reference_used(references.size(), false);
  LetterTotals totals;
  RepeatedNotes renamed;
  SequenceRecord record;
  std::string raw, structure;
  while (NextRecord(&source, &record.name, &raw)) {
    CheckInterrupted(request.directory, "nothing was changed");
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
      AddRepeatedNote("record " + std::to_string(index) + " (" + ShowText(record.name) + ") is written as " +
                          ShowText(safe),
                      &renamed);
    }
    bool has_structure = false;
    if (alignments != nullptr) {
      StockholmProjection projection = ProjectStockholmRow(request.sequences_path.c_str(),
                                                           (*alignments)[source.alignment], source.row,
                                                           request.structure, request.policy);
      record = std::move(projection.record);
      structure = std::move(projection.structure);
      has_structure = projection.has_structure;
      if (projection.reversed && reversed_lines.insert(projection.structure_line).second &&
          reversed_lines.size() == 1) {
        reversed_first = projection.structure_source;
        reversed_first_line = projection.structure_line;
      }
    } else {
      try {
        NormaliseLetters(raw, request.policy, &record);
      } catch (const SequenceFailure& failure) {
        FailWithin(shown_source + ": ", failure);
      }
    }
    AddLetterCounts(record, &totals);
    const auto found = alignments != nullptr ? reference_of.end() : reference_of.find(record.name);
    if (found != reference_of.end()) {
      has_structure = true;
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
    if (has_structure) *all_references += FormatDbnFile(record.name, record.letters, structure);
    // A failed write (a full disk, a file size limit) is reported on the record's
    // file, not on its staged copy.
    const std::string stem = request.directory + "/" + safe + "/" + safe;
    try {
      WriteFileAtomically(StagedPath(staging, index, ".txt"), FormatInputFile(record.letters));
      if (has_structure) {
        WriteFileAtomically(StagedPath(staging, index, ".dbn"), FormatDbnFile(record.name, record.letters, structure));
      }
    } catch (const SequenceFailure& failure) {
      const std::string target = stem + (failure.path() == StagedPath(staging, index, ".dbn") ? ".dbn" : ".txt");
      const int error = failure.error_number();
      throw SequenceFailure(failure.sequence_kind(),
                            ShowText(target) + ": cannot write: " + (error != 0 ? std::strerror(error) : "write error"),
                            target, error);
    }
  }
  if (staged->empty()) FailData(SequenceFailureKind::kNotSequences, shown_source + ": no record found");
  FlushRepeatedNotes(renamed, "record is written under a safe name", "records are written under a safe name",
                     &summary->notes);
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
  const std::string note =
      ReversedStructureNote(request.sequences_path.c_str(), static_cast<int64_t>(reversed_lines.size()),
                            reversed_first, reversed_first_line);
  if (!note.empty()) summary->notes.push_back(note);
}

// Refuses, before anything is moved into place, a record file, the manifest or
// the one dot-bracket file of --write-dbn that would land on an input file, and
// a file of --write-dbn inside DIR.
void CheckInputsKept(const SplitRequest& request, const std::vector<StagedRecord>& staged) {
  // DIR is the split's own: a file of --write-dbn in it could land on the
  // manifest or a record's file, or be removed by a later split.
  if (!request.dbn_output.empty()) {
    const size_t slash = request.dbn_output.rfind('/');
    const std::string parent = slash == std::string::npos ? "." : request.dbn_output.substr(0, slash + 1);
    char* parent_path = realpath(parent.c_str(), nullptr);
    char* directory_path = realpath(request.directory.c_str(), nullptr);
    const std::string inside = parent_path != nullptr ? std::string(parent_path) + "/" : "";
    const std::string own = directory_path != nullptr ? std::string(directory_path) + "/" : "";
    free(parent_path);
    free(directory_path);
    if (!own.empty() && inside.compare(0, own.size(), own) == 0) {
      throw SequenceFailure(SequenceFailureKind::kUnreadable,
                            ShowText(request.dbn_output) + ": cannot write: it is inside the split's directory " +
                                ShowText(request.directory),
                            request.dbn_output);
    }
  }
  std::vector<KeptFile> kept;
  for (const std::string* input : {&request.sequences_path, &request.dbn_path}) {
    if (input->empty()) continue;
    const KeptFile file = IdentifyKeptFile(input->c_str());
    if (file.known) kept.push_back(file);
  }
  if (kept.empty()) return;
  std::vector<std::string> targets{request.directory + "/manifest.tsv"};
  if (!request.dbn_output.empty()) targets.push_back(request.dbn_output);
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

// The journal of a commit, in the staging directory: written whole before the
// first file of DIR is touched, it lists every record directory to create and
// every move, so that a run killed in the middle can be taken back by the next.
// A file "committed" beside it says that the commit was complete.
//   rnaqubo-seq journal 1
//   dir<TAB>NAME                                 a directory this commit creates
//   move<TAB>FINAL<TAB>BACKUP<TAB>STAGED          FINAL (relative to DIR) is set aside
//                                                as BACKUP, then STAGED (or "-" for
//                                                none) takes its place
// Every path in it is made of safe names, so holds no tab or line end.
constexpr char kJournalFirstLine[] = "rnaqubo-seq journal 1";
constexpr char kJournalName[] = "journal";
constexpr char kCommittedName[] = "committed";
constexpr char kOwnerName[] = "owner";

struct JournalMove {
  std::string final_path, backup, staged;
};

struct Journal {
  std::vector<std::string> directories;
  std::vector<JournalMove> moves;
};

std::string FormatJournal(const Journal& journal) {
  std::string text = std::string(kJournalFirstLine) + "\n";
  for (const std::string& directory : journal.directories) text += "dir\t" + directory + "\n";
  for (const JournalMove& move : journal.moves) {
    text += "move\t" + move.final_path + "\t" + move.backup + "\t" + move.staged + "\n";
  }
  return text;
}

// Reads a journal; false for one that is not complete and well formed.
bool ParseJournal(const std::string& text, Journal* journal) {
  size_t start = 0;
  bool first = true;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    if (end == std::string::npos) return false;
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    if (first) {
      if (line != kJournalFirstLine) return false;
      first = false;
      continue;
    }
    std::vector<std::string> fields;
    for (size_t field = 0;;) {
      const size_t tab = line.find('\t', field);
      fields.push_back(line.substr(field, tab == std::string::npos ? std::string::npos : tab - field));
      if (tab == std::string::npos) break;
      field = tab + 1;
    }
    for (const std::string& field : fields) {
      if (field.empty() || field.find("..") == 0 || field[0] == '/') return false;
    }
    if (fields[0] == "dir" && fields.size() == 2) {
      journal->directories.push_back(fields[1]);
    } else if (fields[0] == "move" && fields.size() == 4) {
      journal->moves.push_back(JournalMove{fields[1], fields[2], fields[3]});
    } else {
      return false;
    }
  }
  return !first;
}

bool Exists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

// Takes a commit back from its journal, latest move first: a file set aside is
// put back over whatever took its place, a file placed where there was none is
// removed, and the directories the commit created are removed when empty. Works
// from any point of an interrupted commit and may be repeated. Returns false
// when a file set aside could not be put back.
bool UndoJournal(const std::string& directory, const std::string& staging, const Journal& journal) {
  bool restored = true;
  for (auto move = journal.moves.rbegin(); move != journal.moves.rend(); ++move) {
    const std::string final_path = directory + "/" + move->final_path;
    const std::string backup = staging + "/" + move->backup;
    if (Exists(backup)) {
      if (rename(backup.c_str(), final_path.c_str()) != 0) restored = false;
    } else if (move->staged != "-" && !Exists(staging + "/" + move->staged)) {
      unlink(final_path.c_str());
    }
  }
  for (auto made = journal.directories.rbegin(); made != journal.directories.rend(); ++made) {
    rmdir((directory + "/" + *made).c_str());
  }
  return restored;
}

// Removes a staging directory and whatever it holds.
void RemoveStaging(const std::string& path) {
  if (DIR* directory = opendir(path.c_str())) {
    while (const dirent* entry = readdir(directory)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") unlink((path + "/" + name).c_str());
    }
    closedir(directory);
  }
  rmdir(path.c_str());
}

std::string ReadSmallText(const std::string& path) {
  std::string text;
  if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
    std::fclose(file);
  }
  return text;
}

// The owner file's text for this process: its id and its start time.
std::string OwnerText() {
  const long pid = static_cast<long>(getpid());
  return std::to_string(pid) + " " + ProcessStartTime(pid) + "\n";
}

// Whether the staging directory belongs to a run that is still going: its
// process exists and started when the owner file says (a file with only an id,
// from an earlier version, is trusted on the id alone).
bool OwnerRuns(const std::string& staging) {
  const std::string text = ReadSmallText(staging + "/" + kOwnerName);
  char* end = nullptr;
  const long pid = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || pid <= 0 || pid == getpid()) return false;
  std::string started(end);
  while (!started.empty() && (started.back() == '\n' || started.back() == ' ')) started.pop_back();
  while (!started.empty() && started.front() == ' ') started.erase(0, 1);
  if (!started.empty()) return ProcessStartTime(pid) == started;
  return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

// Finishes or takes back what a killed split left in directory: a complete
// commit loses its staging directory, an incomplete one is undone from its
// journal, and a run killed while staging only leaves files in staging, which
// are removed. Staging directories of runs still going are left alone. Adds a
// note per directory dealt with (the first few, then a count: see RepeatedNotes).
void RecoverInterruptedSplits(const std::string& directory, SplitSummary* summary) {
  RepeatedNotes notes;
  std::vector<std::string> found;
  if (DIR* listing = opendir(directory.c_str())) {
    while (const dirent* entry = readdir(listing)) {
      const std::string name = entry->d_name;
      if (name.rfind(".rnaqubo-seq-", 0) == 0) found.push_back(name);
    }
    closedir(listing);
  }
  std::sort(found.begin(), found.end());  // the notes in an order that does not depend on the file system
  for (const std::string& name : found) {
    const std::string staging = directory + "/" + name;
    struct stat info;
    if (lstat(staging.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || OwnerRuns(staging)) continue;
    const std::string shown = ShowText(staging);
    if (Exists(staging + "/" + kCommittedName)) {
      RemoveStaging(staging);
      AddRepeatedNote(shown + ": an earlier split was complete; its leftovers are removed", &notes);
      continue;
    }
    if (!Exists(staging + "/" + kJournalName)) {
      RemoveStaging(staging);
      AddRepeatedNote(shown + ": an earlier split stopped before its commit; its staged files are removed", &notes);
      continue;
    }
    Journal journal;
    if (!ParseJournal(ReadSmallText(staging + "/" + kJournalName), &journal)) {
      AddRepeatedNote(shown + ": the journal of an earlier split cannot be read; left as it is", &notes);
      continue;
    }
    if (!UndoJournal(directory, staging, journal)) {
      throw SequenceFailure(SequenceFailureKind::kUnreadable,
                            shown + ": an earlier split was stopped in its commit and its files could not all be "
                                    "put back",
                            staging);
    }
    RemoveStaging(staging);
    AddRepeatedNote(shown + ": an earlier split was stopped in its commit; the files before it are restored", &notes);
  }
  FlushRepeatedNotes(notes, "leftover of an earlier split dealt with", "leftovers of earlier splits dealt with",
                     &summary->notes);
}

// Refuses, before the commit starts, what would make a move fail or write through
// a link out of DIR: a record directory that is a link or no directory, a
// directory at a final path. A link at a final path is replaced, not followed.
void CheckCommitPaths(const std::string& directory, const std::vector<StagedRecord>& staged) {
  struct stat info;
  if (lstat((directory + "/manifest.tsv").c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    errno = EISDIR;
    FailFile(directory + "/manifest.tsv", "cannot replace");
  }
  for (const StagedRecord& record : staged) {
    const std::string record_directory = directory + "/" + record.safe_name;
    if (lstat(record_directory.c_str(), &info) == 0) {
      if (S_ISLNK(info.st_mode)) {
        throw SequenceFailure(SequenceFailureKind::kUnreadable,
                              ShowText(record_directory) + ": cannot create: a symbolic link is in the way",
                              record_directory);
      }
      if (!S_ISDIR(info.st_mode)) {
        errno = ENOTDIR;
        FailFile(record_directory, "cannot create");
      }
    }
    for (const char* suffix : {".txt", ".dbn"}) {
      const std::string path = record_directory + "/" + record.safe_name + suffix;
      if (lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        errno = EISDIR;
        FailFile(path, "cannot replace");
      }
    }
  }
}

// Moves every staged file, and the staged manifest, to its place under the
// journal. A failure or a stop signal takes the commit back and is thrown again
// with what became of the files; *keep_staging is set when an earlier file could
// not be put back and still waits in staging.
void CommitRecords(const SplitRequest& request, const std::string& staging, const std::vector<StagedRecord>& staged,
                   SplitSummary* summary, bool* keep_staging) {
  const std::string& directory = request.directory;
  std::string manifest = "name\tlength\tpath\n";
  Journal journal;
  struct stat info;
  for (const StagedRecord& record : staged) {
    const std::string stem = record.safe_name + "/" + record.safe_name;
    if (lstat((directory + "/" + record.safe_name).c_str(), &info) != 0) journal.directories.push_back(record.safe_name);
    const std::string number = std::to_string(record.index);
    journal.moves.push_back(JournalMove{stem + ".txt", number + ".old.txt", number + ".txt"});
    // Without a structure, one left by an earlier split would be taken as this
    // record's: it is moved away as well.
    journal.moves.push_back(JournalMove{stem + ".dbn", number + ".old.dbn", record.has_structure ? number + ".dbn" : "-"});
    manifest += record.safe_name + "\t" + std::to_string(record.length) + "\t" + stem + ".txt\n";
  }
  journal.moves.push_back(JournalMove{"manifest.tsv", "manifest.old", "manifest"});
  bool journal_written = false;
  try {
    CheckCommitPaths(directory, staged);
    WriteFileAtomically(staging + "/manifest", manifest);
    WriteFileAtomically(staging + "/" + kJournalName, FormatJournal(journal));
    journal_written = true;
    for (const std::string& made : journal.directories) {
      CheckInterrupted(directory, "nothing was changed");
      if (mkdir((directory + "/" + made).c_str(), 0777) != 0) FailFile(directory + "/" + made, "cannot create");
    }
    for (const JournalMove& move : journal.moves) {
      CheckInterrupted(directory, "nothing was changed");
      const std::string final_path = directory + "/" + move.final_path;
      if (rename(final_path.c_str(), (staging + "/" + move.backup).c_str()) != 0 && errno != ENOENT) {
        FailFile(final_path, "cannot replace");
      }
      PassTestStep();
      if (move.staged != "-" && rename((staging + "/" + move.staged).c_str(), final_path.c_str()) != 0) {
        FailFile(final_path, "cannot write");
      }
    }
    const int marker = open((staging + "/" + kCommittedName).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (marker < 0) FailFile(staging + "/" + kCommittedName, "cannot write");
    close(marker);
    PassTestStep();
  } catch (const SequenceFailure& failure) {
    std::string message = failure.what();
    if (journal_written && !UndoJournal(directory, staging, journal)) {
      *keep_staging = true;
      message += "; files of an earlier split could not all be put back: they remain in " + ShowText(staging);
    } else if (message.find("; nothing was changed") == std::string::npos) {
      message += "; nothing was changed in " + ShowText(directory);
    }
    if (const auto* interruption = dynamic_cast<const SplitInterruption*>(&failure)) {
      throw SplitInterruption(interruption->signal_number(), message);
    }
    throw SequenceFailure(failure.sequence_kind(), message, failure.path(), failure.error_number());
  }
  for (const StagedRecord& record : staged) summary->structures += record.has_structure ? 1 : 0;
  summary->records = static_cast<int64_t>(staged.size());
}

// Removes a staging directory and whatever it holds, unless told to keep it.
struct StagingGuard {
  std::string path;
  bool keep = false;
  ~StagingGuard() {
    if (!path.empty() && !keep) RemoveStaging(path);
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

void AddRepeatedNote(std::string note, RepeatedNotes* notes) {
  if (notes->count++ < kShownRepeatedNotes) notes->shown.push_back(std::move(note));
}

void FlushRepeatedNotes(const RepeatedNotes& notes, const char* one, const char* many,
                        std::vector<std::string>* lines) {
  lines->insert(lines->end(), notes.shown.begin(), notes.shown.end());
  const int64_t more = notes.count - static_cast<int64_t>(notes.shown.size());
  if (more == 0) return;
  lines->push_back("... and " + std::to_string(more) + " more " + (more == 1 ? one : many) + " (" +
                   std::to_string(notes.count) + " in all)");
}

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
  const StopSignalBlock blocked;
  std::vector<StockholmAlignment> alignments;
  const bool stockholm = !request.sequences_path.empty() && IsStockholmFile(request.sequences_path.c_str());
  if (stockholm) {
    if (!request.dbn_path.empty()) {
      throw Failure(FailureKind::kUsage, ShowText(request.sequences_path) +
                                             ": a Stockholm alignment carries its own structures: no --dbn with it");
    }
    alignments = ReadStockholmAlignments(request.sequences_path.c_str());
  } else if (request.structure == StockholmStructure::kOwn) {
    throw Failure(FailureKind::kUsage, ShowText(request.sequences_path.empty() ? request.dbn_path : request.sequences_path) +
                                           ": not a Stockholm alignment: it has no #=GR SS lines to take structures from");
  }
  std::vector<DbnRecord> references;
  if (!request.dbn_path.empty()) references = ReadDbnRecords(request.dbn_path.c_str());
  struct stat info;
  CreatedDirectoryGuard collection{request.directory, stat(request.directory.c_str(), &info) != 0};
  if (!MakeDirectories(request.directory)) FailFile(request.directory, "cannot create");
  // Held from the first look at DIR to the end of the commit: a second split
  // into DIR is refused, never interleaved with this one.
  TargetLock lock;
  if (!LockDirectory(request.directory, &lock)) {
    collection.created = false;
    if (errno != EWOULDBLOCK) FailFile(request.directory, "cannot lock");
    throw SequenceFailure(SequenceFailureKind::kUnreadable,
                          ShowText(request.directory) + ": another split into it is running; nothing was changed",
                          request.directory, EWOULDBLOCK);
  }
  // A name of its own per run, so that one left by a killed run blocks nothing.
  SplitSummary summary;
  RecoverInterruptedSplits(request.directory, &summary);
  std::string pattern = request.directory + "/.rnaqubo-seq-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) FailFile(pattern, "cannot create");
  StagingGuard staging{pattern};
  WriteFileAtomically(pattern + "/" + kOwnerName, OwnerText());
  std::vector<StagedRecord> staged;
  std::string all_references;
  StageRecords(request, references, stockholm ? &alignments : nullptr, staging.path, &staged, &summary,
               &all_references);
  CheckInputsKept(request, staged);
  CommitRecords(request, staging.path, staged, &summary, &staging.keep);
  collection.done = true;
  if (!request.dbn_output.empty()) {
    try {
      WriteFileAtomically(request.dbn_output, all_references,
                          request.sequences_path.empty() ? request.dbn_path.c_str() : request.sequences_path.c_str());
    } catch (const SequenceFailure& failure) {
      throw SequenceFailure(failure.sequence_kind(),
                            failure.what() + std::string("; the split into ") + ShowText(request.directory) +
                                " is complete",
                            failure.path(), failure.error_number());
    }
  }
  return summary;
}
