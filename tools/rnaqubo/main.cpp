// rnaqubo: writes a quadratic binary model for folding one RNA sequence.
#include "tools/rnaqubo/run_sequence.h"

int main(int argc, char** argv) { return RunRnaqubo(argc, argv); }
