// rnaqubo-fold: the best secondary structure of one RNA sequence in rnaqubo's
// model, or the decoding of a solver's answer to that model. Standard output
// carries only results; every message goes to standard error.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "core/failure.h"
#include "core/index_arrays.h"
#include "core/sequence_reader.h"
#include "core/shown_text.h"
#include "core/status_codes.h"
#include "core/version.h"
#include "core/whole_file.h"
#include "fold/arc_diagram.h"
#include "fold/fold_command.h"
#include "fold/fold_report.h"
#include "fold/landscape_report.h"
#include "fold/optimum.h"
#include "fold/reference_structure.h"
#include "fold/solution_text.h"
#include "model/quad_model.h"
#include "output/output_file.h"

namespace {

// Writes "rnaqubo-fold: <message>" as one line on standard error, every byte
// from outside in it shown through ShowText, and returns status.
int Report(int status, const std::string& message) {
  std::fprintf(stderr, "rnaqubo-fold: %s\n", ShowText(message).c_str());
  return status;
}

// The message for a standard output that could not be written.
std::string StandardOutputMessage() {
  return std::string("standard output: cannot write: ") + std::strerror(errno != 0 ? errno : EIO);
}

// The --svg file while it is written: removed on every way out (an early return
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

// Starts the --svg file before the search, so that a destination that cannot be
// written is reported at once; it may not replace any input of the run.
int StartDiagram(const FoldOptions& options, const RunParameters& params, OutputFile* file) {
  InstallTerminationHandlers();
  std::vector<KeptFile> inputs = {IdentifyKeptFile(params.input_RNA_sequence_filename)};
  if (options.reference_path != nullptr) inputs.push_back(IdentifyKeptFile(options.reference_path));
  if (options.solution_path != nullptr) inputs.push_back(IdentifyKeptFile(options.solution_path));
  std::string error;
  if (!StartArcDiagramFile(options.svg_path, inputs, file, &error)) return Report(kStatusIoError, error);
  return 0;
}

int RunFold(int argc, char** argv) {
  const FoldCommand command = ParseFoldCommand(argc, argv);
  const FoldOptions& options = command.options;
  if (options.help) {
    PrintFoldHelp(stdout, argc > 0 ? argv[0] : "rnaqubo-fold");
  } else if (options.version) {
    std::fputs(kFoldVersionLine, stdout);
  } else {
    const RunParameters& params = command.params;
    const LandscapeRequest landscape = CheckLandscapeOptions(options);
    char* buffer = AllocateSequenceBuffer(params.sequence_length);
    // The sequence file's failures carry the reader's own messages.
    ReadSequenceFile(params.input_RNA_sequence_filename, params.sequence_length, buffer);
    ReferenceStructure reference;
    if (options.reference_path != nullptr) {
      reference = ReadReferenceStructure(options.reference_path, buffer, params.sequence_length);
    }
    const QuadModel model = BuildQuadModel(buffer, params.sequence_length,
                                           params.min_distance_allowed_between_positions,
                                           params.add_quads, params.M_penalty);
    std::vector<uint8_t> given;
    if (options.solution_path != nullptr) {
      given = options.map_path != nullptr ? LoadMappedSelection(options, model) : LoadSelection(options, model);
    }
    EncodedStructure encoded;
    if (options.encode_path != nullptr) {
      encoded = ReadEncodedStructure(options.encode_path, model, params.min_distance_allowed_between_positions);
      given = encoded.chosen;
    }
    ProbeLandscapeOutputs(landscape, RunInputs(options, params));
    DiagramFileGuard diagram;
    if (options.svg_path != nullptr) {
      if (const int status = StartDiagram(options, params, &diagram.file); status != 0) return status;
    }
    std::vector<uint8_t> best(static_cast<size_t>(model.quad_count) + 1);
    const int64_t optimum = FoldOptimum(model, best.data());
    const uint8_t* shown = best.data();
    int64_t shown_value = optimum;
    if (given.empty()) {
      PrintSelectionLines(stdout, model, best.data(), optimum, 0);
      PrintCertificate(stdout, params.M_penalty, QuadModelBound(model));
    } else {
      int64_t conflicts = 0;
      shown = given.data();
      shown_value = SelectionValue(model, given.data(), &conflicts);
      PrintSelectionLines(stdout, model, given.data(), shown_value, conflicts);
      PrintSolutionAssessment(stdout, model, given.data(), shown_value, optimum, conflicts);
      if (options.encode_path != nullptr) PrintUnrepresented(stdout, encoded);
    }
    // The pairs of the chosen quads: the printed structure, or for a selection with
    // conflicts every pair it claims (drawn as conflicting).
    const std::vector<BasePair> pairs = SelectionPairs(model, shown);
    if (options.reference_path != nullptr) {
      std::fputs(FormatPairScores(ScorePairs(pairs, reference.pairs)).c_str(), stdout);
      PrintReferenceValue(stdout, model, params.min_distance_allowed_between_positions, reference.pairs, optimum);
    }
    ReportLandscape(stdout, landscape, model, RunInputs(options, params));
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
      return Report(kStatusIoError, StandardOutputMessage());
    }
    if (options.svg_path != nullptr) {
      ArcDiagram drawing{};
      drawing.buffer = buffer;
      drawing.n = params.sequence_length;
      drawing.pairs = pairs;
      drawing.has_reference = options.reference_path != nullptr;
      drawing.reference = reference.pairs;
      drawing.title = reference.name.empty() ? params.input_RNA_sequence_filename : reference.name;
      drawing.value = shown_value;
      std::string error;
      if (!FinishArcDiagramFile(&diagram.file, DrawArcDiagram(drawing), &error)) {
        return Report(kStatusIoError, error);
      }
    }
  }
  // A script must never read a clean status over lost output.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    return Report(kStatusIoError, "Could not write to standard output\n");
  }
  return kStatusComplete;
}

}  // namespace

// Every failure below RunFold arrives here as an exception and leaves as one
// line on standard error.
int main(int argc, char** argv) {
  try {
    return RunFold(argc, argv);
  } catch (const Failure& failure) {
    return Report(FailureStatus(failure.kind()), failure.what());
  } catch (const std::bad_alloc&) {
    return Report(kStatusDataError, "Memory allocation problem");
  } catch (const std::exception& failure) {
    const std::string what = failure.what();
    return Report(kStatusDataError, what.empty() ? std::string("Unexpected failure") : what);
  }
}
