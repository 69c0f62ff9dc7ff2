// rnaqubo_reference: the same run as rnaqubo, written as the plain loops.
//
// This program exists only to be compared with rnaqubo by the differential test.
// Everything that rnaqubo computes fast is computed here the slow, obvious way:
//   - quads: every pair row r against every later pair row b, in a count pass
//     and a fill pass that repeat the same enumeration;
//   - the Q file: every couple of quad rows l < m, in row order, with the chain
//     bonus found by scanning the rows after m;
//   - all three files written with fopen/fprintf/fclose, every result checked.
// The argument handling, the sequence reader, the feasible pairs, the stacking
// scores and the conflict rule are taken from rnaqubo_core unchanged.
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/index_arrays.h"
#include "core/failure.h"
#include "core/model_arguments.h"
#include "core/sequence_reader.h"
#include "core/shown_text.h"
#include "core/status_codes.h"
#include "model/feasible_pairs.h"
#include "model/quad_couplings.h"
#include "model/stack_score.h"

namespace {

// Prints text on standard output and ends with status, as rnaqubo does.
[[noreturn]] void EndRun(const std::string& text, int status) {
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
  std::exit(status);
}

[[noreturn]] void FailWrite() { EndRun("Could not write to file!\n", kStatusIoError); }

// rnaqubo's command line, written out: the five arguments or the usage.
RunParameters ParseRunParameters(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: %s input_RNA_sequence_filename sequence_length "
                 "min_distance_allowed_between_positions add_quads0/1 M_penalty\n", argv[0]);
    std::fprintf(stderr, "usage: %s ase_00010.txt 316 4 1 -200\n", argv[0]);
    std::exit(kStatusIoError);
  }
  try {
    return ParseModelArguments(argv + 1);
  } catch (const Failure& failure) {
    if (failure.kind() == FailureKind::kUsage) {
      std::fprintf(stderr, "%s\n", failure.what());
      std::exit(kStatusIoError);
    }
    EndRun(failure.what(), kStatusDataError);
  }
}

// rnaqubo's sequence stage with its messages.
void ReadSequence(const char* path, int32_t n, char* buffer) {
  try {
    ReadSequenceFile(path, n, buffer);
  } catch (const SequenceFileFailure& failure) {
    if (failure.count_read) std::printf("Number of bases on Sequence read = %d\n", failure.count);
    switch (failure.outcome) {
      case SequenceOutcome::kNoCount:
      case SequenceOutcome::kTooFewWords:
        EndRun("Nothing read from Sequence", kStatusDataError);
      case SequenceOutcome::kCountMismatch:
        EndRun("File size does not equal command line " + std::to_string(n) + " != " +
                   std::to_string(failure.count), kStatusDataError);
      case SequenceOutcome::kBadWord:
        EndRun("Invalid gene base read: " +
                   ShowBadWord(reinterpret_cast<const unsigned char*>(failure.bad_word.data()),
                               failure.bad_word.size(), failure.bad_word_longer) + "\n",
               kStatusDataError);
      default:
        EndRun("Could not read from Q file!\n", kStatusIoError);
    }
  }
  std::printf("Number of bases on Sequence read = %d\n", n);
}

// Closes file; a failed close (the final flush included) is a failed write.
void CloseOrFail(std::FILE* file) {
  if (std::fclose(file) != 0) FailWrite();
}

// Whether pair row b is the pair directly inside pair row r: (i + 1, j - 1).
bool IsInnerPair(const int32_t* r, const int32_t* b) {
  return b[0] == r[0] + 1 && b[1] == r[1] - 1;
}

// One pass over every couple of pair rows r < b. Counts the quads; writes them
// into quads when it is given (the fill pass).
int64_t EnumerateQuads(IntMatrix pairs, int32_t pair_count, IntMatrix* quads) {
  int64_t found = 0;
  for (int32_t r = 1; r <= pair_count; ++r) {
    const int32_t* outer = MatrixRow(pairs, r);
    for (int32_t b = r + 1; b <= pair_count; ++b) {
      const int32_t* inner = MatrixRow(pairs, b);
      if (!IsInnerPair(outer, inner)) continue;
      ++found;
      if (quads != nullptr) {
        int32_t* quad = MatrixRow(*quads, found);
        quad[0] = outer[0];
        quad[1] = outer[1];
        quad[2] = inner[0];
        quad[3] = inner[1];
      }
    }
  }
  return found;
}

// The quad stage: count pass, table of Q + 1 rows, fill pass, fill-count guard,
// the console line.
IntMatrix BuildQuads(IntMatrix pairs, int32_t pair_count, int32_t* quad_count) {
  const int64_t count = EnumerateQuads(pairs, pair_count, nullptr);
  IntMatrix quads = AllocateIntMatrix(count + 1, 4);
  const int64_t written = EnumerateQuads(pairs, pair_count, &quads);
  if (written != count) {
    EndRun("Nested Feasible pair generation fails " + std::to_string(written) + " != " +
               std::to_string(count), kStatusDataError);
  }
  *quad_count = static_cast<int32_t>(count);
  std::printf("\nNested Feasible Base Pairs = %d\n", *quad_count);
  return quads;
}

