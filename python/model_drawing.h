// Pictures of a model's structures for the module: the arc diagram or the 2D
// drawing of rnaqubo-fold --draw, from a selection held in memory, and the
// dot plot of rnaqubo-fold --dot-plot.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "python/model_entries.h"

// A reference structure given to Model.draw: none, a dot-bracket line, or a file.
struct DrawingReference {
  enum class Kind { kNone, kDotBracket, kFile } kind = Kind::kNone;
  std::string text;  // the dot-bracket line, or the file's path
};

// Draws the structure of chosen (quad_count + 1 bytes, chosen[v] != 0 for a
// chosen variable v; nullptr for the model's optimum) into path, in layout
// ("arc" or "2d") and the format path's extension names, as rnaqubo-fold
// --draw does: titled by the reference record's name, else the model's name,
// scored against reference when given, an answer compared with the optimum.
// Throws Failure as DrawStructure and ReadReferenceStructure do.
void DrawModelStructure(const SequenceModel& model, const uint8_t* chosen, const std::string& path,
                        const DrawingReference& reference, const std::string& layout);

// Draws the dot plot of the model's ensemble at temperature into path, as
// rnaqubo-fold --ensemble T --dot-plot does: the pair probabilities, the
// optimum's pairs and the reference's when given, in the format path's
// extension names, titled title when not empty, else by the reference record's
// name, else the model's name. Throws Failure: kUsage for a temperature that is
// not a finite number above 0, kData for one too low for the model, else as
// DrawDotPlotFile and ReadReferenceStructure do.
void DrawModelDotPlot(const SequenceModel& model, double temperature, const std::string& path,
                      const DrawingReference& reference, const std::string& title);
