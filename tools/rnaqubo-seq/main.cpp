// rnaqubo-seq: turns a record of a FASTA, FASTQ or Stockholm file (plain, gzip or
// bgzip) into rnaqubo's input format, or splits a whole collection into a
// directory per record.
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "core/failure.h"
#include "core/shown_text.h"
#include "core/status_codes.h"
#include "core/version.h"
#include "formats/output_file.h"
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
  std::string output;    // -o
  int64_t index = 0;     // -i, 0 when absent
  std::string split;     // --split
  std::string dbn;       // --dbn
  std::string write_dbn; // --write-dbn
  bool own_structure = false;  // --own-structure
  LetterPolicy policy;
  std::vector<std::string> positionals;
};

// A command line that cannot run: one line on standard error, status 2.
[[noreturn]] void UsageError(const std::string& problem) { throw Failure(FailureKind::kUsage, problem); }

// Writes "rnaqubo-seq: <text>" on standard error; text from outside is shown
// through ShowText here at the latest.
void Say(const std::string& text) { std::fprintf(stderr, "rnaqubo-seq: %s\n", ShowText(text).c_str()); }

void Note(const std::string& text) { Say("note: " + text); }

// The exit status of a stream that must be flushed before a clean end.
int FlushedStatus(std::FILE* stream) {
  return std::fflush(stream) == 0 && !std::ferror(stream) ? kStatusComplete : kStatusIoError;
}

SeqOptions ParseOptions(int argc, char** argv) {
  SeqOptions options;
  bool options_done = false;
  for (int k = 1; k < argc; ++k) {
    std::string arg = argv[k];
    if (options_done || arg == "-" || arg.empty() || arg[0] != '-') {
      options.positionals.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_done = true;
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      std::fputs(kHelp, stdout);
      std::exit(FlushedStatus(stdout));
    }
    if (arg == "--version") {
      std::fputs(kSeqVersionLine, stdout);
      std::exit(FlushedStatus(stdout));
    }
    if (arg == "--own-structure") {
      options.own_structure = true;
      continue;
    }
    std::string value;
    bool has_value = false;
    const size_t equals = arg.find('=');
    if (arg.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = arg.substr(equals + 1);
      arg.resize(equals);
      has_value = true;
    }
    if (arg != "-o" && arg != "-i" && arg != "--ambiguous" && arg != "--split" && arg != "--dbn" &&
        arg != "--write-dbn") {
      UsageError("unknown option " + arg);
    }
    if (!has_value) {
      if (k + 1 >= argc) UsageError(arg + " needs a value");
      value = argv[++k];
    }
    if (arg == "-o") {
      options.output = value;
    } else if (arg == "-i") {
      const char* end = value.data() + value.size();
      const auto [stop, error] = std::from_chars(value.data(), end, options.index);
      if (error != std::errc() || stop != end || options.index < 1) {
        UsageError("-i needs a record number from 1 on, not '" + value + "'");
      }
    } else if (arg == "--ambiguous") {
      if (value == "refuse") {
        options.policy.ambiguous = AmbiguousLetters::kRefuse;
      } else if (value == "drop") {
        options.policy.ambiguous = AmbiguousLetters::kDrop;
      } else {
        UsageError("--ambiguous takes refuse or drop, not '" + value + "'");
      }
    } else if (arg == "--split") {
      options.split = value;
    } else if (arg == "--write-dbn") {
      options.write_dbn = value;
    } else {
      options.dbn = value;
    }
    if (value.empty()) UsageError(arg + " needs a non-empty value");
  }
  return options;
}

int RunSplit(const SeqOptions& options) {
  if (!options.output.empty() || options.index != 0) UsageError("--split writes every record: no -o or -i");
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
  return kStatusComplete;
}

int RunOne(const SeqOptions& options) {
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
  if (!options.output.empty()) {
    WriteFileAtomically(options.output, text, options.positionals[0].c_str());
    return kStatusComplete;
  }
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
    Say(std::string("standard output: cannot write: ") + std::strerror(errno));
    return kStatusIoError;
  }
  return kStatusComplete;
}

}  // namespace

int main(int argc, char** argv) {
  InstallTerminationHandlers();
  // Every failure unwinds to here, so that the staging directory of a split is
  // removed on the way, and ends the run with one line and its status.
  try {
    const SeqOptions options = ParseOptions(argc, argv);
    if (!options.split.empty()) return RunSplit(options);
    if (!options.dbn.empty()) UsageError("--dbn goes with --split DIR");
    if (!options.write_dbn.empty()) UsageError("--write-dbn goes with --split DIR");
    return RunOne(options);
  } catch (const SplitInterruption& interruption) {
    Say(interruption.what());
    return 128 + interruption.signal_number();
  } catch (const SequenceFailure& failure) {
    const bool ambiguous = failure.sequence_kind() == SequenceFailureKind::kAmbiguous;
    const char* hint = ambiguous ? "; --ambiguous drop removes them" : "";
    Say(failure.what() + std::string(hint));
    return FailureStatus(failure.kind());
  } catch (const Failure& failure) {
    Say(failure.what());
    return FailureStatus(failure.kind());
  } catch (const std::bad_alloc&) {
    Say("out of memory");
  } catch (const std::exception& error) {
    Say(error.what());
  }
  return kStatusDataError;
}
