#include "driver/run_sequence.h"

#include <cerrno>
#include <cstdio>
#include <exception>
#include <string>
#include <thread>

#include "driver/index_arrays.h"
#include "driver/run_end.h"
#include "driver/run_parameters.h"
#include "driver/sequence_reader.h"
#include "model/feasible_pairs.h"
#include "model/stacked_quads.h"
#include "output/output_file.h"
#include "output/q_file.h"
#include "output/quad_listings.h"

namespace {

// Threads that format and write the Q file: one per core, so that one thread
// formats while another writes.
int FormattingThreads() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : static_cast<int>(cores);
}

// Prints the failure of an output and ends the run with its status. A failed
// open of "dot_paren.txt" is explained on standard error ("Failed to open
// <reason>"); so is a refusal of any output that would overwrite the input.
[[noreturn]] void EndOnOutputFailure(const OutputFailure& failure, bool explain_open) {
  if (failure.kind == OutputFailureKind::kOpen && (explain_open || failure.reason != nullptr)) {
    std::fprintf(stderr, "Failed to open %s\n", OutputFailureReason(failure));
  }
  EndRun(OutputFailureMessage(failure), OutputFailureStatus(failure));
}

// Ends the run, before any output is written, if one of the three final names
// is the input file (the run would lose its own input) or is longer than the
// file system can hold (a later output could not be written after an earlier
// one had replaced its file).
void RefuseUnwritableNames(const KeptFile& input, const std::string* names, int count) {
  for (int k = 0; k < count; ++k) {
    if (!OutputNameFits(names[k])) {
      OutputFailure failure;
      failure.kind = OutputFailureKind::kOpen;
      failure.error = ENAMETOOLONG;
      EndOnOutputFailure(failure, k == 0);
    }
    if (OutputWouldReplace(names[k], input)) {
      OutputFailure failure;
      failure.kind = OutputFailureKind::kOpen;
      failure.reason = kInputOverwriteReason;
      EndOnOutputFailure(failure, k == 0);
    }
  }
}

int RunStages(int argc, char** argv) {
  const RunParameters params = ParseRunParameters(argc, argv);
  InstallTerminationHandlers();
  const int32_t n = params.sequence_length;
  char* buffer = AllocateSequenceBuffer(n);
  std::printf("Using penalty = %d\n", params.M_penalty);
  const char* path = params.input_RNA_sequence_filename;
  ReadSequence(path, n, buffer);
  const KeptFile input = IdentifyKeptFile(path);

  int32_t pair_count = 0;
  const IntMatrix pairs =
      BuildPairTable(buffer, n, params.min_distance_allowed_between_positions, &pair_count);
  int32_t quad_count = 0;
  const IntMatrix quads = BuildQuadTable(pairs, pair_count, &quad_count);

  const std::string names[3] = {"dot_paren.txt", NestedQuadFileName(quad_count, path),
                                QFileName(quad_count, path)};
  RefuseUnwritableNames(input, names, 3);
  OutputFailure failure;
  if (!WriteDotParenFile(n, quads, quad_count, &failure, &input)) EndOnOutputFailure(failure, true);
  if (!WriteNestedQuadFile(path, buffer, quads, quad_count, &failure, &input)) {
    EndOnOutputFailure(failure, false);
  }
  const QModel model = MakeQModel(buffer, n, quads, quad_count, params.add_quads, params.M_penalty);
  if (!WriteQFile(path, model, FormattingThreads(), &failure, &input)) EndOnOutputFailure(failure, false);

  // The outputs are complete; a console that cannot take the progress lines is
  // still reported, so that a script never reads a clean status over lost text.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fputs("Could not write to standard output\n", stderr);
    return kStatusIoError;
  }
  return kStatusComplete;
}

}  // namespace

int RunRnaqubo(int argc, char** argv) {
  try {
    return RunStages(argc, argv);
  } catch (...) {
    // Only the standard library's allocations (names, read buffers) throw in a
    // run: report them as every other shortage, after removing any temporary.
    RemoveActiveTemporary();
    EndRun("Memory allocation problem in AllocateIntArray", kStatusDataError);
  }
}
