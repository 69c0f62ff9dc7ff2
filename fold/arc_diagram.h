// Arc diagrams of a structure as SVG: the sequence along a horizontal axis, one arc
// per base pair of the structure above it and, when a reference is known, one arc
// per reference pair below it, coloured by whether both structures have the pair.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fold/reference_structure.h"
#include "output/output_file.h"

// Arc colours (SVG colour values).
constexpr const char* kArcColourBoth = "#1f77b4";       // in the structure and the reference
constexpr const char* kArcColourExtra = "#ff7f0e";      // in the structure only
constexpr const char* kArcColourMissed = "#2ca02c";     // in the reference only
constexpr const char* kArcColourConflict = "#d62728";   // shares a position with, or crosses, another pair
constexpr const char* kArcColourStructure = "#1f77b4";  // any pair when no reference is given

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
  std::string title;                    // free text (escaped when written), e.g. the sequence name
  int64_t value;                        // the model's value of the structure, shown in the legend
};

// The SVG document of the diagram. When some pairs conflict (FlagConflictingPairs),
// the title says "not a secondary structure" and those pairs are drawn in
// kArcColourConflict. Positions are labelled at 1 and every 10 (every 20, 50, 100,
// ... when the bases are too close for that); letters are shown while they fit.
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

// text with &, <, >, " and ' replaced by XML character references, and control
// characters other than tab and line end (not allowed in XML) by '?'.
std::string EscapeXml(const std::string& text);
