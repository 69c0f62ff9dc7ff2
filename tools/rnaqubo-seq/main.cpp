// rnaqubo-seq: turns a record of a FASTA, FASTQ or Stockholm file (plain, gzip or
// bgzip) into rnaqubo's input format, or splits a whole collection into a
// directory per record.
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "core/command_line.h"
#include "core/failure.h"
#include "core/shown_text.h"
#include "core/tool_frame.h"
#include "core/version.h"
#include "formats/output_file.h"
#include "formats/output_names.h"
#include "tools/rnaqubo-seq/collection_split.h"
#include "tools/rnaqubo-seq/record_files.h"
#include "sequences/sequence_records.h"
#include "sequences/standard_input.h"
#include "sequences/stockholm_records.h"

namespace {

const char kUsage[] =
    "usage: rnaqubo-seq [-o OUT] [-i K] [--ambiguous refuse|drop] [--own-structure] FILE [NAME]\n"
    "       rnaqubo-seq --split DIR [--dbn DBN] [--write-dbn ALL] [--ambiguous refuse|drop]\n"
    "                   [--own-structure] [FILE]\n"
    "       rnaqubo-seq --help | --version\n";

const char kHelp[] =
    "\n"
    "Writes the record NAME of the FASTA, FASTQ or Stockholm file FILE (plain, gzip\n"
    "or bgzip; the first record without NAME) in rnaqubo's input format: the number\n"
    "of bases, then one base per line. FILE may be - for standard input.\n"
    "\n"
    "  -o OUT             write to OUT (complete or not at all) instead of standard output\n"
    "                     (- is standard output)\n"
    "  -i K               take the K-th record (counted from 1) instead of NAME\n"
    "  --ambiguous MODE   refuse (default) or drop IUPAC ambiguity codes such as N\n"
    "  --split DIR        write every record to DIR/<name>/<name>.txt and list them\n"
    "                     in DIR/manifest.tsv (name, length, path)\n"
    "  --dbn DBN          with --split: dot-bracket reference structures, written as\n"
    "                     DIR/<name>/<name>.dbn; without FILE the sequences come from DBN\n"
    "  --write-dbn ALL    with --split: also every reference structure in one dot-bracket\n"
    "                     file ALL\n"
    "  --own-structure    Stockholm: a sequence's reference is its own #=GR <name> SS\n"
    "                     line where it has one, not the alignment's #=GC SS_cons\n"
    "\n"
    "A Stockholm file (its first line \"# STOCKHOLM 1.0\") gives every sequence, ungapped\n"
    "('.', '-', '_', '~'), and its reference structure projected from the WUSS line:\n"
    "a pair is kept when both of its columns hold a base of the sequence; --split\n"
    "writes it as DIR/<name>/<name>.dbn, with () first and [] {} <> for crossing pairs.\n"
    "T becomes U and gaps ('-', '.') are removed, each with a note on standard error.\n"
    "A file with a faidx index (FILE.fai, and FILE.gzi for bgzip) is read by random\n"
    "access. Exit status: 0 done, 1 bad data, 2 a file that cannot be read or written,\n"
    "or a usage error.\n";

struct SeqOptions {
  std::string output;    // -o; "-" is standard output
  int64_t index = 0;     // -i, 0 when absent
  std::string split;     // --split
  std::string dbn;       // --dbn
  std::string write_dbn; // --write-dbn
  bool own_structure = false;  // --own-structure
  bool help = false;     // --help, -h
  bool version = false;  // --version
  LetterPolicy policy;
  std::vector<std::string> positionals;
};

// The options, in the order of kSeqOptions.
enum SeqOption : size_t {
  kOut, kIndex, kAmbiguous, kSplit, kDbn, kWriteDbn, kOwnStructure, kHelpFlag, kShortHelpFlag, kVersionFlag
};

constexpr OptionRow kSeqOptions[] = {
    {"-o", true},    {"-i", true},  {"--ambiguous", true}, {"--split", true}, {"--dbn", true}, {"--write-dbn", true},
    {"--own-structure", false}, {"--help", false}, {"-h", false}, {"--version", false},
};

constexpr const char* kAmbiguousModes[] = {"refuse", "drop"};

// A command line that cannot run: one line on standard error, status 2.
[[noreturn]] void UsageError(const std::string& problem) { throw Failure(FailureKind::kUsage, problem); }

// Writes "rnaqubo-seq: note: <text>" on standard error.
void Note(const std::string& text) { ShowToolLine("rnaqubo-seq", "note: " + text); }

SeqOptions ParseOptions(int argc, char** argv) {
  const OptionWords words = ReadOptionWords(kSeqOptions, std::size(kSeqOptions), argc, argv);
  const auto text = [&](SeqOption option) { return std::string(words.values[option] ? words.values[option] : ""); };
  SeqOptions options;
  options.output = text(kOut);
  options.split = text(kSplit);
  options.dbn = text(kDbn);
  options.write_dbn = text(kWriteDbn);
  options.own_structure = words.values[kOwnStructure] != nullptr;
  options.help = words.values[kHelpFlag] != nullptr || words.values[kShortHelpFlag] != nullptr;
  options.version = words.values[kVersionFlag] != nullptr;
  // As in the other tools, --help and --version take no notice of the values.
  if (options.help || options.version) return options;
  if (words.values[kIndex] != nullptr) {
    options.index = static_cast<int64_t>(ParseWholeOption("-i", words.values[kIndex], 1, INT64_MAX, "a record number"));
  }
  if (words.values[kAmbiguous] != nullptr) {
    const size_t mode = ParseChoiceOption("--ambiguous", words.values[kAmbiguous], kAmbiguousModes, 2);
    options.policy.ambiguous = mode == 0 ? AmbiguousLetters::kRefuse : AmbiguousLetters::kDrop;
  }
  options.positionals.assign(words.arguments.begin(), words.arguments.end());
  return options;
}

void RunSplit(const SeqOptions& options) {
  if (!options.output.empty() || options.index != 0) UsageError("--split writes every record: no -o or -i");
  if (!options.write_dbn.empty() && NameOneOutputFile(options.split, options.write_dbn)) {
    UsageError("Options --split and --write-dbn would both write " + ShowText(options.write_dbn));
  }
  if (options.positionals.size() > 1) UsageError("--split takes one FILE and no NAME");
  if (options.positionals.empty() && options.dbn.empty()) UsageError("no FILE given");
  SplitRequest request;
  request.sequences_path = options.positionals.empty() ? "" : options.positionals[0];
  request.dbn_path = options.dbn;
  request.directory = options.split;
  request.policy = options.policy;
  request.structure = options.own_structure ? StockholmStructure::kOwn : StockholmStructure::kConsensus;
  request.dbn_output = options.write_dbn;
  if (request.sequences_path == "-") HoldStandardInput();
  for (const std::string& note : SplitCollection(request).notes) Note(note);
}

void RunOne(const SeqOptions& options) {
  if (options.positionals.empty()) UsageError("no FILE given");
  if (options.positionals.size() > 2) UsageError("too many arguments");
  if (options.positionals.size() == 2 && options.index != 0) UsageError("give NAME or -i K, not both");
  RecordChoice choice;
  if (options.positionals.size() == 2) {
    choice.kind = ChoiceKind::kByName;
    choice.name = options.positionals[1];
  } else if (options.index != 0) {
    choice.kind = ChoiceKind::kByIndex;
    choice.index = options.index;
  }
  const char* path = options.positionals[0].c_str();
  // Standard input is looked at for its format before its reader starts.
  if (options.positionals[0] == "-") HoldStandardInput();
  SequenceRecord record;
  if (IsStockholmFile(path)) {
    const StockholmStructure which = options.own_structure ? StockholmStructure::kOwn : StockholmStructure::kConsensus;
    const StockholmProjection projection = ReadStockholmRecord(path, choice, which, options.policy);
    record = projection.record;
    if (projection.reversed) Note(ReversedStructureNote(path, 1, projection.structure_source, projection.structure_line));
  } else {
    if (options.own_structure) UsageError(options.positionals[0] + ": --own-structure needs a Stockholm file");
    std::string index_note;
    record = ReadSequenceRecord(path, choice, options.policy, &index_note);
    if (!index_note.empty()) Note(index_note);
  }
  LetterTotals totals;
  AddLetterCounts(record, &totals);
  for (const std::string& note : LetterNotes(totals)) Note(note);
  const std::string text = FormatInputFile(record.letters);
  // "-o -" is standard output, as no -o is.
  if (!options.output.empty() && options.output != "-") {
    WriteFileAtomically(options.output, text, options.positionals[0].c_str());
    return;
  }
  std::fwrite(text.data(), 1, text.size(), stdout);
  FlushStandardOutput();
}

// The run of one command line; every failure is thrown (see RunTool).
void RunSeq(int argc, char** argv) {
  InstallTerminationHandlers();
  const SeqOptions options = ParseOptions(argc, argv);
  if (options.help) {
    std::fputs(kUsage, stdout);
    std::fputs(kHelp, stdout);
    return;
  }
  if (options.version) {
    std::fputs(kSeqVersionLine, stdout);
    return;
  }
  if (!options.split.empty()) return RunSplit(options);
  if (!options.dbn.empty()) UsageError("--dbn goes with --split DIR");
  if (!options.write_dbn.empty()) UsageError("--write-dbn goes with --split DIR");
  RunOne(options);
}

// rnaqubo-seq's own failures: an interrupted split ends with 128 + the signal,
// refused ambiguity codes with the option that drops them.
bool WordSeqFailure(const Failure& failure, ToolFailure* shown) {
  if (const auto* interruption = dynamic_cast<const SplitInterruption*>(&failure)) {
    *shown = ToolFailure{interruption->what(), 128 + interruption->signal_number()};
    return true;
  }
  const auto* sequence = dynamic_cast<const SequenceFailure*>(&failure);
  if (sequence == nullptr || sequence->sequence_kind() != SequenceFailureKind::kAmbiguous) return false;
  *shown = ToolFailure{std::string(failure.what()) + "; --ambiguous drop removes them", FailureStatus(failure.kind())};
  return true;
}

}  // namespace

// Every failure unwinds to here, so that the staging directory of a split is
// removed on the way, and ends the run with one line and its status.
int main(int argc, char** argv) { return RunTool("rnaqubo-seq", RunSeq, argc, argv, WordSeqFailure); }
