#include "structure/arc_diagram.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>


namespace {

// Range maximum and minimum over positions 1..n in O(1) per query after an
// O(n log n) build: level k holds the extreme of each run of 2^k positions.
struct RangeExtremes {
  std::vector<std::vector<int32_t>> max_of, min_of;
};

RangeExtremes BuildRangeExtremes(const std::vector<int32_t>& max_values,
                                 const std::vector<int32_t>& min_values) {
  RangeExtremes table;
  table.max_of.push_back(max_values);
  table.min_of.push_back(min_values);
  const size_t size = max_values.size();
  for (size_t width = 1; 2 * width <= size; width *= 2) {
    const std::vector<int32_t>& max_below = table.max_of.back();
    const std::vector<int32_t>& min_below = table.min_of.back();
    std::vector<int32_t> max_level(size - 2 * width + 1), min_level(size - 2 * width + 1);
    for (size_t p = 0; p < max_level.size(); ++p) {
      max_level[p] = std::max(max_below[p], max_below[p + width]);
      min_level[p] = std::min(min_below[p], min_below[p + width]);
    }
    table.max_of.push_back(std::move(max_level));
    table.min_of.push_back(std::move(min_level));
  }
  return table;
}

// The maximum (or minimum) over indices first..last, first <= last.
int32_t RangeMax(const RangeExtremes& table, int32_t first, int32_t last) {
  const int level = 31 - __builtin_clz(static_cast<uint32_t>(last - first + 1));
  const std::vector<int32_t>& row = table.max_of[static_cast<size_t>(level)];
  return std::max(row[static_cast<size_t>(first)], row[static_cast<size_t>(last - (1 << level) + 1)]);
}

int32_t RangeMin(const RangeExtremes& table, int32_t first, int32_t last) {
  const int level = 31 - __builtin_clz(static_cast<uint32_t>(last - first + 1));
  const std::vector<int32_t>& row = table.min_of[static_cast<size_t>(level)];
  return std::min(row[static_cast<size_t>(first)], row[static_cast<size_t>(last - (1 << level) + 1)]);
}

bool SamePair(const BasePair& a, const BasePair& b) { return a.i == b.i && a.j == b.j; }

// Length in bytes of the well-formed UTF-8 character at text[k], 0 if malformed.
size_t Utf8Length(const std::string& text, size_t k) {
  const unsigned char lead = static_cast<unsigned char>(text[k]);
  size_t length;
  uint32_t code;
  if (lead < 0x80) return 1;
  if (lead >= 0xc2 && lead <= 0xdf) length = 2, code = lead & 0x1f;
  else if (lead >= 0xe0 && lead <= 0xef) length = 3, code = lead & 0x0f;
  else if (lead >= 0xf0 && lead <= 0xf4) length = 4, code = lead & 0x07;
  else return 0;
  if (k + length > text.size()) return 0;
  for (size_t m = 1; m < length; ++m) {
    const unsigned char next = static_cast<unsigned char>(text[k + m]);
    if ((next & 0xc0) != 0x80) return 0;
    code = (code << 6) | (next & 0x3f);
  }
  const uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < smallest[length] || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) return 0;
  return length;
}

// Drawing geometry shared by the parts of a diagram.
struct Layout {
  double step;          // horizontal distance between neighbouring bases
  double left;          // x of the left end of the axis
  double upper_axis;    // y of the axis the structure's arcs stand on
  double lower_axis;    // y of the axis the reference's arcs hang from
  double arc_scale;     // arc height per position of span
  double stroke;        // arc line width
  bool letters;         // whether the letters fit
  int32_t label_every;  // position label interval
};

double PositionX(const Layout& layout, int32_t p) { return layout.left + (p - 0.5) * layout.step; }

void AppendArcs(std::string* svg, const Layout& layout, const std::vector<BasePair>& pairs,
                bool above, const char* id, const PairColour& colour) {
  if (pairs.empty()) return;
  AppendSvgText(svg, "<g id=\"%s\" fill=\"none\" stroke=\"%s\" stroke-width=\"%.2f\">\n", id, colour.value,
         layout.stroke);
  const double y = above ? layout.upper_axis : layout.lower_axis;
  for (const BasePair& pair : pairs) {
    const double x1 = PositionX(layout, pair.i), x2 = PositionX(layout, pair.j);
    const double span = pair.j - pair.i;
    AppendSvgText(svg, "<path d=\"M%.2f %.2fA%.2f %.2f 0 0 %d %.2f %.2f\"/>\n", x1, y,
           span * layout.step / 2, span * layout.arc_scale, above ? 1 : 0, x2, y);
  }
  svg->append("</g>\n");
}

}  // namespace

