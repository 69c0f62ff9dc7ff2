// Test driver: writes the arc diagram of given pairs, so that the picture can be
// rendered and checked.
// usage: draw_arcs LETTERS PAIRS REFERENCE|- OUT.svg TITLE VALUE
// PAIRS is a list "i-j,i-j,..." (possibly empty); REFERENCE is a reference file.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/failure.h"
#include "structure/arc_diagram.h"
#include "structure/reference_structure.h"

int main(int argc, char** argv) {
  if (argc != 7) {
    std::fprintf(stderr, "usage: draw_arcs LETTERS PAIRS REFERENCE|- OUT.svg TITLE VALUE\n");
    return 2;
  }
  const std::string letters = argv[1];
  const std::string buffer = '\0' + letters + '\0';
  ArcDiagram diagram{};
  diagram.buffer = buffer.data();
  diagram.n = static_cast<int32_t>(letters.size());
  for (const char* item = argv[2]; *item != '\0';) {
    char* end;
    const long i = std::strtol(item, &end, 10);
    if (*end != '-') return 2;
    const long j = std::strtol(end + 1, &end, 10);
    diagram.pairs.push_back({static_cast<int32_t>(i), static_cast<int32_t>(j)});
    item = *end == ',' ? end + 1 : end;
  }
  std::string error;
  if (std::string(argv[3]) != "-") {
    ReferenceStructure reference;
    try {
      reference = ReadReferenceStructure(argv[3], buffer.data(), diagram.n);
    } catch (const Failure& failure) {
      std::fprintf(stderr, "%s\n", failure.what());
      return 1;
    }
    diagram.has_reference = true;
    diagram.reference = reference.pairs;
    std::fputs(FormatPairScores(ScorePairs(diagram.pairs, diagram.reference)).c_str(), stdout);
  }
  diagram.title = argv[5];
  diagram.value = std::atoll(argv[6]);
  if (!WriteArcDiagram(argv[4], DrawArcDiagram(diagram), &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  return 0;
}
