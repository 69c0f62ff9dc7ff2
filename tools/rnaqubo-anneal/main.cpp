// rnaqubo-anneal: a simulated annealer for the entries of a .qubo file (one
// written by rnaqubo-fold --write-qubo or any other), or for the model recorded
// in an LP or MILP instance (rnaqubo-fold --write-lp, --write-milp). Plain
// annealing or replica exchange, in independent restarts on threads. Writes the
// best selection it saw: for an rnaqubo instance the header "# numbering:
// one-based" and the chosen variables, for rnaqubo-fold --instance FILE
// --solution ANSWER; for another .qubo "# numbering: zero-based" and its
// nodes. Messages go to standard error as "rnaqubo-anneal: <message>".

#include <cerrno>
#include <chrono>
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
#include "core/work_threads.h"
#include "solve/anneal.h"
#include "formats/instance_reader.h"
#include "formats/qubo_entries.h"
#include "solve/reduction.h"
#include "model/quad_model.h"
#include "formats/output_file.h"
#include "formats/solution_text.h"

namespace {

constexpr const char* kUsage =
    "usage: rnaqubo-anneal [--sweeps N] [--seed S] [--hot T] [--cold T] [--restarts R]\n"
    "                      [--threads N] [--replicas K] INSTANCE ANSWER\n";

constexpr const char* kHelp =
    "\n"
    "Anneals the entries of INSTANCE, a .qubo file (rnaqubo-fold --write-qubo's or\n"
    "any other in that format: \"p qubo 0 maxNodes nNodes nCouplers\", then \"i j v\"\n"
    "lines, nodes from 0, minimised), or the model an LP or MILP instance of\n"
    "rnaqubo-fold records (rebuilt from its comment lines), from the empty\n"
    "selection, flipping one variable at a time by the Metropolis rule, every\n"
    "variable once per sweep in order, and writes the best selection seen to\n"
    "ANSWER. For an rnaqubo instance: the line \"# numbering: one-based\" and the\n"
    "chosen variables, for rnaqubo-fold --instance INSTANCE --solution ANSWER\n"
    "(without --zero-based), and \"value: <v>\" is the model's value (maximised;\n"
    "minus the .qubo's objective when its values are negated); a reduced model's\n"
    "instance is annealed over its own variables. For another .qubo: the line\n"
    "\"# numbering: zero-based\" and the chosen nodes, and \"value: <v>\" is the\n"
    "QUBO's objective, the sum of v x_i x_j (minimised). Then standard output has\n"
    "\"seconds: setup <a> anneal <b> output <c>\": reading and building, the\n"
    "annealing alone, writing the answer.\n"
    "\n"
    "  --sweeps N    sweeps of each run, 0 to 2^31 - 1 (default 1000); with\n"
    "                --replicas, rounds (each one sweep of every replica)\n"
    "  --seed S      seed of the random generator, 0 to 2^64 - 1 (default 1)\n"
    "  --hot T       the first sweep's temperature, 1e-307 to 1e307 (default 200)\n"
    "  --cold T      the last sweep's temperature (default 2); geometric between\n"
    "  --restarts R  independent runs, 1 to 2^31 - 1 (default 1), run k seeded\n"
    "                from S and k (run 0 by S itself); the best is written (the\n"
    "                first of equals), and with R > 1 each run's value is printed\n"
    "                as \"restart <k>: value <v>\" before \"value:\"\n"
    "  --threads N   threads for the restarts, 1 to 1024 (default: one per core);\n"
    "                the answers do not depend on it\n"
    "  --replicas K  replica exchange with K replicas, 1 to 1024 (default 1: plain\n"
    "                annealing): replica k at the fixed temperature\n"
    "                cold * (hot / cold)^(k / (K - 1)); each round sweeps every\n"
    "                replica once, then offers swaps of neighbouring temperatures\n"
    "                T_k < T_k+1 (even k in even rounds, odd k in odd ones), each\n"
    "                taken with probability min(1, exp((E_k+1 - E_k)(1/T_k -\n"
    "                1/T_k+1))), E the replica's value, maximised\n"
    "  -h, --help    print this help\n"
    "  --version     print the version\n"
    "\n"
    "Exit status: 0 done, 1 bad instance, 2 usage error or a file that cannot be\n"
    "read or written.\n";

[[noreturn]] void FailUsage(const std::string& message) { throw Failure(FailureKind::kUsage, message); }

// The options, in the order of kAnnealOptions.
enum AnnealOption : size_t {
  kSweeps, kSeed, kHot, kCold, kRestarts, kThreads, kReplicas, kHelpFlag, kShortHelpFlag, kVersionFlag
};

constexpr OptionRow kAnnealOptions[] = {
    {"--sweeps", true},   {"--seed", true},    {"--hot", true},      {"--cold", true},
    {"--restarts", true}, {"--threads", true}, {"--replicas", true}, {"--help", false},
    {"-h", false},        {"--version", false},
};

// Seconds since then.
double SecondsSince(std::chrono::steady_clock::time_point then) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - then).count();
}

// A value as printed: a whole number as such, another in the shortest form
// that reads back the same.
std::string FormatValue(double value) {
  if (value == static_cast<double>(static_cast<int64_t>(value)) && value > -9.0e18 && value < 9.0e18) {
    return std::to_string(static_cast<int64_t>(value));
  }
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}
std::string FormatValue(int64_t value) { return std::to_string(value); }

