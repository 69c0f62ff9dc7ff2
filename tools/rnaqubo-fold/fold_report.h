// The lines rnaqubo-fold prints for a selection, in RNAfold's layout: the
// sequence, the structure with its value, the chosen variables; then the
// certificate of an optimum, or the assessment of a given selection.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "model/quad_model.h"
#include "tools/rnaqubo-fold/json_report.h"

// Writes "<sequence>\n", then "<dot-bracket> (<value>)\n" when conflict_count is
// 0, or "not a secondary structure: <K> conflicting couples (<value>)\n", then
// "quads: <v1> <v2> ...\n" (1-based, ascending; "quads:" alone when none).
// chosen holds quad_count + 1 bytes, chosen[v] != 0 for a chosen variable v.
// Each function here also keeps in figures what it prints.
void PrintSelectionLines(std::FILE* out, const QuadModel& model, const uint8_t* chosen, int64_t value,
                         int64_t conflict_count, FoldFigures* figures);

// Writes "instance quads: <k1> <k2> ...\n", the chosen variables as an instance
// file numbers them (1-based, ascending): renumbered[v] for variable v of a
// reduced instance, v itself when renumbered is null. When a chosen variable
// is not in the reduced instance, writes "instance quads: none: quads <v1> ...
// are not in the reduced instance\n" instead.
void PrintInstanceQuads(std::FILE* out, const QuadModel& model, const uint8_t* chosen,
                        const std::vector<int32_t>* renumbered, FoldFigures* figures);

// Writes whether the conflict-free optimum is the optimum of the whole model:
// "certified: yes (penalty <P> <= -<B>)\n" when penalty <= -bound, else
// "certified: no (penalty <P> > -<B>): best conflict-free selection only; a
// selection with conflicts may score higher\n".
void PrintCertificate(std::FILE* out, int32_t penalty, int32_t bound, FoldFigures* figures);

// Writes "value: <v> optimum: <o> ratio: <v/o, 4 decimals, or - when o = 0>\n",
// "conflicts: <count>\n" and one "conflict: <l> <m>\n" per conflicting couple of
// the selection, l < m, ascending.
void PrintSolutionAssessment(std::FILE* out, const QuadModel& model, const uint8_t* chosen, int64_t value,
                             int64_t optimum, int64_t conflict_count, FoldFigures* figures);