void AppendSvgText(std::string* out, const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  const int size = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (size > 0) out->append(text, std::min(static_cast<size_t>(size), sizeof text - 1));
}

void AppendSvgStart(std::string* svg, double width, double height, const std::string& title) {
  AppendSvgText(svg,
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
                "viewBox=\"0 0 %.0f %.0f\" font-family=\"sans-serif\">\n",
                width, height, width, height);
  *svg += "<title>" + EscapeXml(title) + "</title>\n";
  *svg += "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
}

int32_t PositionLabelInterval(double step, double gap) {
  for (int32_t every : {10, 20, 50, 100, 200, 500, 1000, 2000, 5000, 10000, 20000, 50000, 100000, 200000, 500000}) {
    if (every * step >= gap) return every;
  }
  return 1000000;
}

bool PairBefore(const BasePair& a, const BasePair& b) {
  return a.i != b.i ? a.i < b.i : a.j < b.j;
}

bool ContainsPair(const std::vector<BasePair>& sorted, const BasePair& pair) {
  auto found = std::lower_bound(sorted.begin(), sorted.end(), pair, PairBefore);
  return found != sorted.end() && SamePair(*found, pair);
}

std::vector<uint8_t> FlagConflictingPairs(const std::vector<BasePair>& pairs, int32_t n) {
  std::vector<uint8_t> flags(pairs.size(), 0);
  if (n < 1) {
    std::fill(flags.begin(), flags.end(), 1);
    return flags;
  }
  if (pairs.empty()) return flags;
  const std::vector<BasePair> distinct = SortedDistinctPairs(pairs);
  const size_t size = static_cast<size_t>(n) + 2;
  std::vector<int32_t> uses(size, 0), max_end(size, 0), min_start(size, INT32_MAX);
  for (const BasePair& pair : distinct) {
    if (pair.i < 1 || pair.j > n || pair.i >= pair.j) continue;
    ++uses[static_cast<size_t>(pair.i)];
    ++uses[static_cast<size_t>(pair.j)];
    max_end[static_cast<size_t>(pair.i)] = std::max(max_end[static_cast<size_t>(pair.i)], pair.j);
    min_start[static_cast<size_t>(pair.j)] = std::min(min_start[static_cast<size_t>(pair.j)], pair.i);
  }
  const RangeExtremes extremes = BuildRangeExtremes(max_end, min_start);
  for (size_t k = 0; k < pairs.size(); ++k) {
    const BasePair& pair = pairs[k];
    if (pair.i < 1 || pair.j > n || pair.i >= pair.j) {
      flags[k] = 1;
      continue;
    }
    // Another pair at one of its positions, or a pair starting inside it that ends
    // beyond it, or a pair ending inside it that starts before it.
    bool conflict = uses[static_cast<size_t>(pair.i)] > 1 || uses[static_cast<size_t>(pair.j)] > 1;
    if (!conflict && pair.j - pair.i > 1) {
      conflict = RangeMax(extremes, pair.i + 1, pair.j - 1) > pair.j ||
                 RangeMin(extremes, pair.i + 1, pair.j - 1) < pair.i;
    }
    flags[k] = conflict ? 1 : 0;
  }
  return flags;
}

std::string EscapeXml(const std::string& text) {
  std::string escaped;
  for (size_t k = 0; k < text.size();) {
    const char c = text[k];
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += "&quot;"; break;
      case '\'': escaped += "&apos;"; break;
      default: {
        const unsigned char u = static_cast<unsigned char>(c);
        const size_t length = Utf8Length(text, k);
        if ((u < 0x20 && c != '\t' && c != '\n') || u == 0x7f || length == 0) {
          escaped += '?';
        } else {
          escaped.append(text, k, length);
          k += length;
          continue;
        }
      }
    }
    ++k;
  }
  return escaped;
}

