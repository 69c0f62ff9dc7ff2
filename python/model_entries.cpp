#include "python/model_entries.h"

#include <cstring>

#include "model/feasible_pairs.h"
#include "formats/instance_files.h"

std::unique_ptr<SequenceModel> BuildSequenceModel(const std::string& letters, int32_t min_distance,
                                                  int32_t add_quads, int32_t penalty) {
  auto model = std::make_unique<SequenceModel>();
  CurrentArena owner(&model->arena);
  try {
    model->letters = letters;
    model->n = static_cast<int32_t>(letters.size());
    model->min_distance = min_distance;
    model->buffer = AllocateSequenceBuffer(model->n);
    std::memcpy(model->buffer + 1, letters.data(), letters.size());
    const int64_t pair_count = CountFeasiblePairs(model->buffer, model->n, min_distance);
    if (pair_count > INT32_MAX) throw Failure(FailureKind::kMemory, kArrayAllocationFailure);
    model->pair_count = static_cast<int32_t>(pair_count);
    model->q = BuildQuadModel(model->buffer, model->n, min_distance, add_quads, penalty);
  } catch (const std::bad_alloc&) {
    // A table of the quad model (or a count beyond 32 bits), as the tool reports it.
    throw Failure(FailureKind::kMemory, kArrayAllocationFailure);
  }
  return model;
}

std::vector<KeptFile> SourceFiles(const SequenceModel& model) {
  if (model.source_path.empty()) return {};
  return {IdentifyKeptFile(model.source_path.c_str())};
}

void WriteModelInstance(const SequenceModel& model, InstanceKind kind, const std::string& path, bool negate,
                        bool pairwise, const KeptVariables* reduction, const std::string& reduce) {
  const bool from_file = !model.source_path.empty();
  InstanceHeader header{model.name.empty() && from_file ? RecordNameOfFile(model.source_path) : model.name,
                        from_file ? model.source_path : "-", model.min_distance};
  header.reduction = reduction;
  header.reduce = reduce;
  WriteInstance(kind, model.q, header, path, negate, pairwise, SourceFiles(model));
}
