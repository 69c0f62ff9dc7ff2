// The model of one sequence as the Python module holds it, and its Q-file
// entries as integer arrays.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/index_arrays.h"
#include "model/kept_entries.h"
#include "model/quad_model.h"
#include "core/failure.h"
#include "formats/instance_files.h"

// The model of one sequence: its letters and every table of the model, all
// owned by arena.
struct SequenceModel {
  TableArena arena;
  std::string name;      // the record's name when read from FASTA, FASTQ or Stockholm, else empty
  std::string letters;   // the n letters, each A, C, G or U
  bool has_reference = false;  // true when read from a Stockholm row with a structure
  std::string reference;  // that structure, dot-bracket over letters
  std::string source_path;  // the file the sequence was read from, empty for a sequence given as text
  char* buffer;          // letters at positions 1..n, zero at 0 and n + 1
  int32_t n;
  int32_t min_distance;  // a pair (i, j) needs j - i above this
  int32_t pair_count;    // feasible pairs
  QuadModel q;           // the quads (rows 1..q.quad_count), add_quads, penalty, lookup tables
};

// Builds the model of letters (1 or more of A, C, G, U) without printing.
// Throws TableAllocationFailure when a table cannot be allocated or a count
// does not fit in 32 bits.
std::unique_ptr<SequenceModel> BuildSequenceModel(const std::string& letters, int32_t min_distance,
                                                  int32_t add_quads, int32_t penalty);

// Writes the instance file of kind for model at path, atomically, as
// WriteLpInstance, WriteMilpInstance (pairwise: MilpForm::kPairwise) and
// WriteQuboInstance (values negated when negate is set) write it, with the
// record's name (for a file without one, the file's name without directory and
// extension) and input (the file read, "-" for a sequence given as text), never
// over the file the sequence was read from: over the whole model, or over reduction (its
// DELTA as given in reduce) when reduction is not nullptr. Throws Failure kFile
// naming path when it cannot be written.
// The file model was read from, as a file its writers must not replace (none
// for a sequence given as text).
std::vector<KeptFile> SourceFiles(const SequenceModel& model);

void WriteModelInstance(const SequenceModel& model, InstanceKind kind, const std::string& path, bool negate,
                        bool pairwise, const KeptVariables* reduction = nullptr, const std::string& reduce = "");