PairClasses ClassifyPairs(const ArcDiagram& diagram) {
  const std::vector<BasePair> pairs = SortedDistinctPairs(diagram.pairs);
  const std::vector<BasePair> reference =
      diagram.has_reference ? SortedDistinctPairs(diagram.reference) : std::vector<BasePair>();
  const std::vector<uint8_t> conflicts = FlagConflictingPairs(pairs, diagram.n);
  PairClasses classes;
  classes.structure_pairs = pairs.size();
  classes.reference_pairs = reference.size();
  for (size_t k = 0; k < pairs.size(); ++k) {
    if (conflicts[k]) {
      // Pairs with positions outside 1..n cannot be placed on the axis.
      if (pairs[k].i >= 1 && pairs[k].j <= diagram.n && pairs[k].i < pairs[k].j) {
        classes.conflicting.push_back(pairs[k]);
      }
    } else if (diagram.has_reference && !ContainsPair(reference, pairs[k])) {
      classes.extra.push_back(pairs[k]);
    } else {
      classes.both.push_back(pairs[k]);
    }
  }
  for (const BasePair& pair : reference) {
    if (pair.i < 1 || pair.j > diagram.n || pair.i >= pair.j) continue;
    (ContainsPair(pairs, pair) ? classes.below_both : classes.missed).push_back(pair);
  }
  return classes;
}

std::string FormatModelSettings(const std::string& file, int32_t n, int32_t min_distance,
                                int32_t add_quads, int32_t penalty) {
  return (file.empty() ? std::string() : file + " | ") + std::to_string(n) + " bases | min. distance " + std::to_string(min_distance) +
         " | add quads " + std::to_string(add_quads) + " | penalty " + std::to_string(penalty);
}

std::string DrawingTitle(const std::string& record_name, const std::string& path) {
  if (!record_name.empty()) return record_name;
  const size_t slash = path.find_last_of('/');
  std::string base = slash == std::string::npos || slash + 1 == path.size() ? path : path.substr(slash + 1);
  return base.empty() ? "structure" : base;
}

std::pair<double, double> AppendDrawingLegend(std::string* svg, const ArcDiagram& diagram,
                                              const PairClasses& classes, double x) {
  struct LegendRow {
    PairColour colour;
    std::string text;
  };
  std::vector<LegendRow> rows;
  std::string value_text = "value: " + std::to_string(diagram.value);
  if (diagram.has_optimum) {
    value_text += " | optimum: " + std::to_string(diagram.optimum) + " | ratio: ";
    if (diagram.optimum == 0) {
      value_text += "-";
    } else {
      char ratio[32];
      std::snprintf(ratio, sizeof ratio, "%.4f",
                    static_cast<double>(diagram.value) / static_cast<double>(diagram.optimum));
      value_text += ratio;
    }
  } else {
    value_text += " (the optimum)";
  }
  auto named = [](const PairColour& colour, const std::string& text) {
    return LegendRow{colour, std::string(colour.name) + ": " + text};
  };
  if (diagram.has_reference) {
    const PairScores scores =
        ScorePairs(SortedDistinctPairs(diagram.pairs), SortedDistinctPairs(diagram.reference));
    char text[160];
    std::snprintf(text, sizeof text, " | F1: %.4f | sensitivity: %.4f | PPV: %.4f", scores.f1,
                  scores.sensitivity, scores.ppv);
    value_text += text;
    // Each row counts the pairs of its set, as the scores count them (and as
    // the reference's side of an arc diagram draws those in both); the pairs
    // that conflict are drawn in the conflict colour instead on the
    // structure's side, and each row says how many of its own those are.
    const std::vector<BasePair> reference = SortedDistinctPairs(diagram.reference);
    size_t red_in_both = 0;
    for (const BasePair& pair : classes.conflicting) red_in_both += ContainsPair(reference, pair) ? 1 : 0;
    const size_t red_only = classes.conflicting.size() - red_in_both;
    auto drawn_red = [](size_t count) {
      return count == 0 ? std::string()
                        : "; " + std::to_string(count) + " of them drawn in " + kArcColourConflict.name +
                              " as sharing a position or crossing";
    };
    rows.push_back(named(kArcColourBoth, "in both: " + std::to_string(classes.below_both.size()) + " (of " +
                                             std::to_string(classes.structure_pairs) + " in this structure, " +
                                             std::to_string(classes.reference_pairs) + " in the reference)" +
                                             drawn_red(red_in_both)));
    rows.push_back(named(kArcColourExtra, "in this structure only: " +
                                              std::to_string(classes.extra.size() + red_only) + drawn_red(red_only)));
    rows.push_back(named(kArcColourMissed, "in the reference only: " + std::to_string(classes.missed.size())));
  } else {
    rows.push_back(named(kArcColourStructure, "base pairs: " + std::to_string(classes.both.size())));
  }
  const bool valid = classes.conflicting.empty();
  if (!valid) {
    rows.push_back(named(kArcColourConflict,
                         "sharing a position or crossing: " + std::to_string(classes.conflicting.size())));
  }
  std::string title = diagram.title.empty() ? "structure" : diagram.title;
  if (!valid) title += " (not a secondary structure)";

  const double row_height = 18;
  // Widths estimated from character counts: about 0.6 em per character.
  double width = 9.5 * static_cast<double>(title.size());
  *svg += "<g id=\"legend\">\n";
  AppendSvgText(svg, "<text x=\"%.0f\" y=\"24\" font-size=\"16\" font-weight=\"bold\">", x);
  *svg += EscapeXml(title) + "</text>\n";
  double y = 24;
  for (const std::string* line : {&diagram.settings, static_cast<const std::string*>(&value_text)}) {
    if (line->empty()) continue;
    y += row_height;
    AppendSvgText(svg, "<text x=\"%.0f\" y=\"%.0f\" font-size=\"12\">", x, y);
    *svg += EscapeXml(*line) + "</text>\n";
    width = std::max(width, 7.0 * static_cast<double>(line->size()));
  }
  for (const LegendRow& row : rows) {
    y += row_height;
    AppendSvgText(svg,
           "<line x1=\"%.0f\" y1=\"%.0f\" x2=\"%.0f\" y2=\"%.0f\" stroke=\"%s\" stroke-width=\"3\"/>"
           "<text x=\"%.0f\" y=\"%.0f\" font-size=\"12\">",
           x, y - 4, x + 24, y - 4, row.colour.value, x + 32, y);
    *svg += EscapeXml(row.text) + "</text>\n";
    width = std::max(width, 32 + 7.0 * static_cast<double>(row.text.size()));
  }
  *svg += "</g>\n";
  return {width, y + 6};
}

