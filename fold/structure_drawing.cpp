#include "fold/structure_drawing.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/failure.h"
#include "core/whole_file.h"
#include "fold/external_program.h"

namespace {

constexpr const char* kVarnaClass = "fr.orsay.lri.varna.applications.VARNAcmd";
constexpr const char* kVarnaInstall =
    "install them (Debian: apt-get install varna default-jre-headless), or set RNAQUBO_VARNA_JAR to "
    "VARNA's jar";
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
    const bool continues = std::binary_search(pairs.begin(), pairs.end(), outer, [](const BasePair& a, const BasePair& b) {
      return a.i != b.i ? a.i < b.i : a.j < b.j;
    });
    if (!continues) helices.push_back(pair);
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
  std::sort(laid_out.begin(), laid_out.end(),
            [](const BasePair& a, const BasePair& b) { return a.i != b.i ? a.i < b.i : a.j < b.j; });
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
  const int status = RunProgram(arguments, &messages);
  std::string document;
  if (status != 0 || !ReadWholeFile(output.c_str(), &document)) {
    const std::string reason = status < 0    ? messages
                               : status != 0 ? "exit status " + std::to_string(status)
                                             : "no picture written";
    const std::string said = FirstLine(messages);
    throw Failure(FailureKind::kFile, "VARNA failed: " + reason + (status > 0 && !said.empty() ? ": " + said : ""));
  }
  const std::string body = VarnaBody(document, "VARNA");
  const Extent extent = MeasureVarnaBody(body);
  if (extent.left > extent.right || extent.top > extent.bottom) {
    throw Failure(FailureKind::kFile, "VARNA failed: its picture is empty");
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
  const int status = RunProgram(arguments, &messages);
  std::string bytes;
  if (status != 0 || !ReadWholeFile(output.c_str(), &bytes) || bytes.empty()) {
    const std::string said = FirstLine(messages);
    throw Failure(FailureKind::kFile, "rsvg-convert failed" +
                                          (status != 0 ? ": exit status " + std::to_string(status) : std::string()) +
                                          (said.empty() ? std::string() : ": " + said));
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
