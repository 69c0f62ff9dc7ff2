// rnaqubo-fold's landscape options: their checks, the lines they print after
// the usual block and the files they write. Failures are thrown (Failure, or
// OutputFileFailure for a file that cannot be written); nothing here ends the
// process.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/dot_bracket.h"
#include "core/model_arguments.h"
#include "tools/rnaqubo-fold/fold_command.h"
#include "tools/rnaqubo-fold/json_report.h"
#include "solve/landscape.h"
#include "solve/reduction.h"
#include "solve/structure_selection.h"
#include "formats/output_file.h"
#include "model/quad_model.h"
#include "formats/instance_files.h"

// The landscape options of a run, their values checked.
struct LandscapeRequest {
  const char* marginals_path = nullptr;
  const char* subopt_text = nullptr;  // as given, for the "subopt:" line
  OptimumDistance subopt_delta;
  int64_t max_selections = 100000;
  const char* reduce_text = nullptr;
  OptimumDistance reduce_delta;
  const char* out_prefix = nullptr;
  const char* ensemble_text = nullptr;
  double temperature = 0;
  const char* probabilities_path = nullptr;
  const char* pair_probabilities_path = nullptr;
  int64_t sample_count = 0;
  uint64_t seed = 1;
};

// Checks the landscape options of options: every value (a distance, M and N
// whole numbers of at most 18 digits, S a seed, T a temperature: see
// core/command_line.h)
// and every combination (--max-selections needs --subopt, --reduce needs --out
// or an instance file to write, --out needs --reduce, --probabilities, --pair-probabilities, --dot-plot and
// --sample need --ensemble, --landscape-plot needs --subopt or --reduce, --seed
// needs --sample, --map needs --solution, --encode excludes
// --solution). Throws Failure kUsage naming the option.
LandscapeRequest CheckLandscapeOptions(const FoldOptions& options);

// What the run's pictures draw of the landscape, kept as ReportLandscape finds it.
struct LandscapeFindings {
  bool has_listing = false;            // --subopt ran
  SuboptListing listing;               // its selections
  std::string listed_total;            // "K" or "at least K", as the "subopt:" line says
  bool has_kept = false;               // --reduce ran
  KeptVariables kept;                  // its variables
  int64_t kept_optimum = 0;            // the optimum it was measured from
  std::vector<PairProbability> pairs;  // with --ensemble, each pair's probability
};

// Runs the request on model after the usual block: prints on out the lines
// "optima:", "subopt:" and the listing, "reduced:", "ensemble:" and the
// samples, as asked, and writes the files asked for, none of which may
// replace a file in inputs; record names the record in the reduced model's
// .qubo (its reduction is set here). marginals, when not nullptr, are model's,
// already found. The figures printed are kept in figures, and what the
// pictures need in findings when it is not nullptr.
void ReportLandscape(std::FILE* out, const LandscapeRequest& request, const QuadModel& model,
                     const std::vector<KeptFile>& inputs, const InstanceHeader& record,
                     const QuadMarginals* marginals, FoldFigures* figures, LandscapeFindings* findings);

// Starts and discards each file the request will write, and the --json file
// json_path when not nullptr, so that a destination that cannot be written (or
// that is one of inputs) is reported before the search. Throws
// OutputFileFailure naming the file.
void ProbeLandscapeOutputs(const LandscapeRequest& request, const std::vector<KeptFile>& inputs,
                           const char* json_path);

// The files a run reads, which no output may replace: the sequence file and
// every file option that reads.
std::vector<KeptFile> RunInputs(const FoldOptions& options, const RunParameters& params);

// The selection in the --solution file, whose numbers are those of a reduced
// model (original[k] the original variable of its variable k, [0] = 0,
// numbering names where the numbering comes from in messages), in model's
// numbering (quad_count + 1 bytes). Throws Failure naming the file and the item.
std::vector<uint8_t> LoadReducedSelection(const FoldOptions& options, const QuadModel& model,
                                          const std::vector<int32_t>& original, const std::string& numbering);

// LoadReducedSelection through the map of the --map file.
std::vector<uint8_t> LoadMappedSelection(const FoldOptions& options, const QuadModel& model);

// The structure in the --encode file (as --reference reads it) encoded for
// model. Throws Failure naming the file.
EncodedStructure ReadEncodedStructure(const char* path, const QuadModel& model, int32_t min_distance);

// Writes the pairs the model cannot represent, one line per kind, each
// "<kind>: <count>" followed by " i-j" for each pair: "lone pairs",
// "non-canonical pairs", "pairs out of range", "pseudoknotted pairs"; keeps
// them in figures.
void PrintUnrepresented(std::FILE* out, const EncodedStructure& encoded, FoldFigures* figures);

// Writes "reference value: <v> ratio: <v/o, 4 decimals, or ->\n": the value
// of the reference's selection (its pairs encoded) against the optimum; keeps
// both in figures.
void PrintReferenceValue(std::FILE* out, const QuadModel& model, int32_t min_distance,
                         const std::vector<BasePair>& reference, int64_t optimum, FoldFigures* figures);
