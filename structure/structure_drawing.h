// Pictures of a structure in the forms people publish: the arc diagram, or a 2D
// drawing laid out by VARNA (run headless on Java), as SVG, PNG or PDF (PNG and
// PDF converted from the SVG by rsvg-convert). Both layouts share the legend
// and the colours of the arc diagram (structure/arc_diagram.h). The 2D drawing
// is sized for print: kDrawingPageWidthMm wide, its letters at least
// kDrawingTextPoints there.
#pragma once

#include <string>

#include "structure/arc_diagram.h"

// How the structure is laid out.
enum class DrawingLayout {
  kArc,  // the arc diagram
  k2d,   // VARNA's radiate layout: stems as straight ladders, loops as circles
};

// The file format of a picture.
enum class DrawingFormat { kSvg, kPng, kPdf };

// The page width a 2D drawing is made for (a two-column figure), and the
// smallest size of its texts there.
constexpr double kDrawingPageWidthMm = 170;
constexpr double kDrawingTextPoints = 8;

// The VARNA jar used when the environment variable RNAQUBO_VARNA_JAR is unset.
constexpr const char* kDefaultVarnaJar = "/usr/share/java/varna.jar";

// The layout named "arc" or "2d"; throws Failure (kUsage) "unknown layout: <text>
// (arc or 2d)" for any other text.
DrawingLayout ParseDrawingLayout(const std::string& text);

// The format the extension of path names: ".svg", ".png" or ".pdf" in any case.
// Throws Failure (kUsage) "<path>: cannot tell the picture's format: the name
// must end in .svg, .png or .pdf" otherwise.
DrawingFormat DrawingFormatOf(const std::string& path);

// Checks that the programs the picture needs are there: for k2d java on PATH
// and the VARNA jar (RNAQUBO_VARNA_JAR, else kDefaultVarnaJar), for kPng and
// kPdf rsvg-convert on PATH. Throws Failure (kFile) saying what is missing and
// which Debian packages to install.
void CheckDrawingPrograms(DrawingLayout layout, DrawingFormat format);

// The helices of a nested set of pairs, numbered from 5' to 3': for each helix
// (a maximal run of pairs (i, j), (i + 1, j - 1), ...) its outermost pair, in
// ascending order of i. pairs must be sorted by (i, j) and free of conflicts.
std::vector<BasePair> ListHelices(const std::vector<BasePair>& pairs);

// The SVG document of the 2D drawing: the legend of the arc diagram above a
// panel "structure" and, with a reference, a panel "reference" beside it, each
// laid out by VARNA (radiate) over as many of its own pairs as nest, its other
// pairs drawn over them as straight lines. Pairs are coloured as in the arc
// diagram: in the structure's panel kArcColourBoth, kArcColourExtra and
// kArcColourConflict (kArcColourStructure without a reference), in the
// reference's kArcColourBoth and kArcColourMissed; each line carries its "i-j"
// as its title. Helices are numbered from 5' to 3' in each panel, positions 1,
// every 10 and n. The width and height are in mm: kDrawingPageWidthMm, or more
// when the texts would be smaller than kDrawingTextPoints there. Runs VARNA in
// a scratch directory; throws Failure (kFile) when it is missing or fails.
std::string Draw2dStructure(const ArcDiagram& diagram);

// The picture's SVG in layout: DrawArcDiagram or Draw2dStructure.
std::string DrawStructureSvg(const ArcDiagram& diagram, DrawingLayout layout);

// The picture's bytes in format: svg itself, or its PNG (twice the SVG's size,
// for print) or PDF through rsvg-convert. Throws Failure (kFile) when
// rsvg-convert is missing or fails.
std::string ConvertDrawing(const std::string& svg, DrawingFormat format);

// Draws diagram in layout into path, in the format its extension names,
// written atomically (the whole file or none, an earlier one left untouched
// on failure). Throws Failure: kUsage for a name without a known extension,
// kFile for a missing program or a file that cannot be written.
void DrawStructure(const ArcDiagram& diagram, const std::string& path, DrawingLayout layout);
