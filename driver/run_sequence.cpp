#include "driver/run_sequence.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <thread>

#include "core/failure.h"
#include "core/index_arrays.h"
#include "core/model_arguments.h"
#include "core/sequence_reader.h"
#include "core/shown_text.h"
#include "core/status_codes.h"
#include "driver/usage_text.h"
#include "model/feasible_pairs.h"
#include "model/stacked_quads.h"
#include "output/output_file.h"
#include "output/q_file.h"
#include "output/quad_listings.h"

namespace {

// A run that ends early: the text rnaqubo prints on standard output (no line end
// added) and the exit status.
struct RunEnd {
  std::string text;
  int status;
};

// Threads that format and write the Q file: one per core, so that one thread
// formats while another writes.
int FormattingThreads() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : static_cast<int>(cores);
}

// The failure of an output. A failed open of "dot_paren.txt" is explained on
// standard error ("Failed to open <reason>"); so is a refusal of any output that
// would overwrite the input.
RunEnd EndOnOutputFailure(const OutputFailure& failure, bool explain_open) {
  if (failure.kind == OutputFailureKind::kOpen && (explain_open || failure.reason != nullptr)) {
    std::fprintf(stderr, "Failed to open %s\n", OutputFailureReason(failure));
  }
  return RunEnd{OutputFailureMessage(failure), OutputFailureStatus(failure)};
}

// Refuses, before any output is written, a final name that is the input file
// (the run would lose its own input) or is longer than the file system can hold
// (a later output could not be written after an earlier one had replaced its file).
void RefuseUnwritableNames(const KeptFile& input, const std::string* names, int count) {
  for (int k = 0; k < count; ++k) {
    OutputFailure failure;
    failure.kind = OutputFailureKind::kOpen;
    if (!OutputNameFits(names[k])) {
      failure.error = ENAMETOOLONG;
      throw EndOnOutputFailure(failure, k == 0);
    }
    if (OutputWouldReplace(names[k], input)) {
      failure.reason = kInputOverwriteReason;
      throw EndOnOutputFailure(failure, k == 0);
    }
  }
}

// rnaqubo's message for a sequence file that could not be read.
RunEnd SequenceEnd(const SequenceFileFailure& failure, int32_t n) {
  switch (failure.outcome) {
    case SequenceOutcome::kNoCount:
    case SequenceOutcome::kTooFewWords:
      return RunEnd{"Nothing read from Sequence", kStatusDataError};
    case SequenceOutcome::kCountMismatch:
      return RunEnd{"File size does not equal command line " + std::to_string(n) + " != " +
                        std::to_string(failure.count),
                    kStatusDataError};
    case SequenceOutcome::kBadWord:
      return RunEnd{"Invalid gene base read: " +
                        ShowBadWord(reinterpret_cast<const unsigned char*>(failure.bad_word.data()),
                                    failure.bad_word.size(), failure.bad_word_longer) +
                        "\n",
                    kStatusDataError};
    case SequenceOutcome::kComplete:
    case SequenceOutcome::kReadError:
      break;
  }
  return RunEnd{"Could not read from Q file!\n", kStatusIoError};
}

// Reads the sequence, printing the count line once the count stage finished.
void ReadSequence(const char* path, int32_t n, char* buffer) {
  try {
    ReadSequenceFile(path, n, buffer);
  } catch (const SequenceFileFailure& failure) {
    if (failure.count_read) std::printf("Number of bases on Sequence read = %d\n", failure.count);
    throw SequenceEnd(failure, n);
  }
  std::printf("Number of bases on Sequence read = %d\n", n);
}

int RunStages(const RunParameters& params) {
  InstallTerminationHandlers();
  const int32_t n = params.sequence_length;
  char* buffer = AllocateSequenceBuffer(n);
  std::printf("Using penalty = %d\n", params.M_penalty);
  const char* path = params.input_RNA_sequence_filename;
  ReadSequence(path, n, buffer);
  const KeptFile input = IdentifyKeptFile(path);

  int32_t pair_count = 0;
  const IntMatrix pairs = BuildPairTable(buffer, n, params.min_distance_allowed_between_positions, &pair_count);
  std::printf("\nFeasible Base Pairs = %d\n", pair_count);
  int32_t quad_count = 0;
  const IntMatrix quads = BuildQuadTable(pairs, pair_count, &quad_count);
  std::printf("\nNested Feasible Base Pairs = %d\n", quad_count);

  const std::string names[3] = {"dot_paren.txt", NestedQuadFileName(quad_count, path),
                                QFileName(quad_count, path)};
  RefuseUnwritableNames(input, names, 3);
  OutputFailure failure;
  if (!WriteDotParenFile(n, quads, quad_count, &failure, &input)) throw EndOnOutputFailure(failure, true);
  if (!WriteNestedQuadFile(path, buffer, quads, quad_count, &failure, &input)) {
    throw EndOnOutputFailure(failure, false);
  }
  const QModel model = MakeQModel(buffer, n, quads, quad_count, params.add_quads, params.M_penalty);
  if (!WriteQFile(path, model, FormattingThreads(), &failure, &input)) throw EndOnOutputFailure(failure, false);

  // The outputs are complete; a console that cannot take the progress lines is
  // still reported, so that a script never reads a clean status over lost text.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fputs("Could not write to standard output\n", stderr);
    return kStatusIoError;
  }
  return kStatusComplete;
}

// The text and status that end a run on failure (printed on standard output,
// no line end added).
int EndRun(const std::string& text, int status) {
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
  return status;
}

}  // namespace

int RunRnaqubo(int argc, char** argv) {
  const char* program = argc > 0 ? argv[0] : "rnaqubo";
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    return PrintHelp(program);
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) return PrintVersion();
  if (argc != 1 + kModelArgumentCount) {
    PrintUsage(stderr, program);
    return kStatusIoError;
  }
  try {
    // Every number is checked before anything else happens, so that a refused
    // command line touches no file.
    RunParameters params;
    try {
      params = ParseModelArguments(argv + 1);
    } catch (const Failure& failure) {
      if (failure.kind() != FailureKind::kUsage) throw;
      std::fprintf(stderr, "%s\n", failure.what());
      return kStatusIoError;
    }
    return RunStages(params);
  } catch (const RunEnd& end) {
    return EndRun(end.text, end.status);
  } catch (const Failure& failure) {
    RemoveActiveTemporary();
    return EndRun(failure.what(), FailureStatus(failure.kind()));
  } catch (...) {
    // The standard library's allocations (names, read buffers) are the only
    // other things that throw in a run: reported as every other shortage.
    RemoveActiveTemporary();
    return EndRun(kArrayAllocationFailure, kStatusDataError);
  }
}
