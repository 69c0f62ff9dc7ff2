// Arc diagrams of a structure as SVG: the sequence along a horizontal axis, one arc
// per base pair of the structure above it and, when a reference is known, one arc
// per reference pair below it, coloured by whether both structures have the pair.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "structure/reference_structure.h"
#include "formats/output_file.h"

// The colours of pairs, from the Okabe-Ito palette (distinct for readers with
// any common form of colour blindness): an SVG colour value and the colour's
// name, which the legend shows.
struct PairColour {
  const char* value;
  const char* name;
};
constexpr PairColour kArcColourBoth = {"#0072B2", "blue"};                // in the structure and the reference
constexpr PairColour kArcColourExtra = {"#E69F00", "orange"};             // in the structure only
constexpr PairColour kArcColourMissed = {"#CC79A7", "reddish purple"};    // in the reference only
constexpr PairColour kArcColourConflict = {"#D55E00", "vermillion"};      // shares a position with, or crosses, another pair
constexpr PairColour kArcColourStructure = {"#0072B2", "blue"};           // any pair when no reference is given

// Whether a comes before b in the order of (i, j).
bool PairBefore(const BasePair& a, const BasePair& b);

// Whether sorted (in PairBefore order) holds pair.
bool ContainsPair(const std::vector<BasePair>& sorted, const BasePair& pair);

// Flags, for each pair of pairs (i < j, positions 1..n), whether it shares a position
// with a different pair or crosses one (i < k < j < l). Returns one 0/1 flag per
// element of pairs, in order; a pair listed twice does not conflict with itself.
// Runs in O(n log n + pairs) time.
std::vector<uint8_t> FlagConflictingPairs(const std::vector<BasePair>& pairs, int32_t n);

// What a diagram shows.
struct ArcDiagram {
  const char* buffer;                   // letters at positions 1..n
  int32_t n;
  std::vector<BasePair> pairs;          // the structure's pairs (i < j), drawn above the axis
  bool has_reference;                   // whether reference is drawn below the axis and scored
  std::vector<BasePair> reference;      // the reference's pairs
  std::string title;                    // free text (escaped when written), e.g. the record's name
  std::string settings;                 // free text line under the title, e.g. FormatModelSettings
  int64_t value;                        // the model's value of the structure, shown in the legend
  bool has_optimum;                     // whether the structure is an answer compared with optimum
  int64_t optimum;                      // the model's optimum, for the answer's ratio
};

// The pairs of a diagram sorted by the colour they are drawn in; pairs with
// positions outside 1..n are left out.
struct PairClasses {
  std::vector<BasePair> both;         // the structure's pairs in the reference (all, without one)
  std::vector<BasePair> extra;        // the structure's pairs not in the reference
  std::vector<BasePair> conflicting;  // the structure's pairs flagged by FlagConflictingPairs
  std::vector<BasePair> missed;       // the reference's pairs not in the structure
  std::vector<BasePair> below_both;   // the reference's pairs in the structure
  size_t structure_pairs = 0;         // distinct pairs of the structure
  size_t reference_pairs = 0;         // distinct pairs of the reference
};

// The diagram's pairs by colour, each class sorted by (i, j), duplicates dropped.
PairClasses ClassifyPairs(const ArcDiagram& diagram);

// The line of the five model settings: "<file> | <n> bases | min. distance <d> |
// add quads <q> | penalty <p>", file as given (escaped when written); without
// "<file> | " when file is empty.
std::string FormatModelSettings(const std::string& file, int32_t n, int32_t min_distance,
                                int32_t add_quads, int32_t penalty);

// The title a drawing takes: record_name when not empty, else the last component
// of path (the whole of path when it ends in '/'), else "structure".
std::string DrawingTitle(const std::string& record_name, const std::string& path);

// Appends the legend of a drawing as an SVG group with id "legend" whose top
// left corner is at (x, 0): the title (bold; " (not a secondary structure)"
// added when pairs conflict), the settings when not empty, the value ("(the
// optimum)", or the optimum and the ratio for an answer) and the scores, then
// one row per colour in use naming the colour. Returns {width, height} of the
// legend, the width estimated from the length of its lines.
std::pair<double, double> AppendDrawingLegend(std::string* svg, const ArcDiagram& diagram,
                                              const PairClasses& classes, double x);

// The SVG document of the diagram: the legend, then the sequence along an axis,
// the structure's arcs above it labelled "this structure" and, with a reference,
// the reference's arcs below a second axis labelled "reference". Conflicting
// pairs (FlagConflictingPairs) are drawn in kArcColourConflict. Letters are
// shown while they fit; beyond that the axis carries ticks only and arcs are
// drawn thinner. Positions are labelled at 1 and every 10 (every 20, 50, 100,
// ... when the bases are too close for that). The canvas fits the arcs.
std::string DrawArcDiagram(const ArcDiagram& diagram);

// Starts the diagram file that will be named path (see StartOutputFile), refusing
// a path that names one of the kept files (the run's inputs). Returns false with
// *error "<path>: cannot write: <reason>" when it cannot be started.
bool StartArcDiagramFile(const std::string& path, const std::vector<KeptFile>& kept,
                         OutputFile* file, std::string* error);

// Writes svg into a started file and gives it its final name. Returns false with
// *error "<path>: cannot write: <reason>" on any failure; the file is then removed
// and any earlier file of that name is left untouched.
bool FinishArcDiagramFile(OutputFile* file, const std::string& svg, std::string* error);

// StartArcDiagramFile with no kept file, then FinishArcDiagramFile.
bool WriteArcDiagram(const std::string& path, const std::string& svg, std::string* error);

// Appends printf-formatted text (at most 511 bytes of it) to out: the one way
// the pictures write their SVG elements.
void AppendSvgText(std::string* out, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Appends the start of an SVG document of width x height units: the XML
// declaration, the <svg> element, the <title> (title escaped) and a white
// background.
void AppendSvgStart(std::string* svg, double width, double height, const std::string& title);

// The interval of the position labels along an axis whose positions are step
// apart: 10, 20, 50, 100, ... the first at least gap apart.
int32_t PositionLabelInterval(double step, double gap);

// text with &, <, >, " and ' replaced by XML character references, and control
// characters other than tab and line end (not allowed in XML) by '?'.
std::string EscapeXml(const std::string& text);
