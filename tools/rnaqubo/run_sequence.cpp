#include "tools/rnaqubo/run_sequence.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "core/failure.h"
#include "core/index_arrays.h"
#include "core/model_arguments.h"
#include "core/sequence_reader.h"
#include "core/shown_text.h"
#include "core/status_codes.h"
#include "core/work_threads.h"
#include "tools/rnaqubo/usage_text.h"
#include "model/feasible_pairs.h"
#include "model/quad_model.h"
#include "model/stacked_quads.h"
#include "formats/output_file.h"
#include "formats/q_file.h"
#include "formats/quad_listings.h"

namespace {

// Refuses, before any output is written, a final name that is the input file
// (the run would lose its own input) or is longer than the file system can hold
// (a later output could not be written after an earlier one had replaced its
// file). Throws OutputFileFailure (stage kOpen).
void RefuseUnwritableNames(const KeptFile& input, const std::string* names, int count) {
  for (int k = 0; k < count; ++k) {
    if (!OutputNameFits(names[k])) throw OutputFileFailure(OutputStage::kOpen, ENAMETOOLONG, nullptr, names[k]);
    if (OutputWouldReplace(names[k], input)) {
      throw OutputFileFailure(OutputStage::kOpen, EEXIST, kInputOverwriteReason, names[k]);
    }
  }
}

// Reads the sequence into buffer, printing the count line once the count stage
// finished. Throws SequenceFileFailure.
void ReadSequence(const char* path, int32_t n, char* buffer) {
  try {
    ReadSequenceFile(path, n, buffer);
  } catch (const SequenceFileFailure& failure) {
    if (failure.count_read) std::printf("Number of bases on Sequence read = %d\n", failure.count);
    throw;
  }
  std::printf("Number of bases on Sequence read = %d\n", n);
}

// Builds the pairs and quads of the sequence, printing their counts. Sets
// *quad_count and returns the quad table. Throws Failure (kMemory).
IntMatrix BuildQuads(const char* buffer, const RunParameters& params, int32_t* quad_count) {
  int32_t pair_count = 0;
  const IntMatrix pairs =
      BuildPairTable(buffer, params.sequence_length, params.min_distance_allowed_between_positions, &pair_count);
  std::printf("\nFeasible Base Pairs = %d\n", pair_count);
  const IntMatrix quads = BuildQuadTable(pairs, pair_count, quad_count);
  std::printf("\nNested Feasible Base Pairs = %d\n", *quad_count);
  return quads;
}

// Writes the three outputs, refusing unwritable names first: the two listings,
// then the model over the quads and its Q file. Throws OutputFileFailure, or
// Failure (kMemory) for the model's tables.
void WriteOutputs(const char* buffer, const RunParameters& params, IntMatrix quads, int32_t quad_count,
                  const KeptFile& input) {
  const char* path = params.input_RNA_sequence_filename;
  const std::string names[3] = {kDotParenName, NestedQuadFileName(quad_count, path), QFileName(quad_count, path)};
  RefuseUnwritableNames(input, names, 3);
  WriteDotParenFile(params.sequence_length, quads, quad_count, &input);
  WriteNestedQuadFile(path, buffer, quads, quad_count, &input);
  const QuadModel model =
      MakeQuadModel(buffer, params.sequence_length, quads, quad_count, params.add_quads, params.M_penalty);
  WriteQFile(path, model, CountWorkThreads(), &input);
}

// The whole run of params: returns rnaqubo's status once the outputs are
// complete; throws Failure (SequenceFileFailure, OutputFileFailure, or one of
// the tables) on failure.
int RunStages(const RunParameters& params) {
  InstallTerminationHandlers();
  const int32_t n = params.sequence_length;
  char* buffer = AllocateSequenceBuffer(n);
  std::printf("Using penalty = %d\n", params.M_penalty);
  const char* path = params.input_RNA_sequence_filename;
  ReadSequence(path, n, buffer);
  const KeptFile input = IdentifyKeptFile(path);
  int32_t quad_count = 0;
  const IntMatrix quads = BuildQuads(buffer, params, &quad_count);
  WriteOutputs(buffer, params, quads, quad_count, input);

  // The outputs are complete; a console that cannot take the progress lines is
  // still reported, so that a script never reads a clean status over lost text.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fputs("Could not write to standard output\n", stderr);
    return kStatusIoError;
  }
  return kStatusComplete;
}

// rnaqubo's message for a sequence file that could not be read, for a run with
// n bases (no line end added).
std::string SequenceMessage(const SequenceFileFailure& failure, int32_t n) {
  switch (failure.outcome) {
    case SequenceOutcome::kNoCount:
    case SequenceOutcome::kTooFewWords:
      return "Nothing read from Sequence";
    case SequenceOutcome::kCountMismatch:
      return "File size does not equal command line " + std::to_string(n) + " != " + std::to_string(failure.count);
    case SequenceOutcome::kBadWord:
      return "Invalid gene base read: " +
             ShowBadWord(reinterpret_cast<const unsigned char*>(failure.bad_word.data()), failure.bad_word.size(),
                         failure.bad_word_longer) +
             "\n";
    case SequenceOutcome::kComplete:
    case SequenceOutcome::kReadError:
      break;
  }
  return "Could not read from Q file!\n";
}

// Ends a run that failed: prints text on standard output (no line end added)
// and returns status.
int EndRun(const char* text, int status) {
  std::fputs(text, stdout);
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
  // Every number is checked before anything else happens, so that a refused
  // command line touches no file.
  RunParameters params;
  try {
    params = ParseModelArguments(argv + 1);
  } catch (const Failure& failure) {
    if (failure.kind() != FailureKind::kUsage) {
      return EndRun(failure.what(), FailureStatus(failure.kind()));
    }
    std::fprintf(stderr, "%s\n", failure.what());
    return kStatusIoError;
  } catch (...) {
    return EndRun(kArrayAllocationFailure, kStatusDataError);
  }
  // Every failure of the run meets rnaqubo's message here.
  try {
    return RunStages(params);
  } catch (const SequenceFileFailure& failure) {
    const bool unreadable = failure.outcome == SequenceOutcome::kReadError || failure.outcome == SequenceOutcome::kComplete;
    const int status = unreadable ? kStatusIoError : kStatusDataError;
    try {
      return EndRun(SequenceMessage(failure, params.sequence_length).c_str(), status);
    } catch (...) {
      return EndRun(kArrayAllocationFailure, kStatusDataError);
    }
  } catch (const OutputFileFailure& failure) {
    // A failed open of dot_paren.txt is explained on standard error; so is a
    // refusal of any output that would overwrite the input.
    if (failure.stage() == OutputStage::kOpen && (failure.path() == kDotParenName || failure.reason() != nullptr)) {
      std::fprintf(stderr, "Failed to open %s\n", failure.Explanation());
    }
    return EndRun(OutputFailureMessage(failure), FailureStatus(failure.kind()));
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
