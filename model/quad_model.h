// The quad model as a solver sees it: the quads of one sequence with every
// coefficient of the Q file (stacking scores, stack links, chain bonuses and
// conflicts), and the value of any selection of quads. Variables are quad rows,
// numbered from 1 as in the Q file. Nothing here prints or ends the process;
// an allocation that fails throws Failure as the index arrays do.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/index_arrays.h"
#include "model/quad_couplings.h"

// One sequence's model. The tables are made once, by the index arrays: in the
// executables they live as long as the process; in the Python module they
// belong to the model's arena and are freed with the model.
struct QuadModel {
  const char* buffer;   // letters at positions 1..n (not owned)
  int32_t n;
  IntMatrix quads;      // rows 1..quad_count: i, j, i + 1, j - 1, sorted by outer pair
  int32_t quad_count;
  int32_t add_quads;    // non-zero: chain bonuses are part of the model
  int32_t penalty;      // value of every conflicting couple
  IntArray first_row;   // IndexQuadsByPosition: quads starting at i are first_row[i]..first_row[i + 1] - 1
  IntArray next;        // LinkStackedQuads: the quad continuing l's stack (8 on (l, next[l])), 0 if none
  IntArray chain;       // the quad r with the chain bonus 16 on (l, r), 0 if none
  IntArray score;       // StackScore of each quad: the diagonal entry
  QuadColumns columns;  // SplitQuadColumns, for conflict scans
};

// A couple of variables l < m (1-based rows).
struct QuadCouple {
  int32_t l;
  int32_t m;
};

// The model over quads (rows 1..quad_count) of buffer (positions 1..n), with the
// chain bonus on when add_quads is non-zero and penalty on every conflict.
QuadModel MakeQuadModel(const char* buffer, int32_t n, IntMatrix quads, int32_t quad_count,
                        int32_t add_quads, int32_t penalty);

// The whole model of the sequence in buffer (letters at 1..n): its quads with
// pairs more than min_distance apart, exactly as rnaqubo numbers them, and
// MakeQuadModel over them; *pair_count, when given, is set to the count of
// feasible pairs the quads were made from (as rnaqubo prints it).
QuadModel BuildQuadModel(const char* buffer, int32_t n, int32_t min_distance, int32_t add_quads,
                         int32_t penalty, int32_t* pair_count = nullptr);

// The Q file's value of a selection: the sum of the entries whose row and column
// are both chosen (scores, links, chain bonuses, penalty x conflicting couples).
// chosen holds quad_count + 1 bytes, chosen[v] != 0 for a chosen variable v
// (1-based; chosen[0] unused). Sets *conflict_count to the number of chosen
// couples that conflict, when conflict_count is not null.
int64_t SelectionValue(const QuadModel& model, const uint8_t* chosen, int64_t* conflict_count);

// The conflicting couples (l < m) of a selection (as for SelectionValue),
// ascending by l, then m.
std::vector<QuadCouple> ListSelectionConflicts(const QuadModel& model, const uint8_t* chosen);

// Appends to columns the chosen m > l that conflict with quad l, ascending.
void ListRowConflicts(const QuadModel& model, const uint8_t* chosen, int32_t l,
                      std::vector<int32_t>* columns);

// The dot-bracket marks of quads (count rows, 1-based) in structure, which
// holds positions 1..n at structure[0..n - 1]: '(' at the lower and ')' at the
// higher position of each pair of each quad; other characters are left as they
// are (a '.' structure marked by a conflict-free selection is its dot-bracket).
void MarkQuadPairs(const QuadModel& model, const int32_t* quads, size_t count, char* structure);

// The model's own bound B >= 0: the largest score of a quad plus all its positive
// link and chain couplings (row or column). With penalty <= -B, dropping a quad
// from a selection that holds a conflict never lowers its value, so the best
// conflict-free selection is the maximum of the whole model.
int32_t QuadModelBound(const QuadModel& model);

// Whether penalty certifies a model whose bound (QuadModelBound or a sub-model's)
// is bound: penalty <= -bound, compared without overflow at the int32 limits.
bool PenaltyCertifies(int32_t penalty, int32_t bound);
