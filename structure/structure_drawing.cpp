#include "structure/structure_drawing.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/failure.h"
#include "core/whole_file.h"
#include "structure/external_program.h"

namespace {

constexpr const char* kVarnaClass = "fr.orsay.lri.varna.applications.VARNAcmd";
constexpr const char* kVarnaInstall =
    "install them (Debian: apt-get install varna default-jre-headless), or set RNAQUBO_VARNA_JAR to "
    "VARNA's jar";
// How long VARNA or rsvg-convert may take for one picture before it is ended
// and the drawing fails.
constexpr double kDrawingTimeLimitSeconds = 300;
constexpr const char* kRsvgInstall = "install it (Debian: apt-get install librsvg2-bin)";

[[noreturn]] void FailMissing(const std::string& message) { throw Failure(FailureKind::kFile, message); }

std::string VarnaJar() {
  const char* jar = std::getenv("RNAQUBO_VARNA_JAR");
  return jar != nullptr && *jar != '\0' ? jar : kDefaultVarnaJar;
}

std::string LowerCase(std::string text) {
  for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return text;
}

// Panels are laid out in user units, neighbouring bases kBaseStep apart,
// letters and every other text at least kLetterSize.
constexpr double kBaseStep = 18;
constexpr double kLetterSize = 12;
constexpr double kMillimetresPerPoint = 25.4 / 72;
constexpr double kPanelGap = 30;
constexpr double kMargin = 20;

struct Point {
  double x, y;
};

// The number in attribute name (e.g. " x=\"") of element, or NaN when it has none.
double Attribute(const std::string& element, const char* name) {
  const size_t at = element.find(name);
  if (at == std::string::npos) return std::nan("");
  return std::strtod(element.c_str() + at + std::strlen(name), nullptr);
}

// The centres of the n bases in VARNA's SVG document, 5' to 3' (VARNA writes
// the n letters first, each at its baseline, a third of the font size below the
// centre). Throws Failure when they are not all there or one is not placed.
std::vector<Point> ReadVarnaBases(const std::string& document, int32_t n) {
  std::vector<Point> bases;
  for (size_t start = document.find("<text"); start != std::string::npos && static_cast<int32_t>(bases.size()) < n;
       start = document.find("<text", start + 1)) {
    const size_t end = document.find('\n', start);
    const std::string element = document.substr(start, end == std::string::npos ? end : end - start);
    const size_t close = element.rfind("</text>");
    if (close == std::string::npos || close < 2 || element[close - 2] != '>') continue;
    bases.push_back({Attribute(element, " x=\""),
                     Attribute(element, " y=\"") - Attribute(element, " font-size=\"") / 3});
  }
  if (static_cast<int32_t>(bases.size()) != n) {
    throw Failure(FailureKind::kFile, "VARNA failed: its picture has " + std::to_string(bases.size()) + " of the " +
                                          std::to_string(n) + " bases");
  }
  for (const Point& base : bases) {
    // VARNA writes NaN for what it could not place (a lone base, for one).
    if (!std::isfinite(base.x) || !std::isfinite(base.y)) {
      throw Failure(FailureKind::kFile, "VARNA failed: it could not place every base of the " + std::to_string(n) +
                                            "-base sequence");
    }
  }
  return bases;
}

// VARNA's layout by algorithm ("radiate" or "naview") of the nested pairs
// laid_out over letters: the centre of each base, scaled so that the median
// distance between neighbouring bases is kBaseStep. Throws Failure (kFile)
// when VARNA is missing or fails.
std::vector<Point> RunVarnaLayout(const std::string& letters, const std::vector<BasePair>& laid_out,
                                  const char* algorithm) {
  const int32_t n = static_cast<int32_t>(letters.size());
  std::string brackets(letters.size(), '.');
  for (const BasePair& pair : laid_out) {
    brackets[static_cast<size_t>(pair.i - 1)] = '(';
    brackets[static_cast<size_t>(pair.j - 1)] = ')';
  }
  ScratchDirectory scratch;
  const std::string output = scratch.File("varna.svg");
  const std::vector<std::string> arguments = {
      FindProgram("java"), "-Djava.awt.headless=true", "-cp", VarnaJar(), kVarnaClass, "-sequenceDBN", letters,
      "-structureDBN", brackets, "-o", output, "-algorithm", algorithm, "-periodNum", "0"};
  std::string messages;
  const int status = RunProgram(arguments, &messages, kDrawingTimeLimitSeconds);
  std::string document;
  if (status != 0 || !ReadWholeFile(output.c_str(), &document)) {
    const std::string reason = status < 0    ? messages
                               : status != 0 ? "exit status " + std::to_string(status)
                                             : "no picture written";
    const std::string said = FirstLine(messages);
    throw Failure(FailureKind::kFile, "VARNA failed: " + reason + (status > 0 && !said.empty() ? ": " + said : ""));
  }
  std::vector<Point> bases = ReadVarnaBases(document, n);
  std::vector<double> steps;
  for (size_t k = 1; k < bases.size(); ++k) {
    steps.push_back(std::hypot(bases[k].x - bases[k - 1].x, bases[k].y - bases[k - 1].y));
  }
  double step = kBaseStep;
  if (!steps.empty()) {
    std::nth_element(steps.begin(), steps.begin() + static_cast<std::ptrdiff_t>(steps.size() / 2), steps.end());
    step = steps[steps.size() / 2];
  }
  if (!(step > 0)) {
    throw Failure(FailureKind::kFile, "VARNA failed: it could not place every base of the " + std::to_string(n) +
                                          "-base sequence");
  }
  for (Point& base : bases) base = {base.x * kBaseStep / step, base.y * kBaseStep / step};
  return bases;
}

// The number of couples of bases, not neighbours, closer than 0.8 kBaseStep:
// letters on letters, where parts of a layout run into each other.
size_t CountCrowdedBases(const std::vector<Point>& bases) {
  size_t crowded = 0;
  const double limit = 0.8 * kBaseStep;
  for (size_t a = 0; a < bases.size(); ++a) {
    for (size_t b = a + 2; b < bases.size(); ++b) {
      crowded += std::fabs(bases[a].x - bases[b].x) < limit && std::fabs(bases[a].y - bases[b].y) < limit &&
                         std::hypot(bases[a].x - bases[b].x, bases[a].y - bases[b].y) < limit
                     ? 1
                     : 0;
    }
  }
  return crowded;
}

// The layout of a panel: VARNA's radiate, which keeps every helix a straight
// ladder and the loops round and is the more compact; where its parts run into
// each other (a large RNA: radiate does not move them apart), naview's when
// that crowds fewer bases.
std::vector<Point> LayOutBases(const std::string& letters, const std::vector<BasePair>& laid_out) {
  std::vector<Point> bases = RunVarnaLayout(letters, laid_out, "radiate");
  const size_t crowded = CountCrowdedBases(bases);
  if (crowded == 0) return bases;
  std::vector<Point> other = RunVarnaLayout(letters, laid_out, "naview");
  return CountCrowdedBases(other) < crowded ? other : bases;
}

// The pairs of sorted (in PairBefore order, distinct) that VARNA can lay
// out: taken helix by helix, the longest helices first (ties 5' first), each
// pair unless it shares a position with, or crosses, one taken before it.
std::vector<BasePair> SelectNestedPairs(const std::vector<BasePair>& sorted) {
  std::vector<std::pair<int32_t, size_t>> order;  // (-length of the pair's helix, index)
  for (size_t k = 0; k < sorted.size(); ++k) {
    int32_t length = 1;
    for (int32_t d = 1; ContainsPair(sorted, {sorted[k].i + d, sorted[k].j - d}); ++d) ++length;
    for (int32_t d = 1; ContainsPair(sorted, {sorted[k].i - d, sorted[k].j + d}); ++d) ++length;
    order.emplace_back(-length, k);
  }
  std::sort(order.begin(), order.end());
  std::vector<BasePair> nested;
  for (const auto& [negated_length, k] : order) {
    const BasePair& pair = sorted[k];
    bool fits = true;
    for (const BasePair& taken : nested) {
      const bool shares = taken.i == pair.i || taken.i == pair.j || taken.j == pair.i || taken.j == pair.j;
      const bool crosses = (taken.i < pair.i && pair.i < taken.j && taken.j < pair.j) ||
                           (pair.i < taken.i && taken.i < pair.j && pair.j < taken.j);
      if (shares || crosses) {
        fits = false;
        break;
      }
    }
    if (fits) nested.push_back(pair);
  }
  std::sort(nested.begin(), nested.end(), PairBefore);
  return nested;
}

// A pair as a panel draws it: in colour.
struct StyledPair {
  BasePair pair;
  const PairColour* colour;
};

// One 2D panel: its SVG elements and the box they cover.
struct Panel {
  std::string svg;
  double left = 1e300, top = 1e300, right = -1e300, bottom = -1e300;
};

void Cover(Panel* panel, double x, double y, double half_width, double half_height) {
  panel->left = std::min(panel->left, x - half_width);
  panel->right = std::max(panel->right, x + half_width);
  panel->top = std::min(panel->top, y - half_height);
  panel->bottom = std::max(panel->bottom, y + half_height);
}

// The distance from spot to the nearest of bases.
double MeasureClearance(const std::vector<Point>& bases, Point spot) {
  double nearest = 1e300;
  for (const Point& base : bases) nearest = std::min(nearest, std::hypot(base.x - spot.x, base.y - spot.y));
  return nearest;
}

// Of the unit vectors +-(dx, dy) rotated a quarter turn, the one whose spot at
// distance reach from from has more room.
Point ChooseRoomierNormal(const std::vector<Point>& bases, Point from, double dx, double dy, double reach) {
  const double length = std::hypot(dx, dy);
  const Point normal = length > 0 ? Point{-dy / length, dx / length} : Point{0, -1};
  const double plus = MeasureClearance(bases, {from.x + reach * normal.x, from.y + reach * normal.y});
  const double minus = MeasureClearance(bases, {from.x - reach * normal.x, from.y - reach * normal.y});
  return plus >= minus ? normal : Point{-normal.x, -normal.y};
}

// A line from a to b, shortened by trim at each end; nothing when it would vanish.
void AppendTrimmedLine(std::string* svg, Point a, Point b, double trim, const std::string& attributes,
                       const std::string& inside) {
  const double length = std::hypot(b.x - a.x, b.y - a.y);
  if (length <= 2 * trim) return;
  const double ux = (b.x - a.x) / length, uy = (b.y - a.y) / length;
  char text[200];
  std::snprintf(text, sizeof text, "<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" ", a.x + trim * ux,
                a.y + trim * uy, b.x - trim * ux, b.y - trim * uy);
  *svg += text + attributes + (inside.empty() ? "/>\n" : ">" + inside + "</line>\n");
}

// Appends a text of kLetterSize centred at spot.
void AppendCentredText(Panel* panel, Point spot, const char* class_name, const std::string& text,
                       const char* extra) {
  char element[240];
  std::snprintf(element, sizeof element,
                "<text class=\"%s\" x=\"%.2f\" y=\"%.2f\" font-size=\"%.0f\" text-anchor=\"middle\"%s>", class_name,
                spot.x, spot.y + kLetterSize / 3, kLetterSize, extra);
  panel->svg += element + EscapeXml(text) + "</text>\n";
  Cover(panel, spot.x, spot.y, 0.35 * kLetterSize * static_cast<double>(text.size()), 0.5 * kLetterSize);
}

// The panel of one structure over the letters, laid out by VARNA over its
// nested pairs laid_out: the backbone, every pair of pairs as a line in its
// colour (titled "i-j"), the letters, positions 1, every 10 and n, and the
// helices of laid_out numbered from 5' to 3' beside them.
Panel DrawPanel(const std::string& letters, const std::vector<BasePair>& laid_out,
                const std::vector<StyledPair>& pairs) {
  const std::vector<Point> bases = LayOutBases(letters, laid_out);
  const int32_t n = static_cast<int32_t>(bases.size());
  const double trim = 0.42 * kBaseStep;
  Panel panel;
  panel.svg += "<g class=\"backbone\" stroke=\"#999999\" stroke-width=\"1\">\n";
  for (int32_t k = 1; k < n; ++k) {
    AppendTrimmedLine(&panel.svg, bases[static_cast<size_t>(k - 1)], bases[static_cast<size_t>(k)], trim, "", "");
  }
  panel.svg += "</g>\n<g class=\"pairs\" stroke-width=\"2\">\n";
  for (const StyledPair& styled : pairs) {
    const Point a = bases[static_cast<size_t>(styled.pair.i - 1)], b = bases[static_cast<size_t>(styled.pair.j - 1)];
    AppendTrimmedLine(&panel.svg, a, b, trim, std::string("class=\"pair\" stroke=\"") + styled.colour->value + "\"",
                      "<title>" + std::to_string(styled.pair.i) + "-" + std::to_string(styled.pair.j) + "</title>");
  }
  panel.svg += "</g>\n";
  for (int32_t k = 0; k < n; ++k) {
    AppendCentredText(&panel, bases[static_cast<size_t>(k)], "base", std::string(1, letters[static_cast<size_t>(k)]),
                      "");
  }
  std::vector<Point> labels;
  for (int32_t p = 1; p <= n; ++p) {
    if (p != 1 && p != n && p % 10 != 0) continue;
    const Point base = bases[static_cast<size_t>(p - 1)];
    const Point before = bases[static_cast<size_t>(std::max(p - 2, 0))];
    const Point after = bases[static_cast<size_t>(std::min(p, n - 1))];
    const Point out = ChooseRoomierNormal(bases, base, after.x - before.x, after.y - before.y, kBaseStep);
    const Point tick_from = {base.x + 0.45 * kBaseStep * out.x, base.y + 0.45 * kBaseStep * out.y};
    const Point tick_to = {base.x + 0.75 * kBaseStep * out.x, base.y + 0.75 * kBaseStep * out.y};
    AppendTrimmedLine(&panel.svg, tick_from, tick_to, 0, "class=\"tick\" stroke=\"#555555\" stroke-width=\"1\"", "");
    const std::string label = std::to_string(p);
    // Past the tick by half the label's extent along out.
    const double reach =
        0.75 * kBaseStep + 0.3 * kLetterSize * (1 + static_cast<double>(label.size()) * std::fabs(out.x));
    const Point spot = {base.x + (reach + 2) * out.x, base.y + (reach + 2) * out.y};
    AppendCentredText(&panel, spot, "position", label, " fill=\"#555555\"");
    labels.push_back(spot);
  }
  // Each helix's number beside it, on the side with more room from the
  // bases and the labels placed before it.
  std::vector<Point> taken = bases;
  taken.insert(taken.end(), labels.begin(), labels.end());
  const std::vector<BasePair> helices = ListHelices(laid_out);
  for (size_t k = 0; k < helices.size(); ++k) {
    Point best = {0, 0};
    double best_room = -1;
    for (BasePair rung = helices[k]; ContainsPair(laid_out, rung); rung = {rung.i + 1, rung.j - 1}) {
      const Point a = bases[static_cast<size_t>(rung.i - 1)], b = bases[static_cast<size_t>(rung.j - 1)];
      const double length = std::hypot(b.x - a.x, b.y - a.y);
      if (!(length > 0)) continue;
      const Point along = {(b.x - a.x) / length, (b.y - a.y) / length};
      const double reach = 0.9 * kBaseStep;
      for (const Point spot : {Point{a.x - reach * along.x, a.y - reach * along.y},
                               Point{b.x + reach * along.x, b.y + reach * along.y}}) {
        const double room = MeasureClearance(taken, spot);
        if (room > best_room) best_room = room, best = spot;
      }
    }
    if (best_room < 0) continue;
    AppendCentredText(&panel, best, "helix", std::to_string(k + 1), " font-weight=\"bold\"");
    taken.push_back(best);
  }
  for (const Point& base : bases) Cover(&panel, base.x, base.y, 0.5 * kLetterSize, 0.5 * kLetterSize);
  return panel;
}

}  // namespace

