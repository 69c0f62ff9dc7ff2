#include "tools/rnaqubo-fold/fold_command.h"

#include <cstring>

#include <string>
#include <utility>

#include "core/failure.h"
#include "core/shown_text.h"

namespace {

// One option: its name, and the field it sets: a text (the next argument, or
// the text after "=") or a flag.
struct FoldOptionRow {
  const char* name;
  const char* FoldOptions::*text;
  bool FoldOptions::*flag;
};

constexpr FoldOptionRow kFoldOptions[] = {
    {"--solution", &FoldOptions::solution_path, nullptr},
    {"--zero-based", nullptr, &FoldOptions::zero_based},
    {"--reference", &FoldOptions::reference_path, nullptr},
    {"--svg", &FoldOptions::svg_path, nullptr},
    {"--draw", &FoldOptions::draw_path, nullptr},
    {"--layout", &FoldOptions::layout_name, nullptr},
    {"--title", &FoldOptions::title, nullptr},
    {"--instance", &FoldOptions::instance_path, nullptr},
    {"--write-lp", &FoldOptions::lp_path, nullptr},
    {"--write-milp", &FoldOptions::milp_path, nullptr},
    {"--milp-pairwise", nullptr, &FoldOptions::milp_pairwise},
    {"--write-qubo", &FoldOptions::qubo_path, nullptr},
    {"--marginals", &FoldOptions::marginals_path, nullptr},
    {"--subopt", &FoldOptions::subopt_text, nullptr},
    {"--max-selections", &FoldOptions::max_selections_text, nullptr},
    {"--encode", &FoldOptions::encode_path, nullptr},
    {"--reduce", &FoldOptions::reduce_text, nullptr},
    {"--out", &FoldOptions::out_prefix, nullptr},
    {"--map", &FoldOptions::map_path, nullptr},
    {"--ensemble", &FoldOptions::ensemble_text, nullptr},
    {"--probabilities", &FoldOptions::probabilities_path, nullptr},
    {"--pair-probabilities", &FoldOptions::pair_probabilities_path, nullptr},
    {"--sample", &FoldOptions::sample_text, nullptr},
    {"--seed", &FoldOptions::seed_text, nullptr},
    {"--help", nullptr, &FoldOptions::help},
    {"-h", nullptr, &FoldOptions::help},
    {"--version", nullptr, &FoldOptions::version},
};

constexpr int kModelArguments = kModelArgumentCount;

constexpr const char* kHelpBody =
    "\n"
    "Finds the best secondary structure of one RNA sequence in the QUBO model\n"
    "that rnaqubo writes for the same five arguments (the same quads, scores,\n"
    "couplings and variable numbers), or decodes a solver's answer to it. No\n"
    "file is written unless an option names one.\n"
    "\n"
    "Arguments: as for rnaqubo (see rnaqubo --help).\n"
    "\n"
    "Options (before, between or after the arguments):\n"
    "  --solution FILE   decode the selection in FILE instead of optimising:\n"
    "                    variable numbers separated by white space, or one\n"
    "                    string of 0/1 characters, one per variable, variable 1\n"
    "                    first; a first line \"# numbering: one-based\" or\n"
    "                    \"# numbering: zero-based\" must agree with --zero-based\n"
    "  --zero-based      the numbers in FILE count from 0 (as in .qubo files);\n"
    "                    FILE then holds numbers only, never a 0/1 string\n"
    "  --reference FILE  score the structure against the known one in FILE: a\n"
    "                    dot-bracket line, or a record of \">name\", sequence\n"
    "                    and structure; brackets ()[]{}<> are accepted\n"
    "  --draw FILE       draw the structure into FILE, as SVG, PNG or PDF by\n"
    "                    FILE's extension (.svg, .png, .pdf; PNG and PDF need\n"
    "                    rsvg-convert), with the reference's pairs; the title is\n"
    "                    the reference record's name, else the sequence file's\n"
    "                    base name\n"
    "  --layout LAYOUT   arc (default): an arc diagram, this structure above the\n"
    "                    axis and the reference below; 2d: a 2D drawing by\n"
    "                    VARNA, needing java on PATH and VARNA's jar\n"
    "                    ($RNAQUBO_VARNA_JAR, else /usr/share/java/varna.jar;\n"
    "                    Debian: apt-get install varna default-jre-headless)\n"
    "  --title TEXT      the picture's title instead of the record's name\n"
    "  --svg FILE        --draw FILE, always as SVG\n"
    "  --write-lp FILE   write the model as an LP file with a quadratic\n"
    "                    objective (CPLEX, Gurobi, SCIP): x<k> is variable k\n"
    "  --write-milp FILE write the model as a linear MILP in the LP format\n"
    "                    (CBC, GLPK): x<k> is variable k, y<l>_<m> a coupling;\n"
    "                    a certified penalty's conflicts are constraints,\n"
    "                    one per position where they share one\n"
    "  --milp-pairwise   state them couple by couple instead: x<l> + x<m> <= 1\n"
    "  --write-qubo FILE write the model as a .qubo file, negated (minimise),\n"
    "                    node k - 1 being variable k\n"
    "  --instance FILE   take the model from the comment lines of an instance\n"
    "                    file written by --write-lp, --write-milp or\n"
    "                    --write-qubo, instead of the five arguments (which\n"
    "                    are then left out)\n"
    "The whole landscape (the conflict-free selections; DELTA is an integer\n"
    "or a percentage of the optimum's absolute value, such as 5%):\n"
    "  --marginals FILE  write the TSV \"variable i j best_with gap\": the best\n"
    "                    value of a selection holding each variable\n"
    "  --subopt DELTA    print \"optima: N\" (exact), \"subopt: K selections\n"
    "                    within DELTA of OPTIMUM\" and the selections, one line\n"
    "                    \"<dot-bracket> <value> <quads>\" (tab-separated),\n"
    "                    best first, ties by their quad lists\n"
    "  --max-selections M  list at most M of them (default 100000)\n"
    "  --encode FILE     decode the structure in FILE (as --reference reads it):\n"
    "                    the quads whose two pairs are pairs of it, then the\n"
    "                    pairs the model cannot represent\n"
    "  --reduce DELTA --out PREFIX  write PREFIX.q, PREFIX.qubo and PREFIX.map:\n"
    "                    the model over the variables of the selections within\n"
    "                    DELTA, renumbered from 1, each such selection kept\n"
    "                    with its value; with --write-lp, --write-milp or\n"
    "                    --write-qubo (--out then optional) those instances are\n"
    "                    of the reduced model, which --instance rebuilds\n"
    "  --map FILE        the numbers in the --solution file are those of the\n"
    "                    reduced model whose map is FILE\n"
    "  --ensemble T      the Boltzmann ensemble, P(S) ~ exp(value(S) / T):\n"
    "                    print \"ensemble: T ln(Z)\"\n"
    "  --probabilities FILE       write \"variable i j probability\"\n"
    "  --pair-probabilities FILE  write \"i j probability\", pairs from 1e-6\n"
    "  --sample N        print N exact samples of the ensemble, as --subopt\n"
    "                    prints selections\n"
    "  --seed S          their seed (default 1): the same seed, the same samples\n"
    "  -h, --help        print this help\n"
    "  --version         print the version\n"
    "\n"
    "Output (standard output):\n"
    "  <sequence>\n"
    "  <dot-bracket structure> (<value>)\n"
    "  quads: <chosen variables, ascending>\n"
    "  instance quads: <the same, numbered as the --instance file numbers them>\n"
    "then, for the optimum, whether it is the optimum of the whole model:\n"
    "  certified: yes (penalty <P> <= -<B>)   or   certified: no (...)\n"
    "and for --solution, its value against the optimum, its conflicts and the\n"
    "agreement of its base pairs with the optimum's structure:\n"
    "  value: <v> optimum: <o> ratio: <v/o>\n"
    "  conflicts: <count>, then one line \"conflict: <l> <m>\" per couple\n"
    "  optimum sensitivity: <s>\n"
    "  optimum PPV: <p>\n"
    "  optimum F1: <f>\n"
    "and last, with --reference, the agreement of the structure's base pairs\n"
    "with the reference's (exact matches, from 0 to 1):\n"
    "  sensitivity: <s>\n"
    "  PPV: <p>\n"
    "  F1: <f>\n"
    "  reference value: <v> ratio: <v/o>   (the reference's own selection)\n"
    "then the landscape's lines, as asked: \"optima:\", \"subopt:\" and the\n"
    "selections, \"reduced: Q' of Q variables; ...\", \"ensemble:\" and the samples.\n"
    "A selection with conflicts is not a secondary structure: its second line\n"
    "is \"not a secondary structure: <K> conflicting couples (<value>)\".\n"
    "\n"
    "Exit status: 0 done, 1 bad sequence, bad solution or reference file or no\n"
    "memory, 2 usage error, unreadable file, unwritable picture or output file, a\n"
    "program the picture needs missing or failing, or number out of range.\n"
    "See rnaqubo-fold(1).\n";

const FoldOptionRow* FindOption(const char* name, size_t name_size) {
  for (const FoldOptionRow& row : kFoldOptions) {
    if (std::strlen(row.name) == name_size && std::strncmp(row.name, name, name_size) == 0) return &row;
  }
  return nullptr;
}

[[noreturn]] void FailUsage(const std::string& message) { throw Failure(FailureKind::kUsage, message); }

}  // namespace

