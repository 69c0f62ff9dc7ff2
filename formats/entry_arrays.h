// The Q file's entries of a model as integer arrays, in the file's order, made
// on threads: for the Python module's coo and for the tests.
#pragma once

#include <cstdint>
#include <vector>

#include "model/quad_model.h"

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
