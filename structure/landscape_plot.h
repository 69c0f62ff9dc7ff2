// Pictures of the landscape near the optimum as SVG: how the listed
// near-optimal selections spread in value (a histogram against the optimum,
// the distance marked), how often they pair each position and with whom
// (bars and arcs along the sequence), and which variables a reduction kept
// (arcs over the sequence).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/dot_bracket.h"

// One kept variable of a reduction: its number and its outer pair.
struct KeptArc {
  int32_t variable;
  int32_t i;
  int32_t j;
};

// What a landscape picture shows: the listed selections, the kept variables,
// or both.
struct LandscapePlot {
  const char* buffer = nullptr;  // letters at positions 1..n
  int32_t n = 0;
  std::string title;             // free text (escaped when written)
  std::string settings;          // free text line under the title: the model
  bool has_selections = false;   // whether the panels of the listed selections are drawn
  int64_t optimum = 0;           // the optimum the selections are measured from
  int64_t delta = 0;             // their distance, resolved against the optimum
  std::string delta_text;        // the distance as given (such as 5%)
  std::string total_text;        // the number of selections within delta, as printed ("at least 3")
  std::vector<int64_t> values;                   // each listed selection's value
  std::vector<std::vector<BasePair>> selections; // each listed selection's pairs (i < j)
  bool has_kept = false;         // whether the panel of the kept variables is drawn
  int64_t kept_optimum = 0;      // the reduction's optimum
  std::string kept_delta_text;   // the reduction's distance as given
  int32_t quad_count = 0;        // the variables of the whole model
  std::vector<KeptArc> kept;     // the kept variables
};

// The SVG document of plot: a legend, then, for the selections, the histogram
// of their values (bars <rect class="value-bar" data-low data-high
// data-count>: the selections worth low..high; a line at the optimum and one,
// dashed, at optimum - delta), the share of the selections that pair each
// position (<rect class="position-bar" data-position data-count>, a full bar
// is every listed selection), and one arc per pair that some of them hold
// (<path class="pair-arc" data-i data-j data-count>, darker and wider the more
// hold it); for the kept variables, one arc per variable over the sequence
// (<path class="kept-arc" data-variable data-i data-j>). Letters are shown
// while they fit; position labels at 1 and every 10 (20, 50, ... when the
// bases crowd) are always drawn. Pairs outside 1..n are left out.
std::string DrawLandscapePlot(const LandscapePlot& plot);