FoldCommand ParseFoldCommand(int argc, char** argv) {
  FoldCommand command{};
  const char* model_arguments[kModelArguments] = {};
  int model_count = 0;
  bool options_ended = false;
  for (int k = 1; k < argc; ++k) {
    const char* word = argv[k];
    const bool is_option = !options_ended && (std::strncmp(word, "--", 2) == 0 || std::strcmp(word, "-h") == 0);
    if (!is_option) {
      if (model_count < kModelArguments) model_arguments[model_count] = word;
      ++model_count;
      continue;
    }
    if (std::strcmp(word, "--") == 0) {
      options_ended = true;
      continue;
    }
    const char* equals = std::strchr(word, '=');
    const size_t name_size = equals != nullptr ? static_cast<size_t>(equals - word) : std::strlen(word);
    const FoldOptionRow* option = FindOption(word, name_size);
    if (option == nullptr) FailUsage("Unknown option: " + ShowText(word));
    if (option->flag != nullptr) {
      if (equals != nullptr) FailUsage("Option " + std::string(option->name) + " takes no value");
      command.options.*(option->flag) = true;
      continue;
    }
    // A second value would silently win over the first: refused, as is an empty
    // one, before anything is read or printed.
    if (command.options.*(option->text) != nullptr) FailUsage("Option " + std::string(option->name) + " given twice");
    const char* value = nullptr;
    if (equals != nullptr) {
      value = equals + 1;
    } else if (k + 1 < argc) {
      value = argv[++k];
    } else {
      FailUsage("Option " + std::string(option->name) + " needs a value");
    }
    if (*value == '\0') FailUsage("Option " + std::string(option->name) + " needs a non-empty value");
    command.options.*(option->text) = value;
  }
  if (command.options.help || command.options.version) return command;
  if (command.options.instance_path != nullptr) {
    if (model_count != 0) {
      FailUsage("Option --instance takes the model from its file: expected no arguments, got " +
                std::to_string(model_count));
    }
  } else if (model_count != kModelArguments) {
    FailUsage("expected " + std::to_string(kModelArguments) + " arguments (" + kModelArgumentNames + "), got " +
              std::to_string(model_count));
  }
  if (command.options.milp_pairwise && command.options.milp_path == nullptr) {
    FailUsage("Option --milp-pairwise needs --write-milp");
  }
  if (command.options.zero_based && command.options.solution_path == nullptr) {
    FailUsage("Option --zero-based needs --solution");
  }
  if (command.options.svg_path != nullptr && command.options.draw_path != nullptr) {
    FailUsage("Options --svg and --draw cannot be given together");
  }
  for (const auto& [given, name] : {std::pair{command.options.layout_name, "--layout"},
                                     std::pair{command.options.title, "--title"}}) {
    if (given != nullptr && command.options.svg_path == nullptr && command.options.draw_path == nullptr) {
      FailUsage("Option " + std::string(name) + " needs --draw or --svg");
    }
  }
  // Every number is checked before any file is read.
  if (command.options.instance_path == nullptr) command.params = ParseModelArguments(model_arguments);
  return command;
}

void PrintFoldUsage(std::FILE* stream, const char* program) {
  std::fprintf(stream, "usage: %s [options] %s\n", program, kModelArgumentNames);
  std::fprintf(stream, "usage: %s --solution answer.txt ase_00010.txt 316 4 1 -200\n", program);
}

void PrintFoldHelp(std::FILE* stream, const char* program) {
  PrintFoldUsage(stream, program);
  std::fputs(kHelpBody, stream);
}