std::string DrawArcDiagram(const ArcDiagram& diagram) {
  const int32_t n = std::max<int32_t>(diagram.n, 1);
  const PairClasses classes = ClassifyPairs(diagram);

  Layout layout{};
  layout.step = n * 12 <= 1800 ? 12.0 : 1800.0 / n;
  // Room on the left for the words that name the two sides.
  layout.left = 100;
  layout.letters = layout.step >= 7;
  // Arcs thinner than the gap between neighbouring bases stay distinct.
  layout.stroke = std::clamp(layout.step * 0.35, 0.5, 2.0);
  layout.label_every = PositionLabelInterval(layout.step, 40);
  const double axis_width = n * layout.step;

  int32_t longest_above = 0, longest_below = 0;
  for (const auto* group : {&classes.both, &classes.extra, &classes.conflicting}) {
    for (const BasePair& pair : *group) longest_above = std::max(longest_above, pair.j - pair.i);
  }
  for (const auto* group : {&classes.missed, &classes.below_both}) {
    for (const BasePair& pair : *group) longest_below = std::max(longest_below, pair.j - pair.i);
  }
  const int32_t longest_span = std::max({1, longest_above, longest_below});
  const double height_cap = std::clamp(axis_width * 0.3, 60.0, 400.0);
  // Never flatter than 1.5 units of height per position of span, so that the
  // tops of nested arcs stay apart where the bases crowd together.
  layout.arc_scale = std::min(std::max(layout.step / 2, 1.5), height_cap / longest_span);

  std::string legend;
  const auto [legend_width, legend_height] = AppendDrawingLegend(&legend, diagram, classes, 20);
  const double width = std::ceil(std::max(layout.left + axis_width + 20, 20 + legend_width));
  // The side labels sit left of the axes, at the height of the arcs they name.
  layout.upper_axis = legend_height + 14 + std::max(longest_above * layout.arc_scale, 14.0);
  const double letters_y = layout.upper_axis + 14;
  const double labels_y = layout.upper_axis + (layout.letters ? 29 : 18);
  layout.lower_axis = labels_y + 8;
  const double height = std::ceil(
      diagram.has_reference ? layout.lower_axis + std::max(longest_below * layout.arc_scale, 14.0) + 12
                            : labels_y + 10);

  std::string svg;
  svg.reserve(4096 + 64 * (diagram.pairs.size() + diagram.reference.size()) + 40 * static_cast<size_t>(n));
  AppendSvgText(&svg,
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
         "viewBox=\"0 0 %.0f %.0f\" font-family=\"sans-serif\">\n",
         width, height, width, height);
  std::string title = diagram.title.empty() ? "structure" : diagram.title;
  if (!classes.conflicting.empty()) title += " (not a secondary structure)";
  svg += "<title>" + EscapeXml(title) + "</title>\n";
  svg += "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
  svg += legend;

  // The axis (two when a reference hangs below), the words naming the sides,
  // letters or ticks, and position labels.
  const double axis_end = layout.left + axis_width;
  AppendSvgText(&svg, "<line id=\"upper-axis\" x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" "
               "stroke=\"#888888\" stroke-width=\"1\"/>\n",
         layout.left, layout.upper_axis, axis_end, layout.upper_axis);
  svg += "<g id=\"sides\" font-size=\"12\" font-style=\"italic\" text-anchor=\"end\" fill=\"#333333\">\n";
  AppendSvgText(&svg, "<text x=\"%.0f\" y=\"%.2f\">this structure</text>\n", layout.left - 8, layout.upper_axis - 4);
  if (diagram.has_reference) {
    AppendSvgText(&svg, "<text x=\"%.0f\" y=\"%.2f\">reference</text>\n", layout.left - 8, layout.lower_axis + 13);
  }
  svg += "</g>\n";
  if (diagram.has_reference) {
    AppendSvgText(&svg, "<line id=\"lower-axis\" x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" "
                 "stroke=\"#888888\" stroke-width=\"1\"/>\n",
           layout.left, layout.lower_axis, axis_end, layout.lower_axis);
  }
  if (layout.letters) {
    AppendSvgText(&svg, "<g id=\"letters\" font-family=\"monospace\" font-size=\"%.0f\" "
                 "text-anchor=\"middle\">\n",
           std::min(12.0, layout.step));
    for (int32_t p = 1; p <= diagram.n; ++p) {
      const char letter = diagram.buffer[p];
      const bool plain = (letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z');
      AppendSvgText(&svg, "<text x=\"%.2f\" y=\"%.2f\">%c</text>\n", PositionX(layout, p), letters_y,
             plain ? letter : '?');
    }
    svg += "</g>\n";
  } else {
    svg += "<g id=\"ticks\" stroke=\"#555555\" stroke-width=\"1\">\n";
    for (int32_t p = 1; p <= diagram.n; p = p == 1 ? layout.label_every : p + layout.label_every) {
      AppendSvgText(&svg, "<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\"/>\n", PositionX(layout, p),
             layout.upper_axis, PositionX(layout, p), layout.upper_axis + 5);
    }
    svg += "</g>\n";
  }
  svg += "<g id=\"labels\" font-size=\"10\" text-anchor=\"middle\" fill=\"#555555\">\n";
  for (int32_t p = 1; p <= diagram.n; p = p == 1 ? layout.label_every : p + layout.label_every) {
    AppendSvgText(&svg, "<text x=\"%.2f\" y=\"%.2f\">%d</text>\n", PositionX(layout, p), labels_y, p);
  }
  svg += "</g>\n";

  if (diagram.has_reference) {
    AppendArcs(&svg, layout, classes.extra, true, "structure-only", kArcColourExtra);
    AppendArcs(&svg, layout, classes.both, true, "structure-both", kArcColourBoth);
    AppendArcs(&svg, layout, classes.missed, false, "reference-only", kArcColourMissed);
    AppendArcs(&svg, layout, classes.below_both, false, "reference-both", kArcColourBoth);
  } else {
    AppendArcs(&svg, layout, classes.both, true, "structure", kArcColourStructure);
  }
  AppendArcs(&svg, layout, classes.conflicting, true, "structure-conflicting", kArcColourConflict);
  svg += "</svg>\n";
  return svg;
}

bool StartArcDiagramFile(const std::string& path, const std::vector<KeptFile>& kept,
                         OutputFile* file, std::string* error) {
  for (const KeptFile& input : kept) {
    if (OutputWouldReplace(path, input)) {
      *error = path + ": cannot write: " + kInputOverwriteReason;
      return false;
    }
  }
  try {
    StartOutputFile(path, nullptr, file);
  } catch (const OutputFileFailure& failure) {
    *error = path + ": cannot write: " + failure.Explanation();
    return false;
  }
  return true;
}

bool FinishArcDiagramFile(OutputFile* file, const std::string& svg, std::string* error) {
  errno = 0;
  if (!WriteOutputBytes(file, svg.data(), svg.size())) {
    const int write_error = errno != 0 ? errno : EIO;
    DiscardOutputFile(file);
    *error = file->final_name + ": cannot write: " + std::strerror(write_error);
    return false;
  }
  if (!CommitOutputFile(file)) {
    *error = file->final_name + ": cannot write: " + std::strerror(errno);
    return false;
  }
  return true;
}

bool WriteArcDiagram(const std::string& path, const std::string& svg, std::string* error) {
  OutputFile file;
  return StartArcDiagramFile(path, {}, &file, error) && FinishArcDiagramFile(&file, svg, error);
}
