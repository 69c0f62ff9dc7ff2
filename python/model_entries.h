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

// Where each row's entries start in the Q file's list of entries: element l - 1
// (l = 1..Q) is the 0-based index of row l's diagonal entry, element Q the
// number of entries. Runs on up to thread_count threads.
std::vector<int64_t> RowEntryOffsets(const QuadModel& model, int thread_count);

// The entries of rows first..last (1-based) in the Q file's order, written at
// index offsets[first - 1] onwards: rows[k] and columns[k] are the variables
// (1-based, minus shift), values[k] the coefficient, negated when negate is set.
void FillRowEntries(const QuadModel& model, int32_t first, int32_t last, const int64_t* offsets, int32_t shift,
                    bool negate, int32_t* rows, int32_t* columns, int32_t* values);

// FillRowEntries for rows 1..Q on up to thread_count threads.
void FillAllEntries(const QuadModel& model, const std::vector<int64_t>& offsets, int32_t shift, bool negate,
                    int thread_count, int32_t* rows, int32_t* columns, int32_t* values);

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