DrawingLayout ParseDrawingLayout(const std::string& text) {
  if (text == "arc") return DrawingLayout::kArc;
  if (text == "2d") return DrawingLayout::k2d;
  throw Failure(FailureKind::kUsage, "unknown layout: " + text + " (arc or 2d)");
}

DrawingFormat DrawingFormatOf(const std::string& path) {
  const size_t dot = path.find_last_of("./");
  const std::string extension = dot == std::string::npos || path[dot] != '.' ? "" : LowerCase(path.substr(dot));
  if (extension == ".svg") return DrawingFormat::kSvg;
  if (extension == ".png") return DrawingFormat::kPng;
  if (extension == ".pdf") return DrawingFormat::kPdf;
  throw Failure(FailureKind::kUsage,
                path + ": cannot tell the picture's format: the name must end in .svg, .png or .pdf");
}

void CheckDrawingPrograms(DrawingLayout layout, DrawingFormat format) {
  if (layout == DrawingLayout::k2d) {
    if (FindProgram("java").empty()) {
      FailMissing(std::string("2D drawings need Java and VARNA: no java on PATH; ") + kVarnaInstall);
    }
    const std::string jar = VarnaJar();
    if (access(jar.c_str(), R_OK) != 0) {
      FailMissing("2D drawings need Java and VARNA: " + jar + ": " + std::strerror(errno) + "; " + kVarnaInstall);
    }
  }
  if (format != DrawingFormat::kSvg && FindProgram("rsvg-convert").empty()) {
    FailMissing(std::string("PNG and PDF pictures need rsvg-convert: no rsvg-convert on PATH; ") + kRsvgInstall);
  }
}

