#include "solve/reduction.h"

#include <string>

#include "core/failure.h"
#include "core/shown_text.h"

namespace {

[[noreturn]] void FailData(const std::string& path, const std::string& what) {
  throw Failure(FailureKind::kData, ShowText(path) + ": instance file: " + what);
}

}  // namespace

KeptVariables ReduceModel(const QuadModel& model, const QuadMarginals& marginals, int64_t delta) {
  std::vector<uint8_t> keep(static_cast<size_t>(model.quad_count) + 1, 0);
  for (int32_t v = 1; v <= model.quad_count; ++v) keep[v] = marginals.best_with[v] >= marginals.optimum - delta;
  return MakeKeptVariables(model, keep);
}

KeptVariables RebuildInstanceVariables(const std::string& path, const InstanceSettings& instance,
                                       const QuadModel& model, std::optional<QuadMarginals>* marginals) {
  const bool reduced = !instance.reduce.empty();
  const int32_t recorded = reduced ? instance.original_count : instance.quad_count;
  if (model.quad_count != recorded) {
    FailData(path, std::string(reduced ? "reduced: " : "variables: ") + std::to_string(recorded) +
                       " recorded, but its sequence has " + std::to_string(model.quad_count));
  }
  if (!reduced) return KeptVariables{};
  if (!*marginals) *marginals = FindBestWith(model);
  KeptVariables kept =
      ReduceModel(model, **marginals, ResolveDistance(instance.reduce_distance, (*marginals)->optimum));
  const size_t count = kept.original.size() - 1;
  if (count != static_cast<size_t>(instance.quad_count)) {
    FailData(path, "reduced: " + std::to_string(instance.quad_count) + " of " + std::to_string(model.quad_count) +
                       " recorded, but the model reduced at " + ShowText(instance.reduce) + " keeps " +
                       std::to_string(count));
  }
  return kept;
}
