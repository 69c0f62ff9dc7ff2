#include "structure/dot_plot.h"

#include <algorithm>
#include <cmath>

#include "core/failure.h"
#include "structure/arc_diagram.h"
#include "structure/reference_structure.h"
#include "structure/structure_drawing.h"

namespace {

constexpr const char* kProbabilityColour = "#222222";
constexpr double kGridSide = 1200;  // the grid's side once 10 units a cell no longer fit

bool Placed(int32_t i, int32_t j, int32_t n) { return i >= 1 && j <= n && i < j; }

// The pairs of pairs that can be placed on the grid, sorted and distinct.
std::vector<BasePair> PlacedPairs(const std::vector<BasePair>& pairs, int32_t n) {
  std::vector<BasePair> placed;
  for (const BasePair& pair : SortedDistinctPairs(pairs)) {
    if (Placed(pair.i, pair.j, n)) placed.push_back(pair);
  }
  return placed;
}

// The letter at p as drawn: a letter, else '?'.
char ShownLetter(const char* buffer, int32_t p) {
  const char letter = buffer[p];
  return (letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z') ? letter : '?';
}

}  // namespace

std::string FormatEnsembleSettings(const std::string& model_settings, const std::string& temperature) {
  return model_settings + " | temperature " + temperature;
}

std::string DrawDotPlot(const DotPlot& plot) {
  const int32_t n = std::max<int32_t>(plot.n, 1);
  const double cell = n * 10 <= kGridSide ? 10.0 : kGridSide / n;
  const bool letters = cell >= 7;
  const int32_t label_every = PositionLabelInterval(cell, 30);
  const std::vector<BasePair> optimum = PlacedPairs(plot.optimum, plot.n);
  const std::vector<BasePair> reference = plot.has_reference ? PlacedPairs(plot.reference, plot.n)
                                                             : std::vector<BasePair>();
  std::vector<PairShare> shares;
  for (const PairShare& share : plot.shares) {
    if (Placed(share.i, share.j, plot.n) && share.probability >= kSmallestDrawnProbability) shares.push_back(share);
  }
  size_t in_both = 0;
  for (const BasePair& pair : optimum) in_both += ContainsPair(reference, pair) ? 1 : 0;

  // The legend: title, settings, one row per kind of mark.
  struct Row {
    std::string mark;  // the sample's element, drawn at the row's left
    std::string text;
  };
  std::vector<Row> rows;
  char number[32];
  std::snprintf(number, sizeof number, "%g", kSmallestDrawnProbability);
  rows.push_back({std::string("fill=\"") + kProbabilityColour + "\"",
                  "upper triangle: pair probability as the square's area (a full cell is 1): " +
                      std::to_string(shares.size()) + " pairs from " + number});
  rows.push_back({std::string("fill=\"") + kArcColourBoth.value + "\"",
                  std::string("lower triangle, filled ") + kArcColourBoth.name +
                      ": the optimum's pairs: " + std::to_string(optimum.size())});
  if (plot.has_reference) {
    rows.push_back({std::string("fill=\"none\" stroke=\"") + kArcColourMissed.value + "\" stroke-width=\"1.5\"",
                    std::string("lower triangle, outlined ") + kArcColourMissed.name + ": the reference's pairs: " +
                        std::to_string(reference.size()) + " (" + std::to_string(in_both) +
                        " of them also the optimum's, drawn with both marks)"});
  }
  const std::string title = plot.title.empty() ? "dot plot" : plot.title;
  std::string legend = "<g id=\"legend\">\n";
  AppendSvgText(&legend, "<text x=\"20\" y=\"24\" font-size=\"16\" font-weight=\"bold\">");
  legend += EscapeXml(title) + "</text>\n";
  double y = 24, legend_width = 9.5 * static_cast<double>(title.size());
  if (!plot.settings.empty()) {
    y += 18;
    AppendSvgText(&legend, "<text x=\"20\" y=\"%.0f\" font-size=\"12\">", y);
    legend += EscapeXml(plot.settings) + "</text>\n";
    legend_width = std::max(legend_width, 7.0 * static_cast<double>(plot.settings.size()));
  }
  for (const Row& row : rows) {
    y += 18;
    AppendSvgText(&legend, "<rect x=\"21\" y=\"%.0f\" width=\"10\" height=\"10\" ", y - 10);
    legend += row.mark + "/>";
    AppendSvgText(&legend, "<text x=\"40\" y=\"%.0f\" font-size=\"12\">", y);
    legend += EscapeXml(row.text) + "</text>\n";
    legend_width = std::max(legend_width, 20 + 7.0 * static_cast<double>(row.text.size()));
  }
  legend += "</g>\n";

  // The grid: room on the left and on top for labels and letters.
  const double side = n * cell;
  const double left = letters ? 56 : 44;
  const double top = y + (letters ? 44 : 32);
  const double width = std::ceil(std::max(left + side + 20, 20 + legend_width));
  const double height = std::ceil(top + side + 20);

  std::string svg;
  svg.reserve(4096 + 160 * (shares.size() + optimum.size() + reference.size()) + 100 * static_cast<size_t>(n));
  AppendSvgStart(&svg, width, height, title);
  svg += legend;

  // Faint lines at the labelled positions, the frame and the diagonal.
  std::vector<int32_t> labelled;
  for (int32_t p = 1; p <= plot.n; p = p == 1 ? label_every : p + label_every) labelled.push_back(p);
  svg += "<g id=\"guides\" stroke=\"#dddddd\" stroke-width=\"0.5\">\n";
  for (int32_t p : labelled) {
    const double at = (p - 0.5) * cell;
    AppendSvgText(&svg, "<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\"/>", left + at, top, left + at, top + side);
    AppendSvgText(&svg, "<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\"/>\n", left, top + at, left + side,
                  top + at);
  }
  svg += "</g>\n";
  AppendSvgText(&svg,
                "<rect id=\"frame\" x=\"%.2f\" y=\"%.2f\" width=\"%.2f\" height=\"%.2f\" fill=\"none\" "
                "stroke=\"#555555\" stroke-width=\"1\"/>\n"
                "<line id=\"diagonal\" x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" stroke=\"#aaaaaa\" "
                "stroke-width=\"0.5\"/>\n",
                left, top, side, side, left, top, left + side, top + side);

  // Ticks and labels along the top and the left, letters inside them.
  svg += "<g id=\"ticks\" stroke=\"#555555\" stroke-width=\"1\">\n";
  for (int32_t p : labelled) {
    const double at = (p - 0.5) * cell;
    AppendSvgText(&svg, "<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\"/>", left + at, top - 4, left + at, top);
    AppendSvgText(&svg, "<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\"/>\n", left - 4, top + at, left,
                  top + at);
  }
  svg += "</g>\n<g id=\"labels\" font-size=\"10\" fill=\"#555555\">\n";
  const double label_gap = letters ? 16 : 6;
  for (int32_t p : labelled) {
    const double at = (p - 0.5) * cell;
    AppendSvgText(&svg, "<text x=\"%.2f\" y=\"%.2f\" text-anchor=\"middle\">%d</text>", left + at,
                  top - 4 - label_gap, p);
    AppendSvgText(&svg, "<text x=\"%.2f\" y=\"%.2f\" text-anchor=\"end\">%d</text>\n", left - 4 - label_gap,
                  top + at + 3.5, p);
  }
  svg += "</g>\n";
  if (letters) {
    AppendSvgText(&svg, "<g id=\"letters\" font-family=\"monospace\" font-size=\"%.0f\" text-anchor=\"middle\">\n",
                  std::min(12.0, cell));
    for (int32_t p = 1; p <= plot.n; ++p) {
      const double at = (p - 0.5) * cell;
      const char letter = ShownLetter(plot.buffer, p);
      AppendSvgText(&svg, "<text x=\"%.2f\" y=\"%.2f\">%c</text><text x=\"%.2f\" y=\"%.2f\">%c</text>\n", left + at,
                    top - 5, letter, left - 10, top + at + 0.35 * std::min(12.0, cell), letter);
    }
    svg += "</g>\n";
  }

  // The upper triangle: areas proportional to the probabilities.
  AppendSvgText(&svg, "<g id=\"probabilities\" data-cell=\"%.6g\" fill=\"%s\">\n", cell, kProbabilityColour);
  for (const PairShare& share : shares) {
    const double square = cell * std::sqrt(std::min(share.probability, 1.0));
    AppendSvgText(&svg,
                  "<rect class=\"probability\" data-i=\"%d\" data-j=\"%d\" data-p=\"%.17g\" x=\"%.4f\" y=\"%.4f\" "
                  "width=\"%.6g\" height=\"%.6g\"/>\n",
                  share.i, share.j, share.probability, left + (share.j - 1) * cell + (cell - square) / 2,
                  top + (share.i - 1) * cell + (cell - square) / 2, square, square);
  }
  svg += "</g>\n";

  // The lower triangle: pair (i, j) at row j, column i.
  // Small cells are filled whole, so that the optimum stays visible at a glance.
  const double filled = cell < 4 ? cell : 0.7 * cell;
  AppendSvgText(&svg, "<g id=\"optimum\" fill=\"%s\">\n", kArcColourBoth.value);
  for (const BasePair& pair : optimum) {
    AppendSvgText(&svg,
                  "<rect class=\"optimum\" data-i=\"%d\" data-j=\"%d\" x=\"%.4f\" y=\"%.4f\" width=\"%.4f\" "
                  "height=\"%.4f\"/>\n",
                  pair.i, pair.j, left + (pair.i - 1) * cell + (cell - filled) / 2,
                  top + (pair.j - 1) * cell + (cell - filled) / 2, filled, filled);
  }
  svg += "</g>\n";
  if (plot.has_reference) {
    const double stroke = std::clamp(cell * 0.12, 0.1, 1.5);
    AppendSvgText(&svg, "<g id=\"reference\" fill=\"none\" stroke=\"%s\" stroke-width=\"%.3f\">\n",
                  kArcColourMissed.value, stroke);
    for (const BasePair& pair : reference) {
      AppendSvgText(&svg,
                    "<rect class=\"reference\" data-i=\"%d\" data-j=\"%d\" x=\"%.4f\" y=\"%.4f\" width=\"%.4f\" "
                    "height=\"%.4f\"/>\n",
                    pair.i, pair.j, left + (pair.i - 1) * cell + stroke / 2, top + (pair.j - 1) * cell + stroke / 2,
                    cell - stroke, cell - stroke);
    }
    svg += "</g>\n";
  }
  svg += "</svg>\n";
  return svg;
}

void DrawDotPlotFile(const DotPlot& plot, const std::string& path) {
  const DrawingFormat format = DrawingFormatOf(path);
  CheckDrawingPrograms(DrawingLayout::kArc, format);
  const std::string bytes = ConvertDrawing(DrawDotPlot(plot), format);
  std::string error;
  if (!WriteArcDiagram(path, bytes, &error)) throw Failure(FailureKind::kFile, error, path);
}