std::vector<BasePair> ListHelices(const std::vector<BasePair>& pairs) {
  std::vector<BasePair> helices;
  for (const BasePair& pair : pairs) {
    const BasePair outer{pair.i - 1, pair.j + 1};
    if (!ContainsPair(pairs, outer)) helices.push_back(pair);
  }
  return helices;
}

std::string Draw2dStructure(const ArcDiagram& diagram) {
  CheckDrawingPrograms(DrawingLayout::k2d, DrawingFormat::kSvg);
  const PairClasses classes = ClassifyPairs(diagram);
  const int32_t n = std::max<int32_t>(diagram.n, 1);
  std::string letters(static_cast<size_t>(n), 'N');
  for (int32_t p = 1; p <= diagram.n; ++p) {
    const char letter = diagram.buffer[p];
    const bool plain = (letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z');
    letters[static_cast<size_t>(p - 1)] = plain ? letter : 'N';
  }
  // Each panel lays out as many of its structure's pairs as nest (VARNA
  // draws no others) and draws the rest over them: the pairs in conflict of
  // a selection that is no secondary structure, a pseudoknot of the
  // reference. Each pair is coloured by whether the other structure has it.
  std::vector<BasePair> structure = classes.both;
  structure.insert(structure.end(), classes.extra.begin(), classes.extra.end());
  structure.insert(structure.end(), classes.conflicting.begin(), classes.conflicting.end());
  std::sort(structure.begin(), structure.end(), PairBefore);
  const std::vector<BasePair> laid_out = SelectNestedPairs(structure);
  std::vector<StyledPair> structure_pairs;
  const PairColour& both = diagram.has_reference ? kArcColourBoth : kArcColourStructure;
  for (const BasePair& pair : classes.both) structure_pairs.push_back({pair, &both});
  for (const BasePair& pair : classes.extra) structure_pairs.push_back({pair, &kArcColourExtra});
  for (const BasePair& pair : classes.conflicting) structure_pairs.push_back({pair, &kArcColourConflict});
  std::vector<Panel> panels = {DrawPanel(letters, laid_out, structure_pairs)};
  if (diagram.has_reference) {
    std::vector<BasePair> reference = classes.below_both;
    reference.insert(reference.end(), classes.missed.begin(), classes.missed.end());
    std::sort(reference.begin(), reference.end(), PairBefore);
    std::vector<StyledPair> reference_pairs;
    for (const BasePair& pair : classes.below_both) reference_pairs.push_back({pair, &kArcColourBoth});
    for (const BasePair& pair : classes.missed) reference_pairs.push_back({pair, &kArcColourMissed});
    panels.push_back(DrawPanel(letters, SelectNestedPairs(reference), reference_pairs));
  }

  std::string legend;
  const auto [legend_width, legend_height] = AppendDrawingLegend(&legend, diagram, classes, kMargin);
  const bool titled = panels.size() > 1;
  const double panels_top = legend_height + (titled ? 40 : 14);
  double panels_width = 0, panels_height = 0;
  for (const Panel& panel : panels) {
    panels_width += panel.right - panel.left + (panels_width > 0 ? kPanelGap : 0);
    panels_height = std::max(panels_height, panel.bottom - panel.top);
  }
  const double width = std::ceil(std::max(panels_width, legend_width) + 2 * kMargin);
  const double height = std::ceil(panels_top + panels_height + kMargin);
  // The size for print: the page's width, or more when the letters would be
  // smaller than kDrawingTextPoints there.
  const double millimetres_per_unit =
      std::max(kDrawingPageWidthMm / width, kDrawingTextPoints * kMillimetresPerPoint / kLetterSize);
  char text[512];
  std::snprintf(text, sizeof text,
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.1fmm\" height=\"%.1fmm\" "
                "viewBox=\"0 0 %.0f %.0f\" font-family=\"sans-serif\">\n",
                std::ceil(10 * width * millimetres_per_unit) / 10, std::ceil(10 * height * millimetres_per_unit) / 10,
                width, height);
  std::string svg = text;
  std::string title = diagram.title.empty() ? "structure" : diagram.title;
  if (!classes.conflicting.empty()) title += " (not a secondary structure)";
  svg += "<title>" + EscapeXml(title) + "</title>\n";
  svg += "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
  svg += legend;
  double x = kMargin;
  const char* names[] = {"structure", "reference"};
  for (size_t k = 0; k < panels.size(); ++k) {
    const Panel& panel = panels[k];
    if (titled) {
      std::snprintf(text, sizeof text,
                    "<text class=\"panel-title\" x=\"%.2f\" y=\"%.2f\" font-size=\"14\" font-weight=\"bold\" "
                    "text-anchor=\"middle\">%s</text>\n",
                    x + (panel.right - panel.left) / 2, panels_top - 14, names[k]);
      svg += text;
    }
    std::snprintf(text, sizeof text, "<g id=\"%s-panel\" transform=\"translate(%.2f %.2f)\">\n", names[k],
                  x - panel.left, panels_top - panel.top);
    svg += text;
    svg += panel.svg;
    svg += "</g>\n";
    x += panel.right - panel.left + kPanelGap;
  }
  svg += "</svg>\n";
  return svg;
}

std::string DrawStructureSvg(const ArcDiagram& diagram, DrawingLayout layout) {
  return layout == DrawingLayout::k2d ? Draw2dStructure(diagram) : DrawArcDiagram(diagram);
}

std::string ConvertDrawing(const std::string& svg, DrawingFormat format) {
  if (format == DrawingFormat::kSvg) return svg;
  CheckDrawingPrograms(DrawingLayout::kArc, format);
  ScratchDirectory scratch;
  const std::string input = scratch.File("picture.svg");
  const std::string output = scratch.File(format == DrawingFormat::kPng ? "picture.png" : "picture.pdf");
  std::string error;
  if (!WriteArcDiagram(input, svg, &error)) throw Failure(FailureKind::kFile, error);
  std::vector<std::string> arguments = {FindProgram("rsvg-convert"), "--format",
                                        format == DrawingFormat::kPng ? "png" : "pdf"};
  if (format == DrawingFormat::kPng) arguments.insert(arguments.end(), {"--zoom", "2"});
  arguments.insert(arguments.end(), {"--output", output, input});
  std::string messages;
  const int status = RunProgram(arguments, &messages, kDrawingTimeLimitSeconds);
  std::string bytes;
  if (status != 0 || !ReadWholeFile(output.c_str(), &bytes) || bytes.empty()) {
    const std::string said = FirstLine(messages);
    const std::string reason = status < 0    ? ": " + messages
                               : status != 0 ? ": exit status " + std::to_string(status) +
                                                   (said.empty() ? std::string() : ": " + said)
                                             : (said.empty() ? std::string() : ": " + said);
    throw Failure(FailureKind::kFile, "rsvg-convert failed" + reason);
  }
  return bytes;
}

void DrawStructure(const ArcDiagram& diagram, const std::string& path, DrawingLayout layout) {
  const DrawingFormat format = DrawingFormatOf(path);
  CheckDrawingPrograms(layout, format);
  const std::string bytes = ConvertDrawing(DrawStructureSvg(diagram, layout), format);
  std::string error;
  if (!WriteArcDiagram(path, bytes, &error)) throw Failure(FailureKind::kFile, error, path);
}
