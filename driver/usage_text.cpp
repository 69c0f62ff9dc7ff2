#include "driver/usage_text.h"

#include <cstdio>
#include <cstdlib>

#include "driver/run_end.h"

#ifndef RNAQUBO_VERSION
#define RNAQUBO_VERSION "unknown"
#endif

namespace {

constexpr const char* kHelpBody =
    "\n"
    "Writes a quadratic binary model (QUBO) for folding one RNA sequence: one\n"
    "variable per stacked couple of base pairs (a quad).\n"
    "\n"
    "Arguments:\n"
    "  input_RNA_sequence_filename  sequence file: the number of bases, then one\n"
    "                               word per base (A, C, G, U, either case)\n"
    "  sequence_length              number of bases the file must announce (>= 1)\n"
    "  min_distance_allowed_between_positions\n"
    "                               a pair (i, j) needs j - i above this value\n"
    "  add_quads0/1                 non-zero adds the chain bonus 16 along helices\n"
    "  M_penalty                    value written for every conflicting couple\n"
    "\n"
    "Outputs:\n"
    "  dot_paren.txt                in the working directory: n, then one\n"
    "                               tab-separated line per quad: k i j i+1 j-1\n"
    "  Q_nested_<Q>_<input>         the quads with their letters\n"
    "  Q_<Q>_<input>                the model: \"p Q 1\", entries \"row  col  value\",\n"
    "                               then \"-1\"\n"
    "\n"
    "Exit status: 0 complete, 1 bad data or no memory, 2 usage or file error.\n";

[[noreturn]] void EndAfterStdout() {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) std::exit(kStatusIoError);
  std::exit(kStatusComplete);
}

}  // namespace

void PrintUsage(std::FILE* stream, const char* program) {
  std::fprintf(stream,
               "usage: %s input_RNA_sequence_filename sequence_length "
               "min_distance_allowed_between_positions add_quads0/1 M_penalty\n",
               program);
  std::fprintf(stream, "usage: %s ase_00010.txt 316 4 1 -200\n", program);
}

void PrintHelpAndEnd(const char* program) {
  PrintUsage(stdout, program);
  std::fputs(kHelpBody, stdout);
  EndAfterStdout();
}

void PrintVersionAndEnd() {
  std::fputs("rnaqubo " RNAQUBO_VERSION "\n", stdout);
  EndAfterStdout();
}
