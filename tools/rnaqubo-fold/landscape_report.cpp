#include "tools/rnaqubo-fold/landscape_report.h"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core/command_line.h"
#include "core/failure.h"
#include "core/shown_text.h"
#include "core/whole_file.h"
#include "core/work_threads.h"
#include "solve/landscape.h"
#include "structure/dot_plot.h"
#include "structure/reference_structure.h"
#include "formats/solution_text.h"
#include "formats/reduced_model.h"
#include "formats/text_output.h"

namespace {

[[noreturn]] void FailUsage(const std::string& message) { throw Failure(FailureKind::kUsage, message); }

// The largest count --max-selections and --sample take: 18 digits.
constexpr uint64_t kLargestCount = 999999999999999999;

void Require(bool present, const char* option, const char* needed) {
  if (present) FailUsage(std::string("Option ") + option + " needs " + needed);
}

// The ratio of value to optimum as the assessment prints it, kept in *ratio.
std::string RatioText(int64_t value, int64_t optimum, RatioFigure* ratio) {
  if (optimum == 0) return "-";
  *ratio = {true, static_cast<double>(value) / static_cast<double>(optimum)};
  char text[32];
  std::snprintf(text, sizeof text, "%.4f", ratio->value);
  return text;
}

// "%.17g" of value.
std::string Exact(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

// Writes size bytes at text to out; a write that fails ends the listing there
// (Failure kFile "standard output: cannot write: <reason>") rather than after
// every selection has been found for nothing.
void WriteBlock(std::FILE* out, const char* text, size_t size) {
  errno = 0;
  if (std::fwrite(text, 1, size, out) != size || std::ferror(out)) {
    const int error = errno != 0 ? errno : EIO;
    throw Failure(FailureKind::kFile, std::string("standard output: cannot write: ") + std::strerror(error), "",
                  error);
  }
}

// Writes selections one line each, "<dot-bracket>\t<value>\t<quads>", in
// blocks: selection(k, &value, &quads, &count) gives selection k of count_of.
template <typename Selection>
void PrintSelections(std::FILE* out, const QuadModel& model, size_t count_of, Selection selection) {
  const size_t block = 1 << 20;
  const size_t n = static_cast<size_t>(model.n);
  std::vector<char> text(block + n + 64);
  size_t used = 0;
  std::string structure(n, '.');
  // Each variable's number as text, made once: 11 bytes at 12 v, its length at
  // 12 v + 11.
  std::vector<char> numbers(12 * (static_cast<size_t>(model.quad_count) + 1));
  for (int32_t v = 1; v <= model.quad_count; ++v) {
    char* at = numbers.data() + 12 * static_cast<size_t>(v);
    at[11] = static_cast<char>(std::to_chars(at, at + 11, v).ptr - at);
  }
  for (size_t k = 0; k < count_of; ++k) {
    int64_t value = 0;
    const int32_t* quads = nullptr;
    size_t size = 0;
    selection(k, &value, &quads, &size);
    // The line's room: the structure, the value, 12 bytes per quad.
    const size_t room = n + 24 + 12 * size;
    if (used + room > text.size()) {
      WriteBlock(out, text.data(), used);
      used = 0;
      if (room > text.size()) text.resize(room);
    }
    MarkQuadPairs(model, quads, size, structure.data());
    char* at = text.data() + used;
    std::memcpy(at, structure.data(), n);
    at += n;
    *at++ = '\t';
    at = std::to_chars(at, at + 20, value).ptr;
    *at++ = '\t';
    for (size_t c = 0; c < size; ++c) {
      if (c > 0) *at++ = ' ';
      const char* number = numbers.data() + 12 * static_cast<size_t>(quads[c]);
      std::memcpy(at, number, 11);
      at += number[11];
      const int32_t* quad = MatrixRow(model.quads, quads[c]);
      structure[quad[0] - 1] = structure[quad[2] - 1] = structure[quad[1] - 1] = structure[quad[3] - 1] = '.';
    }
    *at++ = '\n';
    used = static_cast<size_t>(at - text.data());
  }
  WriteBlock(out, text.data(), used);
}

void WriteMarginals(const char* path, const QuadModel& model, const QuadMarginals& marginals,
                    const std::vector<KeptFile>& inputs) {
  TextOutput file(path, inputs);
  file.Add("variable\ti\tj\tbest_with\tgap\n");
  for (int32_t v = 1; v <= model.quad_count; ++v) {
    const int32_t* quad = MatrixRow(model.quads, v);
    file.AddLine({v, quad[0], quad[1], marginals.best_with[v], marginals.optimum - marginals.best_with[v]}, "\t", 1);
  }
  file.Commit();
}

void WriteProbabilities(const LandscapeRequest& request, const QuadModel& model, const EnsembleSummary& ensemble,
                        const std::vector<KeptFile>& inputs) {
  if (request.probabilities_path != nullptr) {
    std::string text = "variable\ti\tj\tprobability\n";
    for (int32_t v = 1; v <= model.quad_count; ++v) {
      const int32_t* quad = MatrixRow(model.quads, v);
      text += std::to_string(v) + '\t' + std::to_string(quad[0]) + '\t' + std::to_string(quad[1]) + '\t' +
              Exact(ensemble.quad_probability[v]) + '\n';
    }
    WriteTextFile(request.probabilities_path, text, inputs);
  }
  if (request.pair_probabilities_path != nullptr) {
    std::string text = "i\tj\tprobability\n";
    for (const PairProbability& pair : ensemble.pairs) {
      if (pair.probability < kSmallestDrawnProbability) continue;
      text += std::to_string(pair.i) + '\t' + std::to_string(pair.j) + '\t' + Exact(pair.probability) + '\n';
    }
    WriteTextFile(request.pair_probabilities_path, text, inputs);
  }
}

// The lines and files after the suboptimal listing.
void ReportRest(std::FILE* out, const LandscapeRequest& request, const QuadModel& model,
                const std::vector<KeptFile>& inputs, const InstanceHeader& record, const QuadMarginals* known,
                FoldFigures* figures, LandscapeFindings* findings) {
  if (request.marginals_path != nullptr || request.reduce_text != nullptr) {
    const QuadMarginals marginals = known != nullptr ? *known : FindBestWith(model);
    if (request.marginals_path != nullptr) WriteMarginals(request.marginals_path, model, marginals, inputs);
    if (request.reduce_text != nullptr) {
      const KeptVariables kept = ReduceModel(model, marginals, ResolveDistance(request.reduce_delta, marginals.optimum));
      if (request.out_prefix != nullptr) {
        InstanceHeader header = record;
        header.reduction = &kept;
        header.reduce = request.reduce_text;
        WriteReducedModel(request.out_prefix, model, header, inputs, CountWorkThreads());
      }
      std::fprintf(out,
                   "reduced: %zu of %d variables; every conflict-free selection within %s of %" PRId64
                   " is kept with its value\n",
                   kept.original.size() - 1, model.quad_count, request.reduce_text, marginals.optimum);
      figures->has_reduced = true;
      figures->reduce_delta = request.reduce_text;
      figures->reduce_optimum = marginals.optimum;
      figures->reduced_count = static_cast<int64_t>(kept.original.size() - 1);
      if (findings != nullptr) {
        findings->has_kept = true;
        findings->kept = kept;
        findings->kept_optimum = marginals.optimum;
      }
    }
  }
  if (request.ensemble_text != nullptr) {
    const EnsembleSummary ensemble = ComputeEnsemble(model, request.temperature);
    std::fprintf(out, "ensemble: %s %s\n", request.ensemble_text, Exact(ensemble.log_z).c_str());
    figures->has_ensemble = true;
    figures->temperature = request.ensemble_text;
    figures->log_z = ensemble.log_z;
    figures->sample_count = request.sample_count;
    WriteProbabilities(request, model, ensemble, inputs);
    if (findings != nullptr) findings->pairs = ensemble.pairs;
    if (request.sample_count > 0) {
      // Streamed in batches: any number of samples in bounded memory.
      std::vector<ListedSelection> batch;
      const auto print_batch = [&]() {
        PrintSelections(out, model, batch.size(), [&](size_t k, int64_t* value, const int32_t** quads, size_t* size) {
          *value = batch[k].value;
          *quads = batch[k].quads.data();
          *size = batch[k].quads.size();
        });
        batch.clear();
      };
      SampleEnsemble(model, request.temperature, request.sample_count, request.seed,
                     [&](const ListedSelection& sample) {
                       batch.push_back(sample);
                       if (batch.size() >= 4096) print_batch();
                     });
      print_batch();
    }
  }
}

}  // namespace

LandscapeRequest CheckLandscapeOptions(const FoldOptions& options) {
  LandscapeRequest request;
  request.marginals_path = options.marginals_path;
  if (options.subopt_text != nullptr) {
    request.subopt_text = options.subopt_text;
    request.subopt_delta = ParseOptimumDistance("--subopt", options.subopt_text);
  }
  Require(options.max_selections_text != nullptr && options.subopt_text == nullptr, "--max-selections", "--subopt");
  if (options.max_selections_text != nullptr) {
    request.max_selections =
        static_cast<int64_t>(ParseWholeOption("--max-selections", options.max_selections_text, 0, kLargestCount));
  }
  Require(options.reduce_text != nullptr && options.out_prefix == nullptr && options.lp_path == nullptr &&
              options.milp_path == nullptr && options.qubo_path == nullptr,
          "--reduce", "--out PREFIX or --write-lp, --write-milp, --write-qubo");
  Require(options.out_prefix != nullptr && options.reduce_text == nullptr, "--out", "--reduce");
  if (options.reduce_text != nullptr) {
    request.reduce_text = options.reduce_text;
    request.reduce_delta = ParseOptimumDistance("--reduce", options.reduce_text);
    request.out_prefix = options.out_prefix;
  }
  Require(options.map_path != nullptr && options.solution_path == nullptr, "--map", "--solution");
  if (options.encode_path != nullptr && options.solution_path != nullptr) {
    FailUsage("Options --encode and --solution cannot be given together");
  }
  const bool ensemble = options.ensemble_text != nullptr;
  Require(options.dot_plot_path != nullptr && !ensemble, "--dot-plot", "--ensemble");
  Require(options.landscape_plot_path != nullptr && options.subopt_text == nullptr && options.reduce_text == nullptr,
          "--landscape-plot", "--subopt or --reduce");
  Require(options.probabilities_path != nullptr && !ensemble, "--probabilities", "--ensemble");
  Require(options.pair_probabilities_path != nullptr && !ensemble, "--pair-probabilities", "--ensemble");
  Require(options.sample_text != nullptr && !ensemble, "--sample", "--ensemble");
  Require(options.seed_text != nullptr && options.sample_text == nullptr, "--seed", "--sample");
  if (ensemble) {
    request.ensemble_text = options.ensemble_text;
    request.temperature = ParseTemperatureOption("--ensemble", options.ensemble_text);
    request.probabilities_path = options.probabilities_path;
    request.pair_probabilities_path = options.pair_probabilities_path;
  }
  if (options.sample_text != nullptr) {
    request.sample_count = static_cast<int64_t>(ParseWholeOption("--sample", options.sample_text, 0, kLargestCount));
  }
  if (options.seed_text != nullptr) request.seed = ParseSeedOption(options.seed_text);
  return request;
}

void ProbeLandscapeOutputs(const LandscapeRequest& request, const std::vector<KeptFile>& inputs,
                           const char* json_path) {
  std::vector<std::string> names;
  for (const char* path :
       {request.marginals_path, request.probabilities_path, request.pair_probabilities_path, json_path}) {
    if (path != nullptr) names.push_back(path);
  }
  if (request.out_prefix != nullptr) {
    for (const char* suffix : {".q", ".qubo", ".map"}) names.push_back(std::string(request.out_prefix) + suffix);
  }
  // A signal while the files are written removes their temporaries.
  if (!names.empty()) InstallTerminationHandlers();
  for (const std::string& name : names) {
    // A named pipe or a device is written once, in place: opening it to try it
    // would end its reader's input before the real write.
    struct stat status;
    if (stat(name.c_str(), &status) == 0 && !S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode)) continue;
    TextOutput probe(name, inputs);
  }
}

