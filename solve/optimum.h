// The best conflict-free selection of a quad model, found exactly, and the
// dot-bracket form of a conflict-free selection. No I/O; nothing ends the
// process; memory failures throw std::bad_alloc.
//
// A conflict-free selection is a nested secondary structure, and its only
// couplings run along one helix (the stack link one quad inside, the chain bonus
// two quads inside), so the optimum follows from the interval recursion of
// interval_recursion.h in max-plus, traced back from the whole.
//
// Among equal optima the choice is fixed: the positions are decided from 5' to
// 3'. A free position stays unpaired when the optimum can still be reached so;
// otherwise it opens the quad with the nearest 3' partner that reaches it. A
// chosen quad is continued by the next quad of its stack when that reaches the
// optimum; otherwise the positions inside it are decided by the same rules.
#pragma once

#include <cstdint>

#include "model/quad_model.h"

// Finds a conflict-free selection of the highest value under the tie rule above.
// chosen receives quad_count + 1 bytes: chosen[v] = 1 for a chosen variable v
// (1-based), else 0. Returns its value (the Q file's value of the selection).
int64_t FoldOptimum(const QuadModel& model, uint8_t* chosen);

// Writes the dot-bracket string of a conflict-free selection (chosen as for
// FoldOptimum) at out: n characters for positions 1..n ('(' at the lower and ')'
// at the higher position of each pair of a chosen quad, '.' elsewhere) and a
// terminating zero, n + 1 bytes in all.
void WriteDotBracket(const QuadModel& model, const uint8_t* chosen, char* out);
