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

// "(i,j):color=<colour>" for each pair, joined by ';' onto list.
void AppendStyledPairs(std::string* list, const std::vector<BasePair>& pairs, const PairColour& colour) {
  for (const BasePair& pair : pairs) {
    if (!list->empty()) *list += ';';
    list->append(1, '(').append(std::to_string(pair.i)).append(1, ',').append(std::to_string(pair.j));
    list->append("):color=").append(colour.value);
  }
}

// The extent of the drawing VARNA wrote: every coordinate attribute of its
// elements, widened by circle radii and a margin for the letters.
struct Extent {
  double left = 1e300, top = 1e300, right = -1e300, bottom = -1e300;
};

Extent MeasureVarnaBody(const std::string& body) {
  Extent extent;
  for (const char* name : {" x=\"", " x1=\"", " x2=\"", " cx=\"", " y=\"", " y1=\"", " y2=\"", " cy=\""}) {
    const bool horizontal = name[1] == 'x' || name[2] == 'x';
    for (size_t at = body.find(name); at != std::string::npos; at = body.find(name, at + 1)) {
      const double value = std::strtod(body.c_str() + at + std::strlen(name), nullptr);
      if (!std::isfinite(value)) continue;
      if (horizontal) {
        extent.left = std::min(extent.left, value);
        extent.right = std::max(extent.right, value);
      } else {
        extent.top = std::min(extent.top, value);
        extent.bottom = std::max(extent.bottom, value);
      }
    }
  }
  return extent;
}

// The elements of VARNA's SVG document, between its <svg ...> tag and </svg>.
// Throws Failure when the document is not whole.
std::string VarnaBody(const std::string& document, const std::string& what) {
  const size_t open = document.find("<svg");
  const size_t body = open == std::string::npos ? open : document.find('>', open);
  const size_t close = document.rfind("</svg>");
  if (body == std::string::npos || close == std::string::npos || close < body) {
    throw Failure(FailureKind::kFile, what + ": VARNA wrote no complete SVG document");
  }
  return document.substr(body + 1, close - body - 1);
}

// The number in attribute name (e.g. " x1=\"") of element, or NaN when it has none.
double Attribute(const std::string& element, const char* name) {
  const size_t at = element.find(name);
  if (at == std::string::npos) return std::nan("");
  return std::strtod(element.c_str() + at + std::strlen(name), nullptr);
}