std::vector<KeptFile> RunInputs(const FoldOptions& options, const RunParameters& params) {
  std::vector<KeptFile> inputs = {IdentifyKeptFile(params.input_RNA_sequence_filename)};
  for (const char* path : {options.reference_path, options.solution_path, options.encode_path, options.map_path}) {
    if (path != nullptr) inputs.push_back(IdentifyKeptFile(path));
  }
  return inputs;
}

void ReportLandscape(std::FILE* out, const LandscapeRequest& request, const QuadModel& model,
                     const std::vector<KeptFile>& inputs, const InstanceHeader& record,
                     const QuadMarginals* marginals, FoldFigures* figures, LandscapeFindings* findings) {
  if (request.subopt_text != nullptr) {
    SuboptListing listing = ListSuboptimal(model, request.subopt_delta, request.max_selections);
    const OptimaCount& optima = listing.optima;
    if (optima.saturated) {
      std::fprintf(out, "optima: at least %s (the count stops at 2^128 - 1)\n",
                   FormatSelectionCount(optima.count).c_str());
    } else {
      std::fprintf(out, "optima: %s\n", FormatSelectionCount(optima.count).c_str());
    }
    std::fprintf(out, "subopt: %s%s selections within %s of %" PRId64 "\n", listing.exact ? "" : "at least ",
                 FormatSelectionCount(listing.total).c_str(), request.subopt_text, listing.optimum);
    figures->has_subopt = true;
    figures->optima_count = FormatSelectionCount(optima.count);
    figures->optima_saturated = optima.saturated;
    figures->subopt_delta = request.subopt_text;
    figures->subopt_optimum = listing.optimum;
    figures->subopt_count = FormatSelectionCount(listing.total);
    figures->subopt_exact = listing.exact;
    figures->subopt_listed = static_cast<int64_t>(listing.Count());
    PrintSelections(out, model, listing.Count(), [&](size_t k, int64_t* value, const int32_t** quads, size_t* size) {
      // The listing is read in its order, scattered over memory: fetch ahead.
      if (k + 16 < listing.order.size()) __builtin_prefetch(&listing.starts[listing.order[k + 16]]);
      if (k + 8 < listing.order.size()) {
        const size_t ahead = listing.order[k + 8];
        __builtin_prefetch(&listing.values[ahead]);
        __builtin_prefetch(listing.quads.data() + listing.starts[ahead]);
      }
      const size_t s = listing.order[k];
      *value = listing.values[s];
      *quads = listing.quads.data() + listing.starts[s];
      *size = listing.starts[s + 1] - listing.starts[s];
    });
    if (findings != nullptr) {
      findings->has_listing = true;
      findings->listed_total = (listing.exact ? "" : "at least ") + FormatSelectionCount(listing.total);
      findings->listing = std::move(listing);
    }
  }
  ReportRest(out, request, model, inputs, record, marginals, figures, findings);
}

