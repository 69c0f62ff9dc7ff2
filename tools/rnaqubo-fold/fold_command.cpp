#include "tools/rnaqubo-fold/fold_command.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core/command_line.h"
#include "core/failure.h"
#include "core/shown_text.h"
#include "formats/output_names.h"

namespace {

// One option: its row (name, whether it takes a value), and the field it
// sets: a text or a flag.
struct FoldOptionRow {
  OptionRow row;
  const char* FoldOptions::*text;
  bool FoldOptions::*flag;
};

constexpr FoldOptionRow kFoldOptions[] = {
    {{"--solution", true}, &FoldOptions::solution_path, nullptr},
    {{"--zero-based", false}, nullptr, &FoldOptions::zero_based},
    {{"--reference", true}, &FoldOptions::reference_path, nullptr},
    {{"--svg", true}, &FoldOptions::svg_path, nullptr},
    {{"--draw", true}, &FoldOptions::draw_path, nullptr},
    {{"--layout", true}, &FoldOptions::layout_name, nullptr},
    {{"--title", true}, &FoldOptions::title, nullptr},
    {{"--instance", true}, &FoldOptions::instance_path, nullptr},
    {{"--write-lp", true}, &FoldOptions::lp_path, nullptr},
    {{"--write-milp", true}, &FoldOptions::milp_path, nullptr},
    {{"--milp-pairwise", false}, nullptr, &FoldOptions::milp_pairwise},
    {{"--write-qubo", true}, &FoldOptions::qubo_path, nullptr},
    {{"--marginals", true}, &FoldOptions::marginals_path, nullptr},
    {{"--subopt", true}, &FoldOptions::subopt_text, nullptr},
    {{"--max-selections", true}, &FoldOptions::max_selections_text, nullptr},
    {{"--encode", true}, &FoldOptions::encode_path, nullptr},
    {{"--reduce", true}, &FoldOptions::reduce_text, nullptr},
    {{"--out", true}, &FoldOptions::out_prefix, nullptr},
    {{"--map", true}, &FoldOptions::map_path, nullptr},
    {{"--ensemble", true}, &FoldOptions::ensemble_text, nullptr},
    {{"--probabilities", true}, &FoldOptions::probabilities_path, nullptr},
    {{"--pair-probabilities", true}, &FoldOptions::pair_probabilities_path, nullptr},
    {{"--sample", true}, &FoldOptions::sample_text, nullptr},
    {{"--seed", true}, &FoldOptions::seed_text, nullptr},
    {{"--dot-plot", true}, &FoldOptions::dot_plot_path, nullptr},
    {{"--landscape-plot", true}, &FoldOptions::landscape_plot_path, nullptr},
    {{"--json", true}, &FoldOptions::json_path, nullptr},
    {{"--help", false}, nullptr, &FoldOptions::help},
    {{"-h", false}, nullptr, &FoldOptions::help},
    {{"--version", false}, nullptr, &FoldOptions::version},
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
    "                    axis and the reference below; 2d: a 2D drawing laid\n"
    "                    out by VARNA, with --reference this structure and the\n"
    "                    reference side by side, each in its own layout, sized\n"
    "                    for a 170 mm page with letters of 8 pt or more; needs\n"
    "                    java on PATH and VARNA's jar ($RNAQUBO_VARNA_JAR, else\n"
    "                    /usr/share/java/varna.jar; Debian: apt-get install\n"
    "                    varna default-jre-headless)\n"
    "  --title TEXT      the title of the pictures instead of the record's name\n"
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
    "  --dot-plot FILE   draw the ensemble's dot plot into FILE (SVG, PNG or\n"
    "                    PDF, as --draw): each pair's probability as the area of\n"
    "                    a square above the diagonal, the optimum's pairs\n"
    "                    (filled) and the reference's (outlined) below it\n"
    "  --landscape-plot FILE  draw the landscape into FILE (as --draw): with\n"
    "                    --subopt, the listed selections' values against the\n"
    "                    optimum and DELTA, and how often they pair each\n"
    "                    position, and with whom; with --reduce, the kept\n"
    "                    variables as arcs over the sequence\n"
    "  --json FILE       write every figure of the report (and of the landscape\n"
    "                    options given) to FILE as one JSON object; - writes it\n"
    "                    to standard output instead of the text report\n"
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

[[noreturn]] void FailUsage(const std::string& message) { throw Failure(FailureKind::kUsage, message); }

}  // namespace

FoldCommand ParseFoldCommand(int argc, char** argv) {
  FoldCommand command{};
  std::vector<OptionRow> rows;
  for (const FoldOptionRow& option : kFoldOptions) rows.push_back(option.row);
  const OptionWords words = ReadOptionWords(rows.data(), rows.size(), argc, argv);
  for (size_t k = 0; k < rows.size(); ++k) {
    if (words.values[k] == nullptr) continue;
    if (kFoldOptions[k].flag != nullptr) {
      command.options.*(kFoldOptions[k].flag) = true;
    } else {
      command.options.*(kFoldOptions[k].text) = words.values[k];
    }
  }
  const int model_count = static_cast<int>(words.arguments.size());
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
  const FoldOptions& given = command.options;
  if (given.layout_name != nullptr && given.svg_path == nullptr && given.draw_path == nullptr) {
    FailUsage("Option --layout needs --draw or --svg");
  }
  if (given.title != nullptr && given.svg_path == nullptr && given.draw_path == nullptr &&
      given.dot_plot_path == nullptr && given.landscape_plot_path == nullptr) {
    FailUsage("Option --title needs --draw, --svg, --dot-plot or --landscape-plot");
  }
  // Every number is checked before any file is read.
  if (command.options.instance_path == nullptr) command.params = ParseModelArguments(words.arguments.data());
  return command;
}

namespace {

// Every output file the options name, with its option; --json - is none.
std::vector<std::pair<const char*, std::string>> ListOutputFiles(const FoldOptions& options) {
  std::vector<std::pair<const char*, std::string>> outputs;
  for (const auto& [path, name] : {std::pair{options.svg_path, "--svg"}, std::pair{options.draw_path, "--draw"},
                                   std::pair{options.lp_path, "--write-lp"},
                                   std::pair{options.milp_path, "--write-milp"},
                                   std::pair{options.qubo_path, "--write-qubo"},
                                   std::pair{options.marginals_path, "--marginals"},
                                   std::pair{options.probabilities_path, "--probabilities"},
                                   std::pair{options.pair_probabilities_path, "--pair-probabilities"},
                                   std::pair{options.dot_plot_path, "--dot-plot"},
                                   std::pair{options.landscape_plot_path, "--landscape-plot"},
                                   std::pair{options.json_path, "--json"}}) {
    if (path != nullptr && !(path == options.json_path && std::strcmp(path, "-") == 0)) {
      outputs.emplace_back(name, path);
    }
  }
  if (options.out_prefix != nullptr) {
    for (const char* suffix : {".q", ".qubo", ".map"}) {
      outputs.emplace_back("--out", options.out_prefix + std::string(suffix));
    }
  }
  return outputs;
}

// Whether name leads to the file standard output writes, which is not the null device.
bool LeadsToStandardOutput(const std::string& name) {
  struct stat out, file, null_device;
  if (fstat(STDOUT_FILENO, &out) != 0 || stat(name.c_str(), &file) != 0) return false;
  if (out.st_dev != file.st_dev || out.st_ino != file.st_ino) return false;
  return !(S_ISCHR(file.st_mode) && stat("/dev/null", &null_device) == 0 && S_ISCHR(null_device.st_mode) &&
           null_device.st_rdev == file.st_rdev);
}

}  // namespace

void RefuseStandardOutputClash(const FoldOptions& options, bool lists_selections) {
  if (options.json_path == nullptr) return;
  if (std::strcmp(options.json_path, "-") != 0) {
    if (LeadsToStandardOutput(options.json_path)) {
      FailUsage("Option --json would write " + ShowText(options.json_path) +
                ", which is standard output, where the report goes: give --json - instead");
    }
    return;
  }
  if (lists_selections) {
    FailUsage(std::string("Option --json - would share standard output with the selections ") +
              (options.sample_text != nullptr ? "--sample" : "--subopt") + " lists: give --json a file");
  }
  for (const auto& [name, path] : ListOutputFiles(options)) {
    if (LeadsToStandardOutput(path)) {
      FailUsage(std::string("Options --json - and ") + name + " would both write standard output (" +
                ShowText(path) + ")");
    }
  }
}

void RefuseSharedOutputs(const FoldOptions& options) {
  const std::vector<std::pair<const char*, std::string>> outputs = ListOutputFiles(options);
  for (size_t a = 0; a < outputs.size(); ++a) {
    for (size_t b = a + 1; b < outputs.size(); ++b) {
      if (NameOneOutputFile(outputs[a].second, outputs[b].second)) {
        FailUsage(std::string("Options ") + outputs[a].first + " and " + outputs[b].first + " would both write " +
                  ShowText(outputs[b].second));
      }
    }
  }
}

void PrintFoldUsage(std::FILE* stream, const char* program) {
  std::fprintf(stream, "usage: %s [options] %s\n", program, kModelArgumentNames);
  std::fprintf(stream, "usage: %s --solution answer.txt ase_00010.txt 316 4 1 -200\n", program);
}

void PrintFoldHelp(std::FILE* stream, const char* program) {
  PrintFoldUsage(stream, program);
  std::fputs(kHelpBody, stream);
}
