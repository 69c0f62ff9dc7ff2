#include "driver/run_sequence.h"

#include <cstdio>
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

}  // namespace

int RunRnaqubo(int argc, char** argv) {
  const RunParameters params = ParseRunParameters(argc, argv);
  InstallTerminationHandlers();
  const int32_t n = params.sequence_length;
  char* buffer = AllocateSequenceBuffer(n);
  std::printf("Using penalty = %d\n", params.M_penalty);
  ReadSequence(params.input_RNA_sequence_filename, n, buffer);

  int32_t pair_count = 0;
  const IntMatrix pairs =
      BuildPairTable(buffer, n, params.min_distance_allowed_between_positions, &pair_count);
  int32_t quad_count = 0;
  const IntMatrix quads = BuildQuadTable(pairs, pair_count, &quad_count);

  WriteDotParenFile(n, quads, quad_count);
  WriteNestedQuadFile(params.input_RNA_sequence_filename, buffer, quads, quad_count);
  const QModel model =
      MakeQModel(buffer, n, quads, quad_count, params.add_quads, params.M_penalty);
  WriteQFile(params.input_RNA_sequence_filename, model, FormattingThreads());

  // The outputs are complete; a console that cannot take the progress lines is
  // still reported, so that a script never reads a clean status over lost text.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fputs("Could not write to standard output\n", stderr);
    return kStatusIoError;
  }
  return kStatusComplete;
}
