#include "structure/landscape_plot.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <map>
#include <utility>

#include "structure/arc_diagram.h"

namespace {

constexpr double kLeft = 70;             // x of the left end of every panel
constexpr double kHistogramWidth = 600;  // the histogram's width
constexpr double kHistogramHeight = 140;
constexpr double kBarHeight = 80;        // a full bar of the positions' shares
constexpr int64_t kMostBins = 60;

// Geometry of the panels along the sequence.
struct Axis {
  double step;          // distance between neighbouring bases
  bool letters;         // whether letters fit
  int32_t label_every;  // position label interval
};

double PositionX(const Axis& axis, int32_t p) { return kLeft + (p - 0.5) * axis.step; }

// Draws the sequence's axis at y with its letters (while they fit) and position
// labels below it; returns the y below them.
double AppendSequenceAxis(std::string* svg, const LandscapePlot& plot, const Axis& axis, double y, const char* id) {
  AppendSvgText(svg, "<line id=\"%s\" x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" stroke=\"#888888\"/>\n", id,
                kLeft, y, kLeft + plot.n * axis.step, y);
  if (axis.letters) {
    AppendSvgText(svg, "<g font-family=\"monospace\" font-size=\"%.0f\" text-anchor=\"middle\">\n",
                  std::min(12.0, axis.step));
    for (int32_t p = 1; p <= plot.n; ++p) {
      const char letter = plot.buffer[p];
      const bool plain = (letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z');
      AppendSvgText(svg, "<text x=\"%.2f\" y=\"%.2f\">%c</text>\n", PositionX(axis, p), y + 14, plain ? letter : '?');
    }
    *svg += "</g>\n";
  }
  const double labels_y = y + (axis.letters ? 29 : 18);
  *svg += "<g font-size=\"10\" text-anchor=\"middle\" fill=\"#555555\">\n";
  for (int32_t p = 1; p <= plot.n; p = p == 1 ? axis.label_every : p + axis.label_every) {
    AppendSvgText(svg, "<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" stroke=\"#555555\"/>", PositionX(axis, p),
                  y, PositionX(axis, p), y + 4);
    AppendSvgText(svg, "<text x=\"%.2f\" y=\"%.2f\">%d</text>\n", PositionX(axis, p), labels_y, p);
  }
  *svg += "</g>\n";
  return labels_y + 8;
}

// The path of an arc from i to j standing on (or hanging from) y.
void AppendArcPath(std::string* svg, const Axis& axis, double scale, int32_t i, int32_t j, double y) {
  AppendSvgText(svg, " d=\"M%.2f %.2fA%.2f %.2f 0 0 1 %.2f %.2f\"/>\n", PositionX(axis, i), y,
                (j - i) * axis.step / 2, (j - i) * scale, PositionX(axis, j), y);
}

// The height per position of span of arcs whose longest span is longest.
double ArcScale(const Axis& axis, int32_t n, int32_t longest) {
  const double cap = std::clamp(n * axis.step * 0.3, 60.0, 300.0);
  return std::min(std::max(axis.step / 2, 1.5), cap / std::max(longest, 1));
}

// A text element at (x, y) with the given attributes and escaped text.
void AppendText(std::string* svg, double x, double y, const char* attributes, const std::string& text) {
  AppendSvgText(svg, "<text x=\"%.2f\" y=\"%.2f\" %s>", x, y, attributes);
  *svg += EscapeXml(text) + "</text>\n";
}

// The histogram of the selections' values at top; returns the y below it.
double AppendHistogram(std::string* svg, const LandscapePlot& plot, double top) {
  const int64_t high = plot.optimum;
  int64_t low = plot.optimum - plot.delta;
  for (int64_t value : plot.values) low = std::min(low, value);
  const int64_t range = high - low + 1;
  const int64_t bin_width = (range + kMostBins - 1) / kMostBins;
  const int64_t bins = (range + bin_width - 1) / bin_width;
  std::vector<int64_t> counts(static_cast<size_t>(bins), 0);
  for (int64_t value : plot.values) {
    if (value >= low && value <= high) ++counts[static_cast<size_t>((value - low) / bin_width)];
  }
  const int64_t most = std::max<int64_t>(1, *std::max_element(counts.begin(), counts.end()));
  const double scale = kHistogramWidth / static_cast<double>(bins * bin_width);  // per unit of value
  const double base = top + 20 + kHistogramHeight;
  AppendText(svg, kLeft, top + 8, "font-size=\"12\" font-weight=\"bold\"",
             "values of the " + std::to_string(plot.values.size()) + " listed selections");
  AppendSvgText(svg, "<g id=\"histogram\" fill=\"%s\">\n", kArcColourBoth.value);
  for (int64_t k = 0; k < bins; ++k) {
    const int64_t count = counts[static_cast<size_t>(k)];
    const double bar = kHistogramHeight * static_cast<double>(count) / static_cast<double>(most);
    AppendSvgText(svg,
                  "<rect class=\"value-bar\" data-low=\"%" PRId64 "\" data-high=\"%" PRId64 "\" data-count=\"%" PRId64
                  "\" x=\"%.2f\" y=\"%.2f\" width=\"%.2f\" height=\"%.2f\"/>\n",
                  low + k * bin_width, std::min(high, low + (k + 1) * bin_width - 1), count,
                  kLeft + static_cast<double>(k * bin_width) * scale, base - bar,
                  std::max(0.5, static_cast<double>(bin_width) * scale - 1), bar);
  }
  *svg += "</g>\n";
  // The axes, the count at the top, the optimum and the distance's edge.
  AppendSvgText(svg,
                "<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" stroke=\"#555555\"/>"
                "<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" stroke=\"#555555\"/>\n",
                kLeft, base, kLeft + kHistogramWidth, base, kLeft, base, kLeft, base - kHistogramHeight);
  AppendText(svg, kLeft - 6, base - kHistogramHeight + 4, "font-size=\"10\" text-anchor=\"end\"",
             std::to_string(most));
  AppendText(svg, kLeft - 6, base + 4, "font-size=\"10\" text-anchor=\"end\"", "0");
  const auto value_x = [&](int64_t value) { return kLeft + (static_cast<double>(value - low) + 0.5) * scale; };
  const int64_t edge = plot.optimum - plot.delta;
  AppendSvgText(svg,
                "<line id=\"optimum-line\" x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" stroke=\"#000000\" "
                "stroke-width=\"1.5\"/>\n"
                "<line id=\"delta-line\" x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" stroke=\"%s\" "
                "stroke-width=\"1.5\" stroke-dasharray=\"5 3\"/>\n",
                value_x(high), base + 4, value_x(high), top + 14, value_x(edge), base + 4, value_x(edge), top + 14,
                kArcColourConflict.value);
  AppendText(svg, value_x(high), base + 16, "font-size=\"10\" text-anchor=\"end\"",
             "optimum " + std::to_string(high));
  AppendText(svg, value_x(edge), base + 28, "font-size=\"10\" text-anchor=\"start\"",
             "optimum - " + plot.delta_text + " = " + std::to_string(edge));
  return base + 40;
}

// The arcs of the pairs the selections hold above an axis, the letters, and the
// share of the selections pairing each position below; returns the y below.
double AppendPairing(std::string* svg, const LandscapePlot& plot, const Axis& axis, double top) {
  std::map<std::pair<int32_t, int32_t>, int64_t> held;
  std::vector<int64_t> paired(static_cast<size_t>(plot.n) + 1, 0);
  for (const std::vector<BasePair>& selection : plot.selections) {
    std::vector<uint8_t> seen(static_cast<size_t>(plot.n) + 1, 0);
    for (const BasePair& pair : SortedDistinctPairs(selection)) {
      if (pair.i < 1 || pair.j > plot.n || pair.i >= pair.j) continue;
      ++held[{pair.i, pair.j}];
      for (int32_t p : {pair.i, pair.j}) {
        if (seen[static_cast<size_t>(p)] == 0) ++paired[static_cast<size_t>(p)];
        seen[static_cast<size_t>(p)] = 1;
      }
    }
  }
  const double listed = static_cast<double>(std::max<size_t>(plot.selections.size(), 1));
  int32_t longest = 1;
  for (const auto& [pair, count] : held) longest = std::max(longest, pair.second - pair.first);
  const double scale = ArcScale(axis, plot.n, longest);
  AppendText(svg, kLeft, top + 8, "font-size=\"12\" font-weight=\"bold\"",
             "pairs held by the listed selections (darker and wider: held by more of them)");
  const double axis_y = top + 20 + longest * scale;
  // The rarest first, so that the common pairs are drawn on top.
  std::vector<std::pair<int64_t, std::pair<int32_t, int32_t>>> order;
  for (const auto& [pair, count] : held) order.push_back({count, pair});
  std::stable_sort(order.begin(), order.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  AppendSvgText(svg, "<g id=\"pair-arcs\" fill=\"none\" stroke=\"%s\">\n", kArcColourBoth.value);
  for (const auto& [count, pair] : order) {
    const double share = static_cast<double>(count) / listed;
    AppendSvgText(svg, "<path class=\"pair-arc\" data-i=\"%d\" data-j=\"%d\" data-count=\"%" PRId64
                       "\" stroke-width=\"%.2f\" stroke-opacity=\"%.3f\"",
                  pair.first, pair.second, count, std::min(axis.step * 0.5, 0.5 + 2.5 * share), 0.2 + 0.8 * share);
    AppendArcPath(svg, axis, scale, pair.first, pair.second, axis_y);
  }
  *svg += "</g>\n";
  const double below = AppendSequenceAxis(svg, plot, axis, axis_y, "pairs-axis");
  const double base = below + 26 + kBarHeight;
  AppendText(svg, kLeft, below + 14, "font-size=\"12\" font-weight=\"bold\"",
             "share of the listed selections pairing each position (a full bar: all of them)");
  AppendSvgText(svg, "<g id=\"position-bars\" fill=\"%s\">\n", kArcColourExtra.value);
  for (int32_t p = 1; p <= plot.n; ++p) {
    const int64_t count = paired[static_cast<size_t>(p)];
    const double bar = kBarHeight * static_cast<double>(count) / listed;
    AppendSvgText(svg,
                  "<rect class=\"position-bar\" data-position=\"%d\" data-count=\"%" PRId64
                  "\" x=\"%.2f\" y=\"%.2f\" width=\"%.2f\" height=\"%.2f\"/>\n",
                  p, count, kLeft + (p - 1) * axis.step, base - bar, std::max(axis.step * 0.85, 0.3), bar);
  }
  *svg += "</g>\n";
  AppendSvgText(svg, "<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" stroke=\"#dddddd\"/>\n", kLeft,
                base - kBarHeight, kLeft + plot.n * axis.step, base - kBarHeight);
  AppendText(svg, kLeft - 6, base - kBarHeight + 4, "font-size=\"10\" text-anchor=\"end\"", "all");
  return AppendSequenceAxis(svg, plot, axis, base, "positions-axis") + 10;
}

// The kept variables' arcs over the sequence; returns the y below.
double AppendKept(std::string* svg, const LandscapePlot& plot, const Axis& axis, double top) {
  int32_t longest = 1;
  for (const KeptArc& arc : plot.kept) longest = std::max(longest, arc.j - arc.i);
  const double scale = ArcScale(axis, plot.n, longest);
  AppendText(svg, kLeft, top + 8, "font-size=\"12\" font-weight=\"bold\"",
             "the " + std::to_string(plot.kept.size()) + " variables kept within " + plot.kept_delta_text + " of " +
                 std::to_string(plot.kept_optimum) + ", each the arc of its outer pair");
  const double axis_y = top + 20 + longest * scale;
  AppendSvgText(svg, "<g id=\"kept-arcs\" fill=\"none\" stroke=\"%s\" stroke-width=\"%.2f\">\n",
                kArcColourExtra.value, std::clamp(axis.step * 0.2, 0.3, 1.2));
  for (const KeptArc& arc : plot.kept) {
    if (arc.i < 1 || arc.j > plot.n || arc.i >= arc.j) continue;
    AppendSvgText(svg, "<path class=\"kept-arc\" data-variable=\"%d\" data-i=\"%d\" data-j=\"%d\"", arc.variable,
                  arc.i, arc.j);
    AppendArcPath(svg, axis, scale, arc.i, arc.j, axis_y);
  }
  *svg += "</g>\n";
  return AppendSequenceAxis(svg, plot, axis, axis_y, "kept-axis") + 10;
}

}  // namespace

std::string DrawLandscapePlot(const LandscapePlot& plot) {
  Axis axis{};
  const int32_t n = std::max<int32_t>(plot.n, 1);
  axis.step = n * 12 <= 1800 ? 12.0 : 1800.0 / n;
  axis.letters = axis.step >= 7;
  axis.label_every = PositionLabelInterval(axis.step, 40);

  // The legend: title, settings, what the panels count.
  std::vector<std::string> lines;
  if (!plot.settings.empty()) lines.push_back(plot.settings);
  if (plot.has_selections) {
    lines.push_back("subopt: " + plot.total_text + " selections within " + plot.delta_text + " of " +
                    std::to_string(plot.optimum) + "; " + std::to_string(plot.values.size()) + " listed and drawn");
  }
  if (plot.has_kept) {
    lines.push_back("reduced: " + std::to_string(plot.kept.size()) + " of " + std::to_string(plot.quad_count) +
                    " variables kept within " + plot.kept_delta_text + " of " + std::to_string(plot.kept_optimum));
  }
  const std::string title = plot.title.empty() ? "landscape" : plot.title;
  std::string body = "<g id=\"legend\">\n";
  AppendText(&body, 20, 24, "font-size=\"16\" font-weight=\"bold\"", title);
  double y = 24, width = 9.5 * static_cast<double>(title.size());
  for (const std::string& line : lines) {
    y += 18;
    AppendText(&body, 20, y, "font-size=\"12\"", line);
    width = std::max(width, 7.0 * static_cast<double>(line.size()));
  }
  body += "</g>\n";
  y += 20;
  if (plot.has_selections) {
    y = AppendHistogram(&body, plot, y);
    y = AppendPairing(&body, plot, axis, y + 10);
  }
  if (plot.has_kept) y = AppendKept(&body, plot, axis, y + 10);

  const double canvas_width =
      std::ceil(std::max({kLeft + n * axis.step + 20, kLeft + kHistogramWidth + 40, width + 40}));
  const double height = std::ceil(y + 10);
  std::string svg;
  AppendSvgStart(&svg, canvas_width, height, title);
  svg += body;
  svg += "</svg>\n";
  return svg;
}
