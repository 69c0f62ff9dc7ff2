#include "tools/rnaqubo-fold/fold_report.h"

#include <cinttypes>
#include <string>
#include <vector>

#include "solve/optimum.h"

void PrintSelectionLines(std::FILE* out, const QuadModel& model, const uint8_t* chosen, int64_t value,
                         int64_t conflict_count, FoldFigures* figures) {
  std::fwrite(model.buffer + 1, 1, static_cast<size_t>(model.n), out);
  std::fputc('\n', out);
  std::string shown;
  if (conflict_count == 0) {
    std::vector<char> structure(static_cast<size_t>(model.n) + 1);
    WriteDotBracket(model, chosen, structure.data());
    shown.assign(structure.data(), static_cast<size_t>(model.n));
    std::fwrite(structure.data(), 1, static_cast<size_t>(model.n), out);
    std::fprintf(out, " (%" PRId64 ")\n", value);
  } else {
    // A selection with conflicts has no dot-bracket form: never draw one.
    std::fprintf(out, "not a secondary structure: %" PRId64 " conflicting couples (%" PRId64 ")\n",
                 conflict_count, value);
  }
  std::fputs("quads:", out);
  for (int32_t v = 1; v <= model.quad_count; ++v) {
    if (chosen[v] != 0) std::fprintf(out, " %d", v);
  }
  std::fputc('\n', out);
  GatherSelectionFigures(model, chosen, shown, value, conflict_count, figures);
}

void PrintInstanceQuads(std::FILE* out, const QuadModel& model, const uint8_t* chosen,
                        const std::vector<int32_t>* renumbered, FoldFigures* figures) {
  figures->has_instance_quads = true;
  std::string numbers, missing;
  int32_t missing_count = 0;
  for (int32_t v = 1; v <= model.quad_count; ++v) {
    if (chosen[v] == 0) continue;
    const int32_t k = renumbered != nullptr ? (*renumbered)[v] : v;
    std::string& list = k != 0 ? numbers : missing;
    list.push_back(' ');
    list.append(std::to_string(k != 0 ? k : v));
    (k != 0 ? figures->instance_quads : figures->missing_quads).push_back(k != 0 ? k : v);
    missing_count += k == 0;
  }
  if (missing_count == 0) {
    std::fprintf(out, "instance quads:%s\n", numbers.c_str());
  } else {
    std::fprintf(out, "instance quads: none: %s%s %s not in the reduced instance\n",
                 missing_count == 1 ? "quad" : "quads", missing.c_str(), missing_count == 1 ? "is" : "are");
  }
}

void PrintCertificate(std::FILE* out, int32_t penalty, int32_t bound, FoldFigures* figures) {
  // The negated bound, as "0" rather than "-0" for a model without couplings.
  char limit[16] = "0";
  if (bound != 0) std::snprintf(limit, sizeof limit, "-%d", bound);
  figures->has_certificate = true;
  figures->certified = PenaltyCertifies(penalty, bound);
  figures->bound = bound;
  if (figures->certified) {
    std::fprintf(out, "certified: yes (penalty %d <= %s)\n", penalty, limit);
  } else {
    std::fprintf(out,
                 "certified: no (penalty %d > %s): best conflict-free selection only; "
                 "a selection with conflicts may score higher\n",
                 penalty, limit);
  }
}

void PrintSolutionAssessment(std::FILE* out, const QuadModel& model, const uint8_t* chosen, int64_t value,
                             int64_t optimum, int64_t conflict_count, FoldFigures* figures) {
  figures->has_assessment = true;
  std::fprintf(out, "value: %" PRId64 " optimum: %" PRId64 " ratio: ", value, optimum);
  if (optimum == 0) {
    std::fputs("-\n", out);
  } else {
    figures->ratio = {true, static_cast<double>(value) / static_cast<double>(optimum)};
    std::fprintf(out, "%.4f\n", figures->ratio.value);
  }
  std::fprintf(out, "conflicts: %" PRId64 "\n", conflict_count);
  if (conflict_count == 0) return;
  figures->conflicts = ListSelectionConflicts(model, chosen);
  for (const QuadCouple& couple : figures->conflicts) {
    std::fprintf(out, "conflict: %d %d\n", couple.l, couple.m);
  }
}
