// Dot plots of a Boltzmann ensemble as SVG: the sequence along both axes of a
// square grid, each base pair's probability in the upper triangle as a square
// whose area is that share of its cell, and in the lower triangle the pairs of
// the optimum (filled) and of a reference (outlined).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/dot_bracket.h"

// The smallest probability a dot plot draws, as --pair-probabilities lists them.
constexpr double kSmallestDrawnProbability = 1e-6;

// One base pair (i < j, 1-based) and its probability in the ensemble.
struct PairShare {
  int32_t i;
  int32_t j;
  double probability;
};

// What a dot plot shows.
struct DotPlot {
  const char* buffer = nullptr;     // letters at positions 1..n
  int32_t n = 0;
  std::vector<PairShare> shares;    // the pairs' probabilities; those below kSmallestDrawnProbability are left out
  std::vector<BasePair> optimum;    // the optimum's pairs, drawn filled in the lower triangle
  bool has_reference = false;       // whether reference is drawn (outlined) in the lower triangle
  std::vector<BasePair> reference;  // the reference's pairs
  std::string title;                // free text (escaped when written)
  std::string settings;             // free text line under the title: the model and the temperature
};

// The SVG document of plot: a legend (title, settings, one row per kind of
// mark with its count), then the grid, cell (i, j) at row i and column j.
// Upper triangle: for each pair of probability p at least
// kSmallestDrawnProbability a square <rect class="probability" data-i data-j
// data-p> of side cell * sqrt(p), centred in its cell; the grid group carries
// the cell's size as data-cell. Lower triangle, in cell (j, i): the optimum's
// pairs as filled squares (class "optimum"), the reference's as outlines
// (class "reference"). Letters run along the top and the left while cells are
// at least 7 units wide; ticks and labels at 1 and every 10 (20, 50, ... as the
// cells shrink) are always drawn. Pairs outside 1..n are left out.
std::string DrawDotPlot(const DotPlot& plot);

// "<settings> | temperature <text>", the settings line of a dot plot.
std::string FormatEnsembleSettings(const std::string& model_settings, const std::string& temperature);

// Draws plot into path, in the format its extension names (SVG, PNG or PDF,
// as --draw picks it), written whole or not at all. Throws Failure: kUsage for
// a name without a known extension, kFile for a missing rsvg-convert or a file
// that cannot be written.
void DrawDotPlotFile(const DotPlot& plot, const std::string& path);