std::vector<uint8_t> LoadMappedSelection(const FoldOptions& options, const QuadModel& model) {
  return LoadReducedSelection(options, model, ReadReducedMap(options.map_path, model), ShowText(options.map_path));
}

std::vector<uint8_t> LoadReducedSelection(const FoldOptions& options, const QuadModel& model,
                                          const std::vector<int32_t>& original, const std::string& numbering) {
  const std::string path = options.solution_path;
  std::string text;
  if (!ReadWholeFile(options.solution_path, &text)) {
    const int error = errno;
    throw Failure(FailureKind::kFile, ShowText(path) + ": cannot read: " + std::strerror(error), path, error);
  }
  std::vector<uint8_t> reduced;
  try {
    reduced = ParseSelectionText(text.data(), text.size(), static_cast<int32_t>(original.size()) - 1,
                                 options.zero_based);
  } catch (const Failure& failure) {
    throw Failure(failure.kind(), ShowText(path) + ": " + failure.what() + " (the numbering of " + numbering + ")");
  }
  std::vector<uint8_t> chosen(static_cast<size_t>(model.quad_count) + 1, 0);
  for (size_t k = 1; k < reduced.size(); ++k) {
    if (reduced[k] != 0) chosen[original[k]] = 1;
  }
  return chosen;
}

