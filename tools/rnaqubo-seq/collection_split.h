// Writing every record of a collection into a directory of its own:
// DIR/<name>/<name>.txt in rnaqubo's input format, DIR/<name>/<name>.dbn where a
// reference structure exists, and DIR/manifest.tsv listing them.
#pragma once

#include <string>
#include <vector>

#include "sequences/sequence_failure.h"
#include "sequences/sequence_letters.h"
#include "sequences/stockholm_records.h"

// The letter conversions of one or more records, for the notes on standard error.
struct LetterTotals {
  int64_t thymines = 0, thymine_records = 0;
  int64_t gaps = 0, gap_records = 0;
  int64_t dropped = 0, dropped_records = 0;
  std::string thymine_name, gap_name, dropped_name;  // the record, while only one has them
};

// Adds record's counts to *totals.
void AddLetterCounts(const SequenceRecord& record, LetterTotals* totals);

// One note per kind of conversion in totals, such as "record x: 3 T written as U"
// or "120 T written as U in 4 records"; none when nothing was converted.
std::vector<std::string> LetterNotes(const LetterTotals& totals);

// Notes of one kind that can come once per record (or per leftover of an
// earlier split): the first kShownRepeatedNotes are kept as they are, the rest
// only counted, so that a large collection does not flood standard error.
constexpr int64_t kShownRepeatedNotes = 3;
struct RepeatedNotes {
  std::vector<std::string> shown;
  int64_t count = 0;  // every note added, shown or not
};

// Adds note to *notes.
void AddRepeatedNote(std::string note, RepeatedNotes* notes);

// Appends the shown notes of notes to *lines, then, when more were added, one
// line "... and <more> more <what> (<count> in all)", what being one (for one
// more) or many.
void FlushRepeatedNotes(const RepeatedNotes& notes, const char* one, const char* many,
                        std::vector<std::string>* lines);

struct SplitRequest {
  std::string sequences_path;  // FASTA, FASTQ or Stockholm; empty: the sequences come from dbn_path
  std::string dbn_path;        // dot-bracket references; empty for none (and for Stockholm)
  std::string directory;       // DIR, created if missing
  LetterPolicy policy;
  StockholmStructure structure = StockholmStructure::kConsensus;  // for Stockholm
  std::string dbn_output;      // one dot-bracket file of every reference written; empty for none
};

// What a split wrote.
struct SplitSummary {
  int64_t records = 0;
  int64_t structures = 0;              // .dbn files written
  std::vector<std::string> notes;      // one line each, no line end: conversions, renames
};

// A split stopped by a signal (SIGINT, SIGTERM, SIGHUP, SIGQUIT and the other
// signals that end a run by default), after the collection was put back as it was.
class SplitInterruption : public SequenceFailure {
 public:
  SplitInterruption(int signal_number, const std::string& message)
      : SequenceFailure(SequenceFailureKind::kUnreadable, message), signal_number_(signal_number) {}
  // The signal that stopped the split.
  int signal_number() const { return signal_number_; }

 private:
  int signal_number_;
};

// Splits as described above. A Stockholm file gives each row's reference
// structure, projected as ProjectStockholmRow does (a --dbn file with it is a
// usage failure). Every record is read, checked and staged before the
// first file appears in DIR, so bad data leaves DIR as it was. Two records that
// would land on one path are refused. With both files given, a reference is
// matched to the record of the same name and its sequence must equal the record's
// (after the letter rules). Returns what was written; throws SequenceFailure
// (kUnreadable for a file that cannot be read or written, a kData kind for bad
// data) with DIR as it was. The stop signals are held off while it runs and
// looked for between records and between moves: one that arrives makes it remove
// what it staged, take back what it moved, and throw SplitInterruption. The moves
// into DIR follow a journal kept in the staging directory, so that a split killed
// outright (SIGKILL, a crash) is finished or taken back by the next split into
// DIR before it does anything else. A link at a record file or at manifest.tsv is
// replaced by the file, never followed; a record directory that is a link is
// refused. With dbn_output, every reference written is also gathered into that
// one file, written whole once DIR is complete.
SplitSummary SplitCollection(const SplitRequest& request);
