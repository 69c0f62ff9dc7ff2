// rnaqubo-fold: the best secondary structure of one RNA sequence in rnaqubo's
// model, or the decoding of a solver's answer to that model. Standard output
// carries only results; every message goes to standard error.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/failure.h"
#include "core/index_arrays.h"
#include "core/sequence_reader.h"
#include "core/shown_text.h"
#include "core/tool_frame.h"
#include "core/version.h"
#include "core/whole_file.h"
#include "structure/arc_diagram.h"
#include "tools/rnaqubo-fold/fold_command.h"
#include "tools/rnaqubo-fold/fold_report.h"
#include "tools/rnaqubo-fold/json_report.h"
#include "formats/instance_reader.h"
#include "tools/rnaqubo-fold/landscape_report.h"
#include "solve/landscape.h"
#include "solve/optimum.h"
#include "solve/reduction.h"
#include "structure/dot_plot.h"
#include "structure/landscape_plot.h"
#include "structure/reference_structure.h"
#include "formats/solution_text.h"
#include "structure/structure_drawing.h"
#include "model/quad_model.h"
#include "formats/instance_files.h"
#include "formats/output_file.h"

namespace {

// The stream the text report goes to: standard output, or, when the JSON
// object takes standard output (--json -), a buffer in memory that is dropped.
struct ReportStream {
  std::FILE* file = stdout;
  char* held = nullptr;
  size_t held_size = 0;
  ReportStream() = default;
  ReportStream(const ReportStream&) = delete;
  ReportStream& operator=(const ReportStream&) = delete;
  ~ReportStream() {
    if (file != stdout) std::fclose(file);
    std::free(held);
  }
};

// Sends the text report of stream aside (--json -); throws Failure kMemory
// when no buffer can be had.
void HoldReport(ReportStream* stream) {
  stream->file = open_memstream(&stream->held, &stream->held_size);
  if (stream->file == nullptr) throw Failure(FailureKind::kMemory, kMemoryShortage);
}

// The picture file while it is written: removed on every way out (an early return
// or an exception) unless it was committed first.
struct DiagramFileGuard {
  OutputFile file;
  DiagramFileGuard() = default;
  DiagramFileGuard(const DiagramFileGuard&) = delete;
  DiagramFileGuard& operator=(const DiagramFileGuard&) = delete;
  ~DiagramFileGuard() { DiscardOutputFile(&file); }
};

// The selection in the --solution file; throws Failure naming the file (and the
// first bad item).
std::vector<uint8_t> LoadSelection(const FoldOptions& options, const QuadModel& model) {
  const std::string path = options.solution_path;
  std::string text;
  if (!ReadWholeFile(options.solution_path, &text)) {
    const int error = errno;
    throw Failure(FailureKind::kFile, ShowText(path) + ": cannot read: " + std::strerror(error), path, error);
  }
  try {
    return ParseSelectionText(text.data(), text.size(), model.quad_count, options.zero_based);
  } catch (const Failure& failure) {
    throw Failure(failure.kind(), ShowText(path) + ": " + failure.what());
  }
}

// The picture asked for by --draw or --svg: its file, layout and format.
struct PictureRequest {
  const char* path = nullptr;  // nullptr: no picture
  DrawingLayout layout = DrawingLayout::kArc;
  DrawingFormat format = DrawingFormat::kSvg;
};

// The picture of the command line; throws Failure (kUsage) for an unknown
// layout or a --draw name without a known extension.
PictureRequest ReadPictureRequest(const FoldOptions& options) {
  PictureRequest picture;
  picture.path = options.draw_path != nullptr ? options.draw_path : options.svg_path;
  if (picture.path == nullptr) return picture;
  if (options.layout_name != nullptr) picture.layout = ParseDrawingLayout(options.layout_name);
  if (options.draw_path != nullptr) picture.format = DrawingFormatOf(options.draw_path);
  return picture;
}

// Starts the picture file before the search, so that a destination that cannot
// be written, or a program the picture needs that is missing, is reported at
// once; it may not replace any input of the run. Throws Failure naming the picture.
void StartDiagram(const FoldOptions& options, const RunParameters& params, const PictureRequest& picture,
                  OutputFile* file) {
  try {
    CheckDrawingPrograms(picture.layout, picture.format);
  } catch (const Failure& failure) {
    throw Failure(failure.kind(), std::string(picture.path) + ": " + failure.what());
  }
  InstallTerminationHandlers();
  std::vector<KeptFile> inputs = {IdentifyKeptFile(params.input_RNA_sequence_filename)};
  if (options.reference_path != nullptr) inputs.push_back(IdentifyKeptFile(options.reference_path));
  if (options.solution_path != nullptr) inputs.push_back(IdentifyKeptFile(options.solution_path));
  std::string error;
  if (!StartArcDiagramFile(picture.path, inputs, file, &error)) throw Failure(FailureKind::kFile, error);
}

// A picture of the landscape (--dot-plot, --landscape-plot) while it is made:
// its file, format and option.
struct LandscapePicture {
  const char* path = nullptr;  // nullptr: not asked for
  const char* option = nullptr;
  DrawingFormat format = DrawingFormat::kSvg;
  DiagramFileGuard guard;
};

// The format of the picture at path for option, refused (kUsage) before any work
// when its name has no known extension.
void ReadLandscapePicture(const char* path, const char* option, LandscapePicture* picture) {
  if (path == nullptr) return;
  picture->path = path;
  picture->option = option;
  picture->format = DrawingFormatOf(path);
}

// Starts the picture's file before the search, as StartDiagram does, so that a
// missing program or an unwritable destination is reported at once.
void StartLandscapePicture(const std::vector<KeptFile>& inputs, LandscapePicture* picture) {
  if (picture->path == nullptr) return;
  try {
    CheckDrawingPrograms(DrawingLayout::kArc, picture->format);
  } catch (const Failure& failure) {
    throw Failure(failure.kind(), std::string(picture->path) + ": " + failure.what());
  }
  InstallTerminationHandlers();
  std::string error;
  if (!StartArcDiagramFile(picture->path, inputs, &picture->guard.file, &error)) {
    throw Failure(FailureKind::kFile, error);
  }
}

// Converts svg to the picture's format and commits its file.
void FinishLandscapePicture(const std::string& svg, LandscapePicture* picture) {
  std::string bytes, error;
  try {
    bytes = ConvertDrawing(svg, picture->format);
  } catch (const Failure& failure) {
    throw Failure(failure.kind(), std::string(picture->path) + ": " + failure.what());
  }
  if (!FinishArcDiagramFile(&picture->guard.file, bytes, &error)) throw Failure(FailureKind::kFile, error);
}

// The record's name for instance files: the reference's, else the sequence
// file's name without its directory and extension.
std::string RecordName(const ReferenceStructure& reference, const char* sequence_path) {
  return !reference.name.empty() ? reference.name : RecordNameOfFile(sequence_path);
}

// The files an instance file may not replace: the run's inputs.
std::vector<KeptFile> InstanceInputs(const FoldOptions& options, const InstanceHeader& header) {
  std::vector<KeptFile> inputs;
  for (const char* path : {header.input.c_str(), options.reference_path, options.solution_path,
                           options.instance_path, options.encode_path, options.map_path}) {
    if (path != nullptr) inputs.push_back(IdentifyKeptFile(path));
  }
  return inputs;
}

// Whether the run writes an instance file.
bool WritesInstances(const FoldOptions& options) {
  return options.lp_path != nullptr || options.milp_path != nullptr || options.qubo_path != nullptr;
}

// Starts and discards each instance file asked for, so that a destination that
// cannot be written is reported before the search.
void ProbeInstances(const FoldOptions& options, const InstanceHeader& header) {
  const std::vector<KeptFile> inputs = InstanceInputs(options, header);
  InstallTerminationHandlers();
  if (options.lp_path != nullptr) ProbeInstanceFile(options.lp_path, InstanceKind::kLp, inputs);
  if (options.milp_path != nullptr) ProbeInstanceFile(options.milp_path, InstanceKind::kMilp, inputs);
  if (options.qubo_path != nullptr) ProbeInstanceFile(options.qubo_path, InstanceKind::kQubo, inputs);
}

// Writes the instance files asked for, none of them over an input of the run:
// of the whole model, or of the reduction header.reduction.
void WriteInstances(const FoldOptions& options, const QuadModel& model, const InstanceHeader& header) {
  const std::vector<KeptFile> inputs = InstanceInputs(options, header);
  InstallTerminationHandlers();
  // The .qubo is negated: its solvers minimise.
  const std::pair<InstanceKind, const char*> files[] = {
      {InstanceKind::kLp, options.lp_path}, {InstanceKind::kMilp, options.milp_path}, {InstanceKind::kQubo, options.qubo_path}};
  for (const auto& [kind, path] : files) {
    if (path != nullptr) WriteInstance(kind, model, header, path, true, options.milp_pairwise, inputs);
  }
}

// The run of one command line; every failure is thrown (see RunTool).
void RunFold(int argc, char** argv) {
  const FoldCommand command = ParseFoldCommand(argc, argv);
  const FoldOptions& options = command.options;
  if (options.help) {
    PrintFoldHelp(stdout, argc > 0 ? argv[0] : "rnaqubo-fold");
  } else if (options.version) {
    std::fputs(kFoldVersionLine, stdout);
  } else {
    // No output may replace another of the same run.
    RefuseSharedOutputs(options);
    if (options.json_path != nullptr && !JsonReportAvailable()) throw Failure(FailureKind::kUsage, kJsonMissingReason);
    RunParameters params = command.params;
    const PictureRequest picture = ReadPictureRequest(options);
    const LandscapeRequest landscape = CheckLandscapeOptions(options);
    LandscapePicture dot_plot, landscape_plot;
    ReadLandscapePicture(options.dot_plot_path, "--dot-plot", &dot_plot);
    ReadLandscapePicture(options.landscape_plot_path, "--landscape-plot", &landscape_plot);
    RefuseStandardOutputClash(options, (landscape.subopt_text != nullptr && landscape.max_selections > 0) ||
                                           landscape.sample_count > 0);
    const bool json_to_output = options.json_path != nullptr && std::strcmp(options.json_path, "-") == 0;
    InstanceSettings instance{};
    std::optional<QuadModel> instance_model;
    int32_t pair_count = 0;
    const char* buffer = nullptr;
    if (options.instance_path != nullptr) {
      instance = ReadInstanceSettings(options.instance_path);
      params = RunParameters{options.instance_path, static_cast<int32_t>(instance.sequence.size()),
                             instance.min_distance, instance.add_quads, instance.penalty};
      instance_model = BuildInstanceModel(instance, &pair_count);
      buffer = instance_model->buffer;
    } else {
      char* letters = AllocateSequenceBuffer(params.sequence_length);
      buffer = letters;
      // The sequence file's failures carry the reader's own messages.
      ReadSequenceFile(params.input_RNA_sequence_filename, params.sequence_length, letters);
    }
    ReferenceStructure reference;
    if (options.reference_path != nullptr) {
      reference = ReadReferenceStructure(options.reference_path, buffer, params.sequence_length);
    }
    const QuadModel model = instance_model ? std::move(*instance_model)
                                           : BuildQuadModel(buffer, params.sequence_length,
                                                            params.min_distance_allowed_between_positions,
                                                            params.add_quads, params.M_penalty, &pair_count);
    FoldFigures figures;
    GatherModelFigures(model, params.min_distance_allowed_between_positions, pair_count, &figures);
    const bool reduced_instance = options.instance_path != nullptr && !instance.reduce.empty();
    // The negated .qubo files are refused before any output is made.
    try {
      if (landscape.out_prefix != nullptr || options.qubo_path != nullptr) CheckNegatedPenalty(model.penalty);
    } catch (const Failure& failure) {
      if (landscape.out_prefix != nullptr) {
        throw Failure(failure.kind(), std::string("--reduce --out: ") + failure.what() + " for " +
                                          landscape.out_prefix + ".qubo");
      }
      throw Failure(failure.kind(), std::string("--write-qubo: ") + failure.what());
    }
    if (reduced_instance && options.map_path != nullptr) {
      throw Failure(FailureKind::kUsage, "Option --map cannot be given with a reduced --instance: the answer is "
                                         "numbered as the instance is");
    }
    InstanceHeader record{instance.name, instance.input, params.min_distance_allowed_between_positions};
    if (options.instance_path == nullptr) {
      record.name = RecordName(reference, params.input_RNA_sequence_filename);
      record.input = params.input_RNA_sequence_filename;
    }
    // The marginals, found once for every reduction of the run.
    std::optional<QuadMarginals> marginals;
    const auto reduce_at = [&](const OptimumDistance& distance) {
      if (!marginals) marginals = FindBestWith(model);
      return ReduceModel(model, *marginals, ResolveDistance(distance, marginals->optimum));
    };
    // A reduced instance's own reduction, rebuilt at its recorded distance.
    KeptVariables instance_reduction;
    if (options.instance_path != nullptr) {
      instance_reduction = RebuildInstanceVariables(options.instance_path, instance, model, &marginals);
    }
    // Every destination is tried before any file of the run is written.
    ProbeLandscapeOutputs(landscape, RunInputs(options, params), json_to_output ? nullptr : options.json_path);
    if (WritesInstances(options)) ProbeInstances(options, record);
    std::vector<uint8_t> given;
    if (options.solution_path != nullptr) {
      if (reduced_instance) {
        given = LoadReducedSelection(options, model, instance_reduction.original, ShowText(options.instance_path));
      } else {
        given = options.map_path != nullptr ? LoadMappedSelection(options, model) : LoadSelection(options, model);
      }
    }
    EncodedStructure encoded;
    if (options.encode_path != nullptr) {
      encoded = ReadEncodedStructure(options.encode_path, model, params.min_distance_allowed_between_positions);
      given = encoded.chosen;
    }
    DiagramFileGuard diagram;
    if (picture.path != nullptr) {
      StartDiagram(options, params, picture, &diagram.file);
    }
    StartLandscapePicture(RunInputs(options, params), &dot_plot);
    StartLandscapePicture(RunInputs(options, params), &landscape_plot);
    std::vector<uint8_t> best(static_cast<size_t>(model.quad_count) + 1);
    const int64_t optimum = FoldOptimum(model, best.data());
    // A temperature too low for this model is refused before anything is printed or written.
    if (landscape.ensemble_text != nullptr) RequireEnsembleTemperature(optimum, landscape.temperature);
    // The instance files come after every check that can refuse the run.
    if (WritesInstances(options)) {
      // --reduce's model, else a reduced instance's, else the whole model.
      InstanceHeader header = record;
      KeptVariables reduction;
      if (landscape.reduce_text != nullptr) {
        reduction = reduce_at(landscape.reduce_delta);
        header.reduction = &reduction;
        header.reduce = landscape.reduce_text;
      } else if (reduced_instance) {
        header.reduction = &instance_reduction;
        header.reduce = instance.reduce;
      }
      WriteInstances(options, model, header);
    }
    const uint8_t* shown = best.data();
    int64_t shown_value = optimum;
    figures.optimum = optimum;
    ReportStream report;
    if (json_to_output) HoldReport(&report);
    std::FILE* const out = report.file;
    // An instance's reader also gets the selection in the instance's numbering,
    // which is how a solver of that file answers.
    const std::vector<int32_t>* instance_numbering = reduced_instance ? &instance_reduction.renumbered : nullptr;
    if (given.empty()) {
      PrintSelectionLines(out, model, best.data(), optimum, 0, &figures);
      if (options.instance_path != nullptr) {
        PrintInstanceQuads(out, model, best.data(), instance_numbering, &figures);
      }
      PrintCertificate(out, params.M_penalty, QuadModelBound(model), &figures);
    } else {
      int64_t conflicts = 0;
      shown = given.data();
      shown_value = SelectionValue(model, given.data(), &conflicts);
      PrintSelectionLines(out, model, given.data(), shown_value, conflicts, &figures);
      if (options.instance_path != nullptr) {
        PrintInstanceQuads(out, model, given.data(), instance_numbering, &figures);
      }
      PrintSolutionAssessment(out, model, given.data(), shown_value, optimum, conflicts, &figures);
      if (options.encode_path != nullptr) {
        PrintUnrepresented(out, encoded, &figures);
      } else {
        figures.against_optimum = {true, ScorePairs(SelectionPairs(model, given.data()),
                                                    SelectionPairs(model, best.data()))};
        std::fputs(FormatPairScores(figures.against_optimum.scores, "optimum ").c_str(), out);
      }
    }
    // The pairs of the chosen quads: the printed structure, or for a selection with
    // conflicts every pair it claims (drawn as conflicting).
    const std::vector<BasePair> pairs = SelectionPairs(model, shown);
    if (options.reference_path != nullptr) {
      figures.against_reference = {true, ScorePairs(pairs, reference.pairs)};
      std::fputs(FormatPairScores(figures.against_reference.scores).c_str(), out);
      PrintReferenceValue(out, model, params.min_distance_allowed_between_positions, reference.pairs, optimum,
                          &figures);
    }
    LandscapeFindings findings;
    ReportLandscape(out, landscape, model, RunInputs(options, params), record, marginals ? &*marginals : nullptr,
                    &figures, &findings);
    if (json_to_output) std::fputs(FormatFoldJson(figures).c_str(), stdout);
    // The JSON file and the picture are committed only once the report has
    // reached standard output.
    FlushStandardOutput();
    if (options.json_path != nullptr && !json_to_output) {
      WriteFoldJson(options.json_path, FormatFoldJson(figures), RunInputs(options, params));
    }
    const std::string title = options.title != nullptr ? options.title
                                                       : DrawingTitle(reference.name, params.input_RNA_sequence_filename);
    const std::string settings = FormatModelSettings(
        DrawingTitle("", params.input_RNA_sequence_filename), params.sequence_length,
        params.min_distance_allowed_between_positions, params.add_quads, params.M_penalty);
    if (dot_plot.path != nullptr) {
      DotPlot plot;
      plot.buffer = buffer;
      plot.n = params.sequence_length;
      for (const PairProbability& pair : findings.pairs) plot.shares.push_back({pair.i, pair.j, pair.probability});
      plot.optimum = SelectionPairs(model, best.data());
      plot.has_reference = options.reference_path != nullptr;
      plot.reference = reference.pairs;
      plot.title = title;
      plot.settings = FormatEnsembleSettings(settings, landscape.ensemble_text);
      FinishLandscapePicture(DrawDotPlot(plot), &dot_plot);
    }
    if (landscape_plot.path != nullptr) {
      LandscapePlot plot;
      plot.buffer = buffer;
      plot.n = params.sequence_length;
      plot.title = title;
      plot.settings = settings;
      if (findings.has_listing) {
        const SuboptListing& listing = findings.listing;
        plot.has_selections = true;
        plot.optimum = listing.optimum;
        plot.delta = listing.delta;
        plot.delta_text = landscape.subopt_text;
        plot.total_text = findings.listed_total;
        std::vector<uint8_t> chosen(static_cast<size_t>(model.quad_count) + 1, 0);
        for (size_t k = 0; k < listing.Count(); ++k) {
          const size_t s = listing.order[k];
          plot.values.push_back(listing.values[s]);
          for (size_t q = listing.starts[s]; q < listing.starts[s + 1]; ++q) chosen[listing.quads[q]] = 1;
          plot.selections.push_back(SelectionPairs(model, chosen.data()));
          for (size_t q = listing.starts[s]; q < listing.starts[s + 1]; ++q) chosen[listing.quads[q]] = 0;
        }
      }
      if (findings.has_kept) {
        plot.has_kept = true;
        plot.kept_optimum = findings.kept_optimum;
        plot.kept_delta_text = landscape.reduce_text;
        plot.quad_count = model.quad_count;
        for (size_t k = 1; k < findings.kept.original.size(); ++k) {
          const int32_t v = findings.kept.original[k];
          const int32_t* quad = MatrixRow(model.quads, v);
          plot.kept.push_back({v, quad[0], quad[1]});
        }
      }
      FinishLandscapePicture(DrawLandscapePlot(plot), &landscape_plot);
    }
    if (picture.path != nullptr) {
      ArcDiagram drawing{};
      drawing.buffer = buffer;
      drawing.n = params.sequence_length;
      drawing.pairs = pairs;
      drawing.has_reference = options.reference_path != nullptr;
      drawing.reference = reference.pairs;
      drawing.title = title;
      drawing.settings = settings;
      drawing.value = shown_value;
      drawing.has_optimum = options.solution_path != nullptr;
      drawing.optimum = optimum;
      std::string bytes, error;
      try {
        bytes = ConvertDrawing(DrawStructureSvg(drawing, picture.layout), picture.format);
      } catch (const Failure& failure) {
        throw Failure(failure.kind(), std::string(picture.path) + ": " + failure.what());
      }
      if (!FinishArcDiagramFile(&diagram.file, bytes, &error)) throw Failure(FailureKind::kFile, error);
    }
  }
}

}  // namespace

// Every failure below RunFold arrives here as an exception and leaves as one
// line on standard error; standard output is checked on every way out.
int main(int argc, char** argv) { return RunTool("rnaqubo-fold", RunFold, argc, argv); }