// VARNA's drawing with every base-pair line recoloured by its class: each line
// that is neither backbone nor a number tick joins two bases, found as the
// letters nearest its ends (VARNA writes the n letters first, 5' to 3'). A pair
// drawn twice (a laid-out pair restyled as an auxiliary one) keeps one line.
// Throws Failure when the letters are not all there.
std::string RecolourVarnaPairs(const std::string& body, int32_t n, const PairClasses& classes) {
  std::vector<std::string> elements;
  for (size_t start = 0; start < body.size();) {
    size_t end = body.find('\n', start);
    if (end == std::string::npos) end = body.size();
    elements.push_back(body.substr(start, end - start));
    start = end + 1;
  }
  std::vector<std::pair<double, double>> bases;
  for (const std::string& element : elements) {
    if (static_cast<int32_t>(bases.size()) == n) break;
    const size_t close = element.rfind("</text>");
    if (element.compare(0, 5, "<text") != 0 || close == std::string::npos || close < 2 ||
        element[close - 2] != '>') {
      continue;
    }
    // The letter's centre: its baseline less a third of the font size.
    bases.emplace_back(Attribute(element, " x=\""),
                       Attribute(element, " y=\"") - Attribute(element, " font-size=\"") / 3);
  }
  if (static_cast<int32_t>(bases.size()) != n) {
    throw Failure(FailureKind::kFile, "VARNA failed: its picture has " + std::to_string(bases.size()) +
                                          " of the " + std::to_string(n) + " bases");
  }
  auto nearest = [&bases](double x, double y) {
    int32_t best = 0;
    double best_distance = 1e300;
    for (size_t k = 0; k < bases.size(); ++k) {
      const double distance = std::hypot(bases[k].first - x, bases[k].second - y);
      if (distance < best_distance) best_distance = distance, best = static_cast<int32_t>(k) + 1;
    }
    return best;
  };
  std::vector<BasePair> drawn;
  std::string result;
  for (const std::string& element : elements) {
    const bool pair_line = element.compare(0, 5, "<line") == 0 &&
                           element.find("stroke=\"rgb(35%, 35%, 35%)\"") == std::string::npos &&
                           element.find("stroke=\"rgb(25%, 25%, 25%)\"") == std::string::npos;
    if (!pair_line) {
      result += element + '\n';
      continue;
    }
    const double x1 = Attribute(element, " x1=\""), y1 = Attribute(element, " y1=\"");
    const double x2 = Attribute(element, " x2=\""), y2 = Attribute(element, " y2=\"");
    const int32_t a = nearest(x1, y1), b = nearest(x2, y2);
    const BasePair pair{std::min(a, b), std::max(a, b)};
    const PairColour* colour = ContainsPair(classes.conflicting, pair) ? &kArcColourConflict
                               : ContainsPair(classes.extra, pair)     ? &kArcColourExtra
                               : ContainsPair(classes.both, pair)      ? &kArcColourBoth
                               : ContainsPair(classes.missed, pair)    ? &kArcColourMissed
                                                                    : nullptr;
    if (colour == nullptr) {
      result += element + '\n';
      continue;
    }
    if (ContainsPair(drawn, pair)) continue;
    drawn.insert(std::upper_bound(drawn.begin(), drawn.end(), pair, PairBefore), pair);
    char line[400];
    std::snprintf(line, sizeof line,
                  "<line class=\"pair\" x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" stroke=\"%s\" "
                  "stroke-width=\"1.5\"/>\n",
                  x1, y1, x2, y2, colour->value);
    result += line;
  }
  return result;
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
  // VARNA lays out the conflict-free pairs; pairs in the reference keep the
  // default colour, the others are restyled as auxiliary pairs.
  std::vector<BasePair> laid_out = classes.both;
  laid_out.insert(laid_out.end(), classes.extra.begin(), classes.extra.end());
  std::sort(laid_out.begin(), laid_out.end(), PairBefore);
  const int32_t n = std::max<int32_t>(diagram.n, 1);
  std::string sequence(static_cast<size_t>(n), 'N');
  std::string brackets(static_cast<size_t>(n), '.');
  for (int32_t p = 1; p <= diagram.n; ++p) {
    const char letter = diagram.buffer[p];
    const bool plain = (letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z');
    sequence[static_cast<size_t>(p - 1)] = plain ? letter : 'N';
  }
  for (const BasePair& pair : laid_out) {
    brackets[static_cast<size_t>(pair.i - 1)] = '(';
    brackets[static_cast<size_t>(pair.j - 1)] = ')';
  }
  std::string auxiliary;
  AppendStyledPairs(&auxiliary, classes.extra, kArcColourExtra);
  AppendStyledPairs(&auxiliary, classes.missed, kArcColourMissed);
  AppendStyledPairs(&auxiliary, classes.conflicting, kArcColourConflict);
  std::string annotations;
  const std::vector<BasePair> helices = ListHelices(laid_out);
  for (size_t k = 0; k < helices.size(); ++k) {
    if (!annotations.empty()) annotations += ';';
    annotations += std::to_string(k + 1) + ":type=H,anchor=" + std::to_string(helices[k].i) +
                   ",size=12,color=#000000";
  }

  ScratchDirectory scratch;
  const std::string output = scratch.File("varna.svg");
  std::vector<std::string> arguments = {FindProgram("java"), "-Djava.awt.headless=true", "-cp", VarnaJar(),
                                        kVarnaClass, "-sequenceDBN", sequence, "-structureDBN", brackets,
                                        "-o", output, "-algorithm", "naview", "-bpStyle", "simple",
                                        "-bp", kArcColourBoth.value, "-periodNum", "10"};
  if (!auxiliary.empty()) arguments.insert(arguments.end(), {"-auxBPs", auxiliary});
  if (!annotations.empty()) arguments.insert(arguments.end(), {"-annotations", annotations});
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
  const std::string body = RecolourVarnaPairs(VarnaBody(document, "VARNA"), n, classes);
  const Extent extent = MeasureVarnaBody(body);
  // VARNA writes NaN for what it could not place (a lone base, for one).
  if (body.find("\"NaN\"") != std::string::npos || extent.left > extent.right || extent.top > extent.bottom) {
    throw Failure(FailureKind::kFile, "VARNA failed: it could not place every base of the " + std::to_string(n) +
                                          "-base sequence");
  }

  std::string legend;
  const auto [legend_width, legend_height] = AppendDrawingLegend(&legend, diagram, classes, 20);
  const double margin = 20;
  const double drawing_width = extent.right - extent.left + 2 * margin;
  const double width = std::ceil(std::max(drawing_width + 20, legend_width + 40));
  const double height = std::ceil(legend_height + 10 + extent.bottom - extent.top + 2 * margin);
  char text[512];
  std::snprintf(text, sizeof text,
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
                "viewBox=\"0 0 %.0f %.0f\" font-family=\"sans-serif\">\n",
                width, height, width, height);
  std::string svg = text;
  std::string title = diagram.title.empty() ? "structure" : diagram.title;
  if (!classes.conflicting.empty()) title += " (not a secondary structure)";
  svg += "<title>" + EscapeXml(title) + "</title>\n";
  svg += "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
  svg += legend;
  std::snprintf(text, sizeof text, "<g id=\"varna\" transform=\"translate(%.2f %.2f)\">", 10 + margin - extent.left,
                legend_height + 10 + margin - extent.top);
  svg += text;
  svg += body;
  svg += "</g>\n</svg>\n";
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
