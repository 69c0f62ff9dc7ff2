#include "python/model_drawing.h"

#include <cmath>
#include <cstdio>

#include "core/failure.h"
#include "solve/landscape.h"
#include "structure/arc_diagram.h"
#include "structure/dot_plot.h"
#include "solve/optimum.h"
#include "structure/reference_structure.h"
#include "structure/structure_drawing.h"
#include "model/quad_model.h"

namespace {

// The reference structure of a drawing, read for model.
ReferenceStructure LoadDrawingReference(const SequenceModel& model, const DrawingReference& reference) {
  if (reference.kind == DrawingReference::Kind::kFile) return ReadReferenceStructure(reference.text, model.buffer, model.n);
  if (reference.kind == DrawingReference::Kind::kDotBracket) {
    return ParseReferenceStructure("reference", reference.text.data(), reference.text.size(), model.buffer, model.n);
  }
  return ReferenceStructure{};
}

}  // namespace

void DrawModelStructure(const SequenceModel& model, const uint8_t* chosen, const std::string& path,
                        const DrawingReference& reference, const std::string& layout) {
  const DrawingLayout drawing_layout = ParseDrawingLayout(layout);
  // Refused before the search: a name without a known extension, a missing program.
  CheckDrawingPrograms(drawing_layout, DrawingFormatOf(path));
  const ReferenceStructure known = LoadDrawingReference(model, reference);
  std::vector<uint8_t> best(static_cast<size_t>(model.q.quad_count) + 1);
  const int64_t optimum = FoldOptimum(model.q, best.data());
  const uint8_t* shown = chosen != nullptr ? chosen : best.data();
  ArcDiagram diagram{};
  diagram.buffer = model.buffer;
  diagram.n = model.n;
  diagram.pairs = SelectionPairs(model.q, shown);
  diagram.has_reference = reference.kind != DrawingReference::Kind::kNone;
  diagram.reference = known.pairs;
  diagram.title = !known.name.empty() ? known.name : model.name;
  diagram.settings = FormatModelSettings(model.name, model.n, model.min_distance, model.q.add_quads, model.q.penalty);
  diagram.value = chosen != nullptr ? SelectionValue(model.q, chosen, nullptr) : optimum;
  diagram.has_optimum = chosen != nullptr;
  diagram.optimum = optimum;
  DrawStructure(diagram, path, drawing_layout);
}

void DrawModelDotPlot(const SequenceModel& model, double temperature, const std::string& path,
                      const DrawingReference& reference, const std::string& title) {
  if (!(temperature > 0) || !std::isfinite(temperature)) {
    throw Failure(FailureKind::kUsage, "temperature must be a finite number above 0");
  }
  // Refused before the work: a name without a known extension, a missing program.
  CheckDrawingPrograms(DrawingLayout::kArc, DrawingFormatOf(path));
  const ReferenceStructure known = LoadDrawingReference(model, reference);
  std::vector<uint8_t> best(static_cast<size_t>(model.q.quad_count) + 1);
  RequireEnsembleTemperature(FoldOptimum(model.q, best.data()), temperature);
  const EnsembleSummary ensemble = ComputeEnsemble(model.q, temperature);
  DotPlot plot;
  plot.buffer = model.buffer;
  plot.n = model.n;
  for (const PairProbability& pair : ensemble.pairs) plot.shares.push_back({pair.i, pair.j, pair.probability});
  plot.optimum = SelectionPairs(model.q, best.data());
  plot.has_reference = reference.kind != DrawingReference::Kind::kNone;
  plot.reference = known.pairs;
  plot.title = !title.empty() ? title : !known.name.empty() ? known.name : model.name;
  char shown[32];
  std::snprintf(shown, sizeof shown, "%g", temperature);
  plot.settings = FormatEnsembleSettings(
      FormatModelSettings(model.name, model.n, model.min_distance, model.q.add_quads, model.q.penalty), shown);
  DrawDotPlotFile(plot, path);
}