// What the run printed and wrote, for the output step.
struct RunResult {
  std::vector<uint8_t> chosen;        // the best restart's selection, 1-based rows
  std::vector<std::string> values;    // each restart's printed value
  std::string value;                  // the best one's
};

// The restarts of plan over rows; printed value = sign * the rows' value.
template <typename Rows>
RunResult RunRestarts(const Rows& rows, const AnnealPlan& plan, int threads, int sign) {
  auto results = AnnealRestarts(rows, plan, threads);
  RunResult run;
  for (const auto& result : results) run.values.push_back(FormatValue(sign * result.value));
  const size_t best = BestRestart(results);
  run.value = run.values[best];
  run.chosen = std::move(results[best].chosen);
  return run;
}

// The run of one command line; every failure is thrown (see RunTool).
void RunAnneal(int argc, char** argv) {
  const auto started = std::chrono::steady_clock::now();
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
  const int64_t restarts = value(kRestarts) == nullptr ? 1
                           : static_cast<int64_t>(ParseWholeOption("--restarts", value(kRestarts), 1, INT32_MAX));
  const int threads = value(kThreads) == nullptr ? CountWorkThreads()
                      : static_cast<int>(ParseWholeOption("--threads", value(kThreads), 1, 1024));
  const int32_t replicas = value(kReplicas) == nullptr ? 1
                           : static_cast<int32_t>(ParseWholeOption("--replicas", value(kReplicas), 1, 1024));
  const std::vector<const char*>& files = words.arguments;
  if (files.size() != 2) {
    FailUsage("expected 2 arguments (INSTANCE ANSWER), got " + std::to_string(files.size()));
  }
  AnnealPlan plan;
  plan.seed = seed;
  plan.restarts = restarts;
  if (replicas > 1) {
    plan.ladder = GeometricLadder(cold, hot, replicas);
    plan.rounds = sweeps;
  } else {
    plan.schedule = GeometricSchedule(hot, cold, sweeps);
  }
  // A .qubo is read for its entries (and, when rnaqubo wrote it, checked
  // against its comment lines); an LP or MILP instance is rebuilt from them.
  std::optional<QuboEntries> entries;
  {
    FILE* probe = std::fopen(files[0], "rb");
    char first[2] = {0, 0};
    if (probe != nullptr) {
      if (std::fread(first, 1, 1, probe) != 1) first[0] = 0;
      std::fclose(probe);
    }
    if (first[0] != '\\') entries = ReadQuboEntries(files[0]);
  }
  bool one_based = true;
  int sign = 1;
  std::optional<CouplingRows> rows;
  std::optional<RealCouplingRows> real_rows;
  if (entries && !entries->rnaqubo) {
    // Minimise the entries' objective: anneal their negation, print the objective.
    one_based = false;
    sign = -1;
    if (entries->whole) rows = MakeEntryRows(*entries, -1);
    else real_rows = MakeRealEntryRows(*entries, -1.0);
  } else {
    const InstanceSettings instance = ReadInstanceSettings(files[0]);
    if (entries) {
      if (entries->node_count != instance.quad_count) {
        throw Failure(FailureKind::kData, ShowText(files[0]) + ": qubo file: " + std::to_string(entries->node_count) +
                                              " nodes, but variables says " + std::to_string(instance.quad_count));
      }
      if (!entries->whole) {
        throw Failure(FailureKind::kData, ShowText(files[0]) + ": qubo file: a value that is not a whole number "
                                                               "from -(2^31 - 1) to 2^31 - 1 in an rnaqubo instance");
      }
      // The model's values are maximised: a negated instance's entries are negated back.
      rows = MakeEntryRows(*entries, instance.negated ? -1 : 1);
    } else {
      const QuadModel model = BuildInstanceModel(instance);
      // A reduced instance is annealed over its own variables, and answered in their numbers.
      std::optional<QuadMarginals> marginals;
      const KeptVariables kept_variables = RebuildInstanceVariables(files[0], instance, model, &marginals);
      rows = instance.reduce.empty() ? MakeCouplingRows(model) : MakeKeptCouplingRows(model, kept_variables);
    }
  }
  entries.reset();
  const double setup_seconds = SecondsSince(started);
  const auto annealing = std::chrono::steady_clock::now();
  const RunResult run = rows ? RunRestarts(*rows, plan, threads, sign) : RunRestarts(*real_rows, plan, threads, sign);
  const double anneal_seconds = SecondsSince(annealing);
  const auto writing = std::chrono::steady_clock::now();
  std::string answer = std::string(one_based ? kOneBasedHeader : kZeroBasedHeader) + "\n";
  bool first = true;
  for (size_t v = 1; v < run.chosen.size(); ++v) {
    if (run.chosen[v] == 0) continue;
    if (!first) answer += ' ';
    answer += std::to_string(one_based ? v : v - 1);
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
  if (run.values.size() > 1) {
    for (size_t k = 0; k < run.values.size(); ++k) std::printf("restart %zu: value %s\n", k, run.values[k].c_str());
  }
  std::printf("value: %s\n", run.value.c_str());
  std::printf("seconds: setup %.6f anneal %.6f output %.6f\n", setup_seconds, anneal_seconds, SecondsSince(writing));
}

}  // namespace

int main(int argc, char** argv) { return RunTool("rnaqubo-anneal", RunAnneal, argc, argv); }
