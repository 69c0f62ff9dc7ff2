#include "tools/rnaqubo-fold/json_report.h"

// Set by the build: 1 when nlohmann-json was found.
#ifndef RNAQUBO_WITH_JSON
#define RNAQUBO_WITH_JSON 0
#endif
#if RNAQUBO_WITH_JSON
#include <nlohmann/json.hpp>
#endif

#include "core/failure.h"
#include "formats/text_output.h"

bool JsonReportAvailable() { return RNAQUBO_WITH_JSON != 0; }

#if RNAQUBO_WITH_JSON
namespace {

using Json = nlohmann::ordered_json;

Json PairList(const std::vector<BasePair>& pairs) {
  Json list = Json::array();
  for (const BasePair& pair : pairs) list.push_back({pair.i, pair.j});
  return list;
}

Json ScoreObject(const PairScores& scores) {
  return Json{{"sensitivity", scores.sensitivity}, {"ppv", scores.ppv},        {"f1", scores.f1},
              {"true_pairs", scores.true_pairs},   {"predicted_pairs", scores.predicted_pairs},
              {"reference_pairs", scores.reference_pairs}};
}

Json RatioValue(const RatioFigure& ratio) { return ratio.defined ? Json(ratio.value) : Json(nullptr); }

}  // namespace
#endif

void GatherModelFigures(const QuadModel& model, int32_t min_distance, int32_t pair_count, FoldFigures* figures) {
  figures->sequence.assign(model.buffer + 1, static_cast<size_t>(model.n));
  figures->min_distance = min_distance;
  figures->add_quads = model.add_quads;
  figures->penalty = model.penalty;
  figures->pair_count = pair_count;
  figures->quad_count = model.quad_count;
}

void GatherSelectionFigures(const QuadModel& model, const uint8_t* chosen, const std::string& structure,
                            int64_t value, int64_t conflict_count, FoldFigures* figures) {
  figures->structure = structure;
  figures->value = value;
  figures->conflict_count = conflict_count;
  figures->quads.clear();
  for (int32_t v = 1; v <= model.quad_count; ++v) {
    if (chosen[v] != 0) figures->quads.push_back(v);
  }
}

#if RNAQUBO_WITH_JSON
std::string FormatFoldJson(const FoldFigures& figures) {
  Json report;
  report["sequence"] = figures.sequence;
  report["model"] = {{"length", figures.sequence.size()}, {"min_distance", figures.min_distance},
                     {"add_quads", figures.add_quads},    {"penalty", figures.penalty},
                     {"pairs", figures.pair_count},       {"quads", figures.quad_count}};
  report["structure"] = figures.conflict_count == 0 ? Json(figures.structure) : Json(nullptr);
  report["value"] = figures.value;
  report["quads"] = figures.quads;
  if (figures.has_instance_quads) {
    report["instance_quads"] = figures.missing_quads.empty() ? Json(figures.instance_quads) : Json(nullptr);
    if (!figures.missing_quads.empty()) report["quads_not_in_instance"] = figures.missing_quads;
  }
  report["optimum"] = figures.optimum;
  if (figures.has_certificate) {
    report["certified"] = figures.certified;
    report["bound"] = figures.bound;
  }
  if (figures.has_assessment) {
    report["ratio"] = RatioValue(figures.ratio);
    report["conflicts"] = figures.conflict_count;
    Json couples = Json::array();
    for (const QuadCouple& couple : figures.conflicts) couples.push_back({couple.l, couple.m});
    report["conflicting_couples"] = couples;
  }
  if (figures.against_optimum.given) report["against_optimum"] = ScoreObject(figures.against_optimum.scores);
  if (figures.has_unrepresented) {
    report["unrepresented"] = {{"lone", PairList(figures.lone)},
                               {"non_canonical", PairList(figures.mismatched)},
                               {"out_of_range", PairList(figures.out_of_range)},
                               {"pseudoknotted", PairList(figures.pseudoknotted)}};
  }
  if (figures.against_reference.given) {
    Json reference = ScoreObject(figures.against_reference.scores);
    reference["value"] = figures.reference_value;
    reference["ratio"] = RatioValue(figures.reference_ratio);
    report["reference"] = reference;
  }
  if (figures.has_subopt) {
    report["optima"] = {{"count", figures.optima_count}, {"saturated", figures.optima_saturated}};
    report["subopt"] = {{"delta", figures.subopt_delta},   {"optimum", figures.subopt_optimum},
                        {"count", figures.subopt_count},   {"exact", figures.subopt_exact},
                        {"listed", figures.subopt_listed}};
  }
  if (figures.has_reduced) {
    report["reduced"] = {{"delta", figures.reduce_delta},
                         {"optimum", figures.reduce_optimum},
                         {"kept", figures.reduced_count},
                         {"of", figures.quad_count}};
  }
  if (figures.has_ensemble) {
    report["ensemble"] = {
        {"temperature", figures.temperature}, {"log_z", figures.log_z}, {"samples", figures.sample_count}};
  }
  return report.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}
#else
std::string FormatFoldJson(const FoldFigures&) { throw Failure(FailureKind::kUsage, kJsonMissingReason); }
#endif

void WriteFoldJson(const char* path, const std::string& text, const std::vector<KeptFile>& inputs) {
  WriteTextFile(path, text, inputs);
}
