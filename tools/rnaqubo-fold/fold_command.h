// The command line of rnaqubo-fold: options from a table, anywhere on the line,
// and the five arguments that define the model, checked as rnaqubo checks them.
#pragma once

#include <cstdint>
#include <cstdio>

#include "core/model_arguments.h"

// The options of a run. A new option adds a field here and a row to the table
// in fold_command.cpp.
struct FoldOptions {
  const char* solution_path = nullptr;  // --solution FILE: decode this selection
  bool zero_based = false;              // --zero-based: numbers in FILE count from 0
  const char* reference_path = nullptr; // --reference FILE: score against this structure
  const char* svg_path = nullptr;       // --svg FILE: draw the picture into FILE as SVG
  const char* draw_path = nullptr;      // --draw FILE: draw the picture into FILE (.svg, .png, .pdf)
  const char* layout_name = nullptr;    // --layout arc|2d: the picture's layout (arc when not given)
  const char* title = nullptr;          // --title TEXT: the picture's title instead of the record's name
  const char* instance_path = nullptr;  // --instance FILE: the model recorded in an instance file
  const char* lp_path = nullptr;        // --write-lp FILE: the model as an LP with a quadratic objective
  const char* milp_path = nullptr;      // --write-milp FILE: the model as a linear MILP
  bool milp_pairwise = false;           // --milp-pairwise: the MILP's conflicts couple by couple only
  const char* qubo_path = nullptr;      // --write-qubo FILE: the model as a .qubo file, negated
  // The landscape (checked and run by landscape_report.h):
  const char* marginals_path = nullptr;          // --marginals FILE: each variable's best_with and gap
  const char* subopt_text = nullptr;             // --subopt DELTA: every selection within DELTA
  const char* max_selections_text = nullptr;     // --max-selections M: lines listed by --subopt
  const char* encode_path = nullptr;             // --encode FILE: a known structure as a selection
  const char* reduce_text = nullptr;             // --reduce DELTA: the model over the variables within DELTA
  const char* out_prefix = nullptr;              // --out PREFIX: the reduced model's files
  const char* map_path = nullptr;                // --map FILE: --solution is in this reduced numbering
  const char* ensemble_text = nullptr;           // --ensemble T: the Boltzmann ensemble at T
  const char* probabilities_path = nullptr;      // --probabilities FILE: each variable's probability
  const char* pair_probabilities_path = nullptr; // --pair-probabilities FILE: each pair's probability
  const char* sample_text = nullptr;             // --sample N: exact samples
  const char* seed_text = nullptr;               // --seed S: their seed
  const char* dot_plot_path = nullptr;           // --dot-plot FILE: the ensemble's dot plot (.svg, .png, .pdf)
  const char* landscape_plot_path = nullptr;     // --landscape-plot FILE: the picture of --subopt and --reduce
  const char* json_path = nullptr;      // --json FILE: every figure of the report as JSON (- for standard output)
  bool help = false;                    // --help, -h
  bool version = false;                 // --version
};

// A parsed command line.
struct FoldCommand {
  FoldOptions options;
  RunParameters params;  // valid only when neither help, version nor --instance is given
};

// Parses argv[1..argc - 1]: options as ReadOptionWords reads them
// (core/command_line.h), the rest are the five model arguments in order (none
// with --instance, whose file gives the model). Returns the command, or throws Failure: kUsage for an unknown option, a missing or
// unexpected option value, a wrong argument count or a number outside 32 bits
// ("Number out of range: <text>"), kData for a length below 1 ("Error in sequence
// length <n>"). An unknown option is shown through ShowText; the number's word
// is shown as given (the caller escapes the whole line).
FoldCommand ParseFoldCommand(int argc, char** argv);

// Refuses a run whose output options name one file (NameOneOutputFile):
// --svg, --draw, --write-lp, --write-milp, --write-qubo, --marginals,
// --probabilities, --pair-probabilities, --dot-plot, --landscape-plot, --json
// (unless -) and the three files
// of --out PREFIX. Throws Failure kUsage "Options <first> and <second> would
// both write <name>".
void RefuseSharedOutputs(const FoldOptions& options);

// Refuses a run whose outputs would share standard output: with --json -, an
// output file that leads to standard output, or selections listed there
// (lists_selections: --subopt with --max-selections above 0, or --sample
// above 0); with --json FILE, a FILE that leads to standard output (unless
// that is the null device), where the text report goes. Throws Failure kUsage.
void RefuseStandardOutputClash(const FoldOptions& options, bool lists_selections);

// Writes the two usage lines of rnaqubo-fold, naming program, to stream.
void PrintFoldUsage(std::FILE* stream, const char* program);

// Writes the usage lines and the description of arguments, options and output
// to stream.
void PrintFoldHelp(std::FILE* stream, const char* program);
