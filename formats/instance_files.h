// Instance files for solvers outside this project, all made from the one model
// through the row-entry walker: the LP format with a quadratic objective (CPLEX,
// Gurobi, SCIP), a linear MILP in the LP format (CBC, GLPK) and the .qubo text
// format (qbsolv and other annealers). Each starts with comment lines that name
// the record, its sequence and the five arguments of the model, so that an
// answer can be decoded from the instance file alone. Files are written
// atomically (complete or not at all); failures are thrown, never printed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/kept_entries.h"
#include "model/quad_model.h"
#include "formats/output_file.h"

// What an instance file records of the model besides its entries.
struct InstanceHeader {
  std::string name;        // the record's name (any bytes; shown through ShowText, "-" when empty)
  std::string input;       // the sequence file as given, or "-" for a sequence from memory
  int32_t min_distance;    // a pair (i, j) needs j - i above this
  const KeptVariables* reduction = nullptr;  // the variables of a reduced model, nullptr for the whole model
  std::string reduce = {};  // the reduction's DELTA as given ("10%"), when reduction is set
};

// The name of a record read from the file at path that has none of its own:
// the file's name without its directory and its last extension.
std::string RecordNameOfFile(const std::string& path);

// The three kinds of instance file.
enum class InstanceKind {
  kLp,    // "lp": quadratic objective, variables x<k> for the model's variable k (1-based)
  kMilp,  // "milp": linear, x<k> as for kLp and y<l>_<m> for the coupling (l, m)
  kQubo,  // "qubo": nodes from 0, node k - 1 being the model's variable k
};

// The comment lines of an instance of model, each starting with prefix ("c " for
// .qubo, "\\ " for LP): "rnaqubo instance: <kind>", "name: ", "sequence: ",
// "input: ", "length: ", "min_distance: ", "add_quads: ", "penalty: ", for a
// reduced model "reduce: <DELTA>" and "reduced: <Q'> of <Q>", then
// "variables: <Q or Q'>", "numbering: ..." and "values: ...", in that order, one
// line each ending in '\n'. negated tells whether the values are negated.
std::string FormatInstanceHeader(const QuadModel& model, const InstanceHeader& header, InstanceKind kind,
                                 bool negated, const char* prefix);

// The bound of QuadModelBound over the entries of the instance's variables
// (all of model's, or those of header.reduction): the largest score plus all
// positive couplings of a variable among them. A sub-model's entries are a
// subset of the model's, so its bound is never above QuadModelBound(model).
int32_t InstanceBound(const QuadModel& model, const InstanceHeader& header);

// Whether the MILP of the instance states conflicts as x_l + x_m <= 1: the
// penalty is negative and at most minus InstanceBound, so that the best
// conflict-free selection among its variables is the maximum of its model (a
// penalty certified for the whole model is certified for any sub-model).
bool MilpUsesConflictConstraints(const QuadModel& model, const InstanceHeader& header);

// Each writer below writes the instance over the variables of header (the
// whole model, or the reduced model numbered 1..Q' as its map says), exactly
// the model's entries among them.

// Starts and discards the instance file of kind at path, so that a
// destination that cannot be written (or is one of kept) is reported before
// the run's work; a FIFO or a device is left alone, to be written once. Throws
// as the writers below do.
void ProbeInstanceFile(const std::string& path, InstanceKind kind, const std::vector<KeptFile>& kept);

// Writes the LP file of model at path: "Maximize", the diagonal as linear terms,
// the couplings as "[ 2v x<l> * x<m> ... ] / 2", a "Binary" section and "End".
// A final name that is one of kept (the run's inputs) is refused. Throws Failure
// kFile "<path>: lp file: cannot write: <reason>" (with path and errno), kMemory
// when memory is short; the partial file is removed.
void WriteLpInstance(const QuadModel& model, const InstanceHeader& header, const std::string& path,
                     const std::vector<KeptFile>& kept);

// How the MILP states conflicts when MilpUsesConflictConstraints holds.
enum class MilpForm {
  kPositions, // for each position p, the quads holding p minus the y of the stack
              // links among them sum to at most 1 (p pairs once); x_l + x_m <= 1
              // for the conflicting couples that share no position (they cross)
  kPairwise,  // x_l + x_m <= 1 for every conflicting couple
};

// Writes the linear MILP of model at path, as for WriteLpInstance ("milp file" in
// messages): the objective over x<k> and one y<l>_<m> (continuous, >= 0) per
// coupling taken into it, with y <= x_l and y <= x_m for a positive value; a
// negative penalty either as the constraint x_l + x_m <= 1 (when
// MilpUsesConflictConstraints) or as y >= x_l + x_m - 1 in the objective. A
// zero penalty adds nothing. A MILP without such rows has the row x1 <= 1, one
// without variables the variable "unused" (0 in the objective, <= 0), so that
// every LP reader takes it. With form kPositions the conflicts that share a
// position are stated per position as MilpForm says: the same selections are
// feasible, and the relaxation is tighter. A comment line says which form was used and why.
void WriteMilpInstance(const QuadModel& model, const InstanceHeader& header, const std::string& path,
                       const std::vector<KeptFile>& kept, MilpForm form = MilpForm::kPositions);

// Writes the instance file of kind at path: WriteLpInstance, WriteMilpInstance
// (MilpForm::kPairwise when pairwise, else kPositions) or WriteQuboInstance
// (values negated when negate is set), with their failures.
void WriteInstance(InstanceKind kind, const QuadModel& model, const InstanceHeader& header, const std::string& path,
                   bool negate, bool pairwise, const std::vector<KeptFile>& kept);

// Throws Failure kUsage "the penalty -2147483648 has no 32-bit negation" when
// penalty has no negation in 32 bits: the values of a negated instance are read
// back as 32-bit numbers, by the solvers and by this system's readers alike.
void CheckNegatedPenalty(int32_t penalty);

// Writes the .qubo file of model at path (the one .qubo writer, reduced
// models' included): the comment lines, "p qubo 0 Q Q
// <couplings>", the diagonal entries "k k value", then the couplings "l m value"
// sorted by l then m, nodes from 0, values negated when negate is set ("qubo
// file" in messages). Negating refuses a penalty of INT32_MIN before any
// file is made (CheckNegatedPenalty).
void WriteQuboInstance(const QuadModel& model, const InstanceHeader& header, const std::string& path, bool negate,
                       const std::vector<KeptFile>& kept);
