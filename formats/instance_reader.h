// The model an instance file was written from, read back from its comment
// lines (see formats/instance_files.h), so that an answer to the instance can be
// decoded without retyping the model's arguments. No printing; failures thrown.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/optimum_distance.h"
#include "formats/instance_files.h"
#include "model/quad_model.h"

// What an instance file's comment lines record.
struct InstanceSettings {
  InstanceKind kind;     // lp, milp or qubo
  std::string name;      // the record's name as written (escaped)
  std::string sequence;  // the letters, each A, C, G or U
  std::string input;     // the sequence file the instance was made from, as written
  int32_t min_distance;
  int32_t add_quads;
  int32_t penalty;
  int32_t quad_count;    // variables of the instance (of the reduced model for a reduction), checked by the caller
  std::string reduce;    // the reduction's DELTA as recorded, empty for the whole model
  OptimumDistance reduce_distance;  // that DELTA, parsed
  int32_t original_count = 0;  // for a reduction, the whole model's variables ("reduced: Q' of Q")
  bool negated = false;  // the line "values: negated, ..." (the entries are minus the model's)
};

// Reads the comment lines at the top of the instance file at path (lines
// starting with "c " or "\\ ", up to the first other line). Throws Failure kFile
// "<path>: cannot read: <reason>" when it cannot be read, and kData
// "<path>: instance file: <what>" when the first line is not
// "rnaqubo instance: lp|milp|qubo", a setting is missing, given twice or not a
// 32-bit number, the sequence holds a letter other than A, C, G, U, or its
// length differs from the recorded one; for a reduction, when "reduce:" and
// "reduced:" do not come together, DELTA is not a distance, or "reduced: <Q'> of <Q>" is malformed or
// its Q' differs from "variables:".
InstanceSettings ReadInstanceSettings(const std::string& path);

// The model an instance records (the whole model, also for a reduction): its
// sequence in a buffer of AllocateSequenceBuffer (letters at 1..n, zero at 0
// and n + 1) and BuildQuadModel over it with the recorded settings (*pair_count,
// when given, set as BuildQuadModel sets it).
QuadModel BuildInstanceModel(const InstanceSettings& instance, int32_t* pair_count = nullptr);
