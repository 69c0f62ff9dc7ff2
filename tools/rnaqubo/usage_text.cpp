#include "tools/rnaqubo/usage_text.h"

#include <cstdio>

#include "core/model_arguments.h"
#include "core/status_codes.h"
#include "core/version.h"

namespace {

constexpr const char* kHelpBody =
    "\n"
    "Writes a quadratic binary model (QUBO) for folding one RNA sequence: one\n"
    "variable per quad, a base pair stacked on the pair directly inside it.\n"
    "Solving the model is left to a solver.\n"
    "\n"
    "Arguments:\n"
    "  input_RNA_sequence_filename  sequence file: the number of bases, then one\n"
    "                               word per base; the first letter of a word\n"
    "                               counts (A, C, G, U, either case)\n"
    "  sequence_length              number of bases the file must announce (>= 1)\n"
    "  min_distance_allowed_between_positions\n"
    "                               a pair (i, j) needs j - i above this value\n"
    "  add_quads0/1                 non-zero adds the chain bonus 16 along helices\n"
    "  M_penalty                    value for each couple of quads that cannot\n"
    "                               both be chosen, e.g. -200\n"
    "The numbers are decimal integers that must fit in 32 bits.\n"
    "\n"
    "Outputs (Q is the number of quads, <input> the first argument as typed):\n"
    "  dot_paren.txt                in the working directory: n, then one\n"
    "                               tab-separated line per quad: k i j i+1 j-1\n"
    "  Q_nested_<Q>_<input>         the quads with their letters\n"
    "  Q_<Q>_<input>                the model: \"p Q 1\", entries \"row  col  value\",\n"
    "                               then \"-1\"\n"
    "Each file appears complete or not at all.\n"
    "\n"
    "Options, alone on the command line:\n"
    "  -h, --help                   print this help\n"
    "  --version                    print the version\n"
    "\n"
    "Exit status: 0 complete, 1 bad sequence data or no memory, 2 usage error,\n"
    "file error or number out of range, 128+N ended by signal N.\n"
    "See rnaqubo(1) for the file formats.\n";

int StatusAfterStdout() {
  return std::fflush(stdout) != 0 || std::ferror(stdout) ? kStatusIoError : kStatusComplete;
}

}  // namespace

void PrintUsage(std::FILE* stream, const char* program) {
  std::fprintf(stream, "usage: %s %s\n", program, kModelArgumentNames);
  std::fprintf(stream, "usage: %s ase_00010.txt 316 4 1 -200\n", program);
}

int PrintHelp(const char* program) {
  PrintUsage(stdout, program);
  std::fputs(kHelpBody, stdout);
  return StatusAfterStdout();
}

int PrintVersion() {
  std::fputs(kRnaquboVersionLine, stdout);
  return StatusAfterStdout();
}