// "dot_paren.txt": n, then "k\ti\tj\ti+1\tj-1" per quad.
void WriteDotParen(int32_t n, IntMatrix quads, int32_t quad_count) {
  std::FILE* file = std::fopen("dot_paren.txt", "w");
  if (file == nullptr) {
    std::fprintf(stderr, "Failed to open %s\n", std::strerror(errno));
    FailWrite();
  }
  if (std::fprintf(file, "%d\n", n) < 0) FailWrite();
  for (int32_t k = 1; k <= quad_count; ++k) {
    const int32_t* q = MatrixRow(quads, k);
    if (std::fprintf(file, "%d\t%d\t%d\t%d\t%d\n", k, q[0], q[1], q[2], q[3]) < 0) FailWrite();
  }
  CloseOrFail(file);
}

// "Q_nested_<Q>_<path>": "k  X_i Y_j     Z_i+1 W_j-1" per quad.
void WriteNested(const char* path, const char* buffer, IntMatrix quads, int32_t quad_count) {
  const std::string name = "Q_nested_" + std::to_string(quad_count) + "_" + path;
  std::FILE* file = std::fopen(name.c_str(), "w");
  if (file == nullptr) FailWrite();
  for (int32_t k = 1; k <= quad_count; ++k) {
    const int32_t* q = MatrixRow(quads, k);
    if (std::fprintf(file, "%d  %c_%d %c_%d     %c_%d %c_%d\n", k, buffer[q[0]], q[0],
                     buffer[q[1]], q[1], buffer[q[2]], q[2], buffer[q[3]], q[3]) < 0) {
      FailWrite();
    }
  }
  CloseOrFail(file);
}

void WriteEntry(std::FILE* file, int32_t row, int32_t column, int32_t value) {
  if (std::fprintf(file, "%d  %d  %d\n", row, column, value) < 0) FailWrite();
}

// "Q_<Q>_<path>": the header, then for each row l its diagonal and, for every
// later m, the chain bonus (l, r, 16), the stack link (l, m, 8) and the conflict
// (l, m, penalty) in that order; then the terminator.
void WriteQ(const char* path, const char* buffer, IntMatrix quads, int32_t quad_count,
            int32_t add_quads, int32_t penalty) {
  const std::string name = "Q_" + std::to_string(quad_count) + "_" + path;
  std::FILE* file = std::fopen(name.c_str(), "w");
  if (file == nullptr) FailWrite();
  if (std::fprintf(file, "p %d 1\n", quad_count) < 0) FailWrite();
  for (int32_t l = 1; l <= quad_count; ++l) {
    const int32_t* ql = MatrixRow(quads, l);
    WriteEntry(file, l, l, StackScore(buffer, ql));
    for (int32_t m = l + 1; m <= quad_count; ++m) {
      const int32_t* qm = MatrixRow(quads, m);
      const bool linked = QuadsStackLinked(ql, qm);
      if (linked && add_quads != 0) {
        // The quad whose outer pair is quad m's inner pair, wherever it stands.
        const int32_t r = FindQuad(qm[2], qm[3], m + 1, quad_count, quads);
        if (r > 0) WriteEntry(file, l, r, kChainBonusValue);
      }
      if (linked) WriteEntry(file, l, m, kStackLinkValue);
      if (QuadsConflict(ql, qm)) WriteEntry(file, l, m, penalty);
    }
  }
  if (std::fputs("-1", file) < 0) FailWrite();
  CloseOrFail(file);
}

}  // namespace

int Run(int argc, char** argv) {
  const RunParameters params = ParseRunParameters(argc, argv);
  // A file size limit must show as a failed write, not kill the process.
  std::signal(SIGXFSZ, SIG_IGN);
  const int32_t n = params.sequence_length;
  char* buffer = AllocateSequenceBuffer(n);
  std::printf("Using penalty = %d\n", params.M_penalty);
  ReadSequence(params.input_RNA_sequence_filename, n, buffer);

  int32_t pair_count = 0;
  const IntMatrix pairs =
      BuildPairTable(buffer, n, params.min_distance_allowed_between_positions, &pair_count);
  std::printf("\nFeasible Base Pairs = %d\n", pair_count);
  int32_t quad_count = 0;
  const IntMatrix quads = BuildQuads(pairs, pair_count, &quad_count);

  WriteDotParen(n, quads, quad_count);
  WriteNested(params.input_RNA_sequence_filename, buffer, quads, quad_count);
  WriteQ(params.input_RNA_sequence_filename, buffer, quads, quad_count, params.add_quads,
         params.M_penalty);

  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fputs("Could not write to standard output\n", stderr);
    return kStatusIoError;
  }
  return kStatusComplete;
}

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const Failure& failure) {
    EndRun(failure.what(), FailureStatus(failure.kind()));
  }
}
