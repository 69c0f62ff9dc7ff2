// rnaqubo-anneal: a simulated annealer for the model recorded in an instance
// file (written by rnaqubo-fold --write-qubo, --write-lp or --write-milp).
// Writes the best selection it saw as the header "# numbering: one-based" and
// the chosen variables, for rnaqubo-fold --instance FILE --solution ANSWER. Messages go to standard
// error as "rnaqubo-anneal: <message>".

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "core/command_line.h"
#include "core/failure.h"
#include "core/index_arrays.h"
#include "core/shown_text.h"
#include "core/tool_frame.h"
#include "core/version.h"
#include "solve/anneal.h"
#include "formats/instance_reader.h"
#include "solve/reduction.h"
#include "model/quad_model.h"
#include "formats/output_file.h"
#include "formats/solution_text.h"

namespace {

constexpr const char* kUsage =
    "usage: rnaqubo-anneal [--sweeps N] [--seed S] [--hot T] [--cold T] INSTANCE ANSWER\n";

constexpr const char* kHelp =
    "\n"
    "Anneals the model recorded in INSTANCE (a .qubo, LP or MILP file written by\n"
    "rnaqubo-fold) from the empty selection, flipping one variable at a time by\n"
    "the Metropolis rule, every variable once per sweep in order 1..Q, and\n"
    "writes the best selection seen to ANSWER: the line \"# numbering: one-based\"\n"
    "and the chosen variables, for rnaqubo-fold --instance INSTANCE --solution\n"
    "ANSWER (without --zero-based, even for a .qubo instance). An instance of a\n"
    "reduced model (rnaqubo-fold --reduce) is annealed over its own variables\n"
    "and answered in their numbers. Prints \"value: <v>\" on standard output.\n"
    "\n"
    "  --sweeps N   sweeps (default 1000)\n"
    "  --seed S     seed of the random generator, 0 to 2^64 - 1 (default 1)\n"
    "  --hot T      the first sweep's temperature, 1e-307 to 1e307 (default 200)\n"
    "  --cold T     the last sweep's temperature (default 2); geometric between\n"
    "  -h, --help   print this help\n"
    "  --version    print the version\n"
    "\n"
    "Exit status: 0 done, 1 bad instance, 2 usage error or a file that cannot be\n"
    "read or written.\n";

[[noreturn]] void FailUsage(const std::string& message) { throw Failure(FailureKind::kUsage, message); }

// The options, in the order of kAnnealOptions.
enum AnnealOption : size_t { kSweeps, kSeed, kHot, kCold, kHelpFlag, kShortHelpFlag, kVersionFlag };

constexpr OptionRow kAnnealOptions[] = {
    {"--sweeps", true}, {"--seed", true}, {"--hot", true}, {"--cold", true},
    {"--help", false},  {"-h", false},    {"--version", false},
};

// The run of one command line; every failure is thrown (see RunTool).
void RunAnneal(int argc, char** argv) {
  const OptionWords words = ReadOptionWords(kAnnealOptions, std::size(kAnnealOptions), argc, argv);
  if (words.values[kHelpFlag] != nullptr || words.values[kShortHelpFlag] != nullptr) {
    std::fputs(kUsage, stdout);
    std::fputs(kHelp, stdout);
    return;
  }
  if (words.values[kVersionFlag] != nullptr) {
    std::fputs(kAnnealVersionLine, stdout);
    return;
  }
  const auto value = [&](AnnealOption option) { return words.values[option]; };
  const int32_t sweeps = value(kSweeps) == nullptr ? 1000
                         : static_cast<int32_t>(ParseWholeOption("--sweeps", value(kSweeps), 0, INT32_MAX));
  const uint64_t seed = value(kSeed) == nullptr ? 1 : ParseSeedOption(value(kSeed));
  const double hot = value(kHot) == nullptr ? 200 : ParseTemperatureOption("--hot", value(kHot));
  const double cold = value(kCold) == nullptr ? 2 : ParseTemperatureOption("--cold", value(kCold));
  const std::vector<const char*>& files = words.arguments;
  if (files.size() != 2) {
    FailUsage("expected 2 arguments (INSTANCE ANSWER), got " + std::to_string(files.size()));
  }
  const InstanceSettings instance = ReadInstanceSettings(files[0]);
  const QuadModel model = BuildInstanceModel(instance);
  // A reduced instance is annealed over its own variables, and answered in their numbers.
  std::optional<QuadMarginals> marginals;
  const KeptVariables kept_variables = RebuildInstanceVariables(files[0], instance, model, &marginals);
  const CouplingRows rows = instance.reduce.empty() ? MakeCouplingRows(model) : MakeKeptCouplingRows(model, kept_variables);
  const AnnealResult best = AnnealModel(rows, GeometricSchedule(hot, cold, sweeps), seed);
  std::string answer = std::string(kOneBasedHeader) + "\n";
  bool first = true;
  for (int32_t v = 1; v < static_cast<int32_t>(rows.score.size()); ++v) {
    if (best.chosen[v] == 0) continue;
    if (!first) answer += ' ';
    answer += std::to_string(v);
    first = false;
  }
  answer += '\n';
  InstallTerminationHandlers();
  const KeptFile kept = IdentifyKeptFile(files[0]);
  OutputFile file;
  // The failure names the file: "<ANSWER>: cannot write: <reason>".
  StartOutputFile(files[1], &kept, &file);
  errno = 0;
  if (!WriteOutputBytes(&file, answer.data(), answer.size()) || !CommitOutputFile(&file)) {
    const int error = errno != 0 ? errno : EIO;
    DiscardOutputFile(&file);
    throw Failure(FailureKind::kFile, ShowText(files[1]) + ": cannot write: " + std::strerror(error), files[1], error);
  }
  std::printf("value: %" PRId64 "\n", best.value);
}

}  // namespace

int main(int argc, char** argv) { return RunTool("rnaqubo-anneal", RunAnneal, argc, argv); }
