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
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "core/failure.h"
#include "core/index_arrays.h"
#include "core/shown_text.h"
#include "core/status_codes.h"
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
    "  --hot T      the first sweep's temperature (default 200)\n"
    "  --cold T     the last sweep's temperature (default 2); geometric between\n"
    "  -h, --help   print this help\n"
    "  --version    print the version\n"
    "\n"
    "Exit status: 0 done, 1 bad instance, 2 usage error or a file that cannot be\n"
    "read or written.\n";

int Report(int status, const std::string& message) {
  std::fprintf(stderr, "rnaqubo-anneal: %s\n", ShowText(message).c_str());
  return status;
}

[[noreturn]] void FailUsage(const std::string& message) { throw Failure(FailureKind::kUsage, message); }

// The whole of text as a number of the kind of its option; refused otherwise.
double PositiveNumber(const char* option, const char* text) {
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(text, &end);
  if (*text == '\0' || *end != '\0' || errno != 0 || !(value > 0) || value > 1e300) {
    FailUsage(std::string("Option ") + option + " needs a positive number, got " + ShowQuoted(text, 40));
  }
  return value;
}

uint64_t WholeNumber(const char* option, const char* text, uint64_t limit) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (*text < '0' || *text > '9' || *end != '\0' || errno != 0 || value > limit) {
    FailUsage(std::string("Option ") + option + " needs a whole number up to " + std::to_string(limit) + ", got " +
              ShowQuoted(text, 40));
  }
  return value;
}

int RunAnneal(int argc, char** argv) {
  int32_t sweeps = 1000;
  uint64_t seed = 1;
  double hot = 200, cold = 2;
  std::vector<const char*> files;
  for (int k = 1; k < argc; ++k) {
    const std::string word = argv[k];
    if (word == "-h" || word == "--help") {
      std::fputs(kUsage, stdout);
      std::fputs(kHelp, stdout);
      return std::fflush(stdout) == 0 ? kStatusComplete : Report(kStatusIoError, "standard output: cannot write");
    }
    if (word == "--version") {
      std::fputs(kAnnealVersionLine, stdout);
      return std::fflush(stdout) == 0 ? kStatusComplete : Report(kStatusIoError, "standard output: cannot write");
    }
    if (word == "--sweeps" || word == "--seed" || word == "--hot" || word == "--cold") {
      if (k + 1 >= argc) FailUsage("Option " + word + " needs a value");
      const char* value = argv[++k];
      if (word == "--sweeps") sweeps = static_cast<int32_t>(WholeNumber("--sweeps", value, INT32_MAX));
      if (word == "--seed") seed = WholeNumber("--seed", value, UINT64_MAX);
      if (word == "--hot") hot = PositiveNumber("--hot", value);
      if (word == "--cold") cold = PositiveNumber("--cold", value);
    } else if (word.rfind("--", 0) == 0 && word != "--") {
      FailUsage("Unknown option: " + word);
    } else {
      files.push_back(argv[k]);
    }
  }
  if (files.size() != 2) {
    std::fputs(kUsage, stderr);
    return kStatusIoError;
  }
  const InstanceSettings instance = ReadInstanceSettings(files[0]);
  const int32_t n = static_cast<int32_t>(instance.sequence.size());
  char* buffer = AllocateSequenceBuffer(n);
  std::memcpy(buffer + 1, instance.sequence.data(), instance.sequence.size());
  const QuadModel model = BuildQuadModel(buffer, n, instance.min_distance, instance.add_quads, instance.penalty);
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
  try {
    StartOutputFile(files[1], &kept, &file);
  } catch (const OutputFileFailure& failure) {
    if (failure.stage() == OutputStage::kMemory) throw;
    return Report(kStatusIoError, std::string(files[1]) + ": cannot write: " + failure.Explanation());
  }
  errno = 0;
  if (!WriteOutputBytes(&file, answer.data(), answer.size()) || !CommitOutputFile(&file)) {
    const int error = errno != 0 ? errno : EIO;
    DiscardOutputFile(&file);
    return Report(kStatusIoError, std::string(files[1]) + ": cannot write: " + std::strerror(error));
  }
  std::printf("value: %" PRId64 "\n", best.value);
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) return Report(kStatusIoError, "standard output: cannot write");
  return kStatusComplete;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return RunAnneal(argc, argv);
  } catch (const Failure& failure) {
    return Report(FailureStatus(failure.kind()), failure.what());
  } catch (const std::bad_alloc&) {
    return Report(kStatusDataError, "Memory allocation problem");
  } catch (const std::exception& failure) {
    return Report(kStatusDataError, failure.what());
  }
}
