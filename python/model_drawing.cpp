#include "python/model_drawing.h"

#include "structure/arc_diagram.h"
#include "solve/optimum.h"
#include "structure/reference_structure.h"
#include "structure/structure_drawing.h"
#include "model/quad_model.h"

void DrawModelStructure(const SequenceModel& model, const uint8_t* chosen, const std::string& path,
                        const DrawingReference& reference, const std::string& layout) {
  const DrawingLayout drawing_layout = ParseDrawingLayout(layout);
  // Refused before the search: a name without a known extension, a missing program.
  CheckDrawingPrograms(drawing_layout, DrawingFormatOf(path));
  ReferenceStructure known;
  if (reference.kind == DrawingReference::Kind::kFile) {
    known = ReadReferenceStructure(reference.text, model.buffer, model.n);
  } else if (reference.kind == DrawingReference::Kind::kDotBracket) {
    known = ParseReferenceStructure("reference", reference.text.data(), reference.text.size(), model.buffer, model.n);
  }
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