EncodedStructure ReadEncodedStructure(const char* path, const QuadModel& model, int32_t min_distance) {
  const ReferenceStructure structure = ReadReferenceStructure(path, model.buffer, model.n);
  return EncodeStructure(model, min_distance, structure.pairs);
}

void PrintUnrepresented(std::FILE* out, const EncodedStructure& encoded, FoldFigures* figures) {
  figures->has_unrepresented = true;
  figures->lone = encoded.lone;
  figures->mismatched = encoded.mismatched;
  figures->out_of_range = encoded.out_of_range;
  figures->pseudoknotted = encoded.pseudoknotted;
  const std::pair<const char*, const std::vector<BasePair>*> kinds[] = {
      {"lone pairs", &encoded.lone},
      {"non-canonical pairs", &encoded.mismatched},
      {"pairs out of range", &encoded.out_of_range},
      {"pseudoknotted pairs", &encoded.pseudoknotted},
  };
  for (const auto& [name, pairs] : kinds) {
    std::fprintf(out, "%s: %zu", name, pairs->size());
    for (const BasePair& pair : *pairs) std::fprintf(out, " %d-%d", pair.i, pair.j);
    std::fputc('\n', out);
  }
}

void PrintReferenceValue(std::FILE* out, const QuadModel& model, int32_t min_distance,
                         const std::vector<BasePair>& reference, int64_t optimum, FoldFigures* figures) {
  const EncodedStructure encoded = EncodeStructure(model, min_distance, reference);
  const int64_t value = SelectionValue(model, encoded.chosen.data(), nullptr);
  figures->reference_value = value;
  std::fprintf(out, "reference value: %" PRId64 " ratio: %s\n", value,
               RatioText(value, optimum, &figures->reference_ratio).c_str());
}
