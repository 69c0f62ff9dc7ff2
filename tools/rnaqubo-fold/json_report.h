// rnaqubo-fold --json: the figures of one run, gathered where the text report
// prints them, written as one JSON object (docs/rnaqubo-fold.1 gives its
// schema). The object is built with nlohmann-json when the build found it;
// this header is plain.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/dot_bracket.h"
#include "formats/output_file.h"
#include "model/quad_model.h"
#include "structure/reference_structure.h"

// The agreement of two sets of base pairs, as the text report prints it.
struct ScoreFigures {
  bool given = false;
  PairScores scores{};
};

// A ratio to the optimum: undefined ("-" in the text) when the optimum is 0.
struct RatioFigure {
  bool defined = false;
  double value = 0;
};

// The figures of a run; each part is present only when its lines are printed.
struct FoldFigures {
  // The model.
  std::string sequence;
  int32_t min_distance = 0;
  int32_t add_quads = 0;
  int32_t penalty = 0;
  int32_t pair_count = 0;
  int32_t quad_count = 0;
  // The selection shown: the optimum, or the --solution/--encode selection.
  std::string structure;        // its dot-bracket form, empty when conflict_count > 0
  int64_t value = 0;
  int64_t conflict_count = 0;
  std::vector<int32_t> quads;   // chosen variables, ascending
  bool has_instance_quads = false;
  std::vector<int32_t> instance_quads;  // as the --instance file numbers them
  std::vector<int32_t> missing_quads;   // chosen variables not in the reduced instance
  int64_t optimum = 0;
  // The certificate, printed for the optimum.
  bool has_certificate = false;
  bool certified = false;
  int32_t bound = 0;
  // The assessment of a given selection.
  bool has_assessment = false;
  RatioFigure ratio;
  std::vector<QuadCouple> conflicts;
  ScoreFigures against_optimum;
  // --encode: the pairs the model cannot represent.
  bool has_unrepresented = false;
  std::vector<BasePair> lone, mismatched, out_of_range, pseudoknotted;
  // --reference.
  ScoreFigures against_reference;
  int64_t reference_value = 0;
  RatioFigure reference_ratio;
  // --subopt.
  bool has_subopt = false;
  std::string optima_count;  // decimal text: counts may pass 64 bits
  bool optima_saturated = false;
  std::string subopt_delta;  // as given
  int64_t subopt_optimum = 0;
  std::string subopt_count;
  bool subopt_exact = true;
  int64_t subopt_listed = 0;
  // --reduce.
  bool has_reduced = false;
  std::string reduce_delta;
  int64_t reduce_optimum = 0;
  int64_t reduced_count = 0;
  // --ensemble.
  bool has_ensemble = false;
  std::string temperature;  // as given
  double log_z = 0;
  int64_t sample_count = 0;
};

// Fills the model part of figures from model (pair_count: its feasible pairs).
void GatherModelFigures(const QuadModel& model, int32_t min_distance, int32_t pair_count, FoldFigures* figures);

// The selection part: chosen holds quad_count + 1 bytes; structure is the
// dot-bracket text printed (empty for a selection with conflicts).
void GatherSelectionFigures(const QuadModel& model, const uint8_t* chosen, const std::string& structure,
                            int64_t value, int64_t conflict_count, FoldFigures* figures);

// Why --json is refused by a build without nlohmann-json.
inline constexpr const char* kJsonMissingReason =
    "--json: this rnaqubo-fold was built without nlohmann-json (Debian: nlohmann-json3-dev)";

// Whether this build can write --json (it was built with nlohmann-json).
bool JsonReportAvailable();

// The JSON object of figures on one line, with a final line end.
// Bytes of names that are not UTF-8 are replaced (U+FFFD).
std::string FormatFoldJson(const FoldFigures& figures);

// Writes text to the --json file path, whole or not at all, never over one of
// inputs. Throws OutputFileFailure naming the file.
void WriteFoldJson(const char* path, const std::string& text, const std::vector<KeptFile>& inputs);
