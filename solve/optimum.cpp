#include "solve/optimum.h"

#include <algorithm>
#include <vector>

#include "model/feasible_pairs.h"
#include "model/quad_couplings.h"

namespace {

// Below every reachable value: marks a choice that does not exist.
constexpr int64_t kNoChoice = INT64_MIN / 4;

// The recursion's tables. With q(i, k) the quad of outer pair (i, k):
//   closed[2q + p] = the best value within positions i..k given q chosen,
//     counting its score and everything inside it; p = 1 when the quad one step
//     outside is chosen and carries a chain bonus to the quad one step inside q
//     (so that choosing that inner quad earns 16 more).
//   inside[a * band + d] = F(a, a + d), the best selection within positions
//     a..a + d, for 0 <= d < band (pairs span at most the window, so no wider
//     interval is ever needed); rows n + 1 and n + 2 are zero.
//   exterior[a] = the best selection within positions a..n.
struct FoldTables {
  int32_t band;
  std::vector<int64_t> inside;
  std::vector<int64_t> closed;
  std::vector<int64_t> exterior;
};

// F(a, b); 0 for an empty interval. Requires b - a < band.
inline int64_t Inside(const FoldTables& tables, int32_t a, int32_t b) {
  if (b < a) return 0;
  return tables.inside[static_cast<size_t>(a) * tables.band + static_cast<size_t>(b - a)];
}

inline int32_t OuterEnd(const QuadModel& model, int32_t q) { return MatrixRow(model.quads, q)[1]; }

// The value inside chosen quad q (i, k) when the quad one step inside it is not
// chosen: the free interval i + 2..k - 2, or the quad two steps inside with the
// chain bonus it earns from q.
inline int64_t OpenInterior(const QuadModel& model, const FoldTables& tables, int32_t q, int32_t i,
                            int32_t k) {
  int64_t best = Inside(tables, i + 2, k - 2);
  const int32_t link = model.next[q];
  const int32_t two_inside = link > 0 ? model.next[link] : 0;
  if (two_inside > 0) {
    const int64_t bonus = model.chain[q] > 0 ? kChainBonusValue : 0;
    best = std::max(best, bonus + tables.closed[2 * static_cast<size_t>(two_inside)]);
  }
  return best;
}

// The value inside chosen quad q when the quad one step inside is chosen too,
// with p as for closed; kNoChoice when q's stack cannot continue.
inline int64_t ContinuedInterior(const QuadModel& model, const FoldTables& tables, int32_t q, int32_t p) {
  const int32_t link = model.next[q];
  if (link == 0) return kNoChoice;
  const int32_t carries = model.chain[q] > 0 ? 1 : 0;
  return kStackLinkValue + p * kChainBonusValue + tables.closed[2 * static_cast<size_t>(link) + carries];
}

// Fills every table, from the 3' end to the 5' end.
void FillTables(const QuadModel& model, FoldTables* tables) {
  const int32_t n = model.n;
  const int32_t band = tables->band;
  for (int32_t a = n; a >= 1; --a) {
    const int32_t first = model.first_row[a];
    const int32_t end = model.first_row[a + 1];
    // Closed values need only quads starting at a + 1 and a + 2 and F rows
    // from a + 2 on, all filled already.
    for (int32_t q = first; q < end; ++q) {
      const int32_t k = OuterEnd(model, q);
      const int64_t open = OpenInterior(model, *tables, q, a, k);
      for (int32_t p = 0; p <= 1; ++p) {
        tables->closed[2 * static_cast<size_t>(q) + p] =
            model.score[q] + std::max(open, ContinuedInterior(model, *tables, q, p));
      }
    }
    // F(a, b): a unpaired, or a opens a quad q(a, k) followed by F(k + 1, b).
    int64_t* row = tables->inside.data() + static_cast<size_t>(a) * band;
    const int64_t* below = row + band;
    const int32_t reach = std::min(band - 1, n - a);
    row[0] = 0;
    for (int32_t d = 1; d <= reach; ++d) row[d] = below[d - 1];
    for (int32_t q = first; q < end; ++q) {
      const int32_t span = OuterEnd(model, q) - a;
      const int64_t value = tables->closed[2 * static_cast<size_t>(q)];
      const int64_t* after = tables->inside.data() + static_cast<size_t>(a + span + 1) * band;
      row[span] = std::max(row[span], value);
      for (int32_t d = span + 1; d <= reach; ++d) row[d] = std::max(row[d], value + after[d - span - 1]);
    }
    int64_t best = tables->exterior[a + 1];
    for (int32_t q = first; q < end; ++q) {
      best = std::max(best, tables->closed[2 * static_cast<size_t>(q)] + tables->exterior[OuterEnd(model, q) + 1]);
    }
    tables->exterior[a] = best;
  }
}

// A piece of the traceback: a chosen quad q with its p, or (q == 0) the free
// interval a..b.
struct TraceStep {
  int32_t q;
  int32_t p;
  int32_t a;
  int32_t b;
};

// Decides the free interval a..b, whose best value is given by value(a): each
// position from 5' on stays unpaired if value(a + 1) is as good, else opens the
// nearest quad that reaches value(a). Pushes the chosen quads.
template <typename Best>
void TraceInterval(const QuadModel& model, const FoldTables& tables, int32_t a, int32_t b, Best value,
                   std::vector<TraceStep>* steps) {
  while (a <= b) {
    const int64_t here = value(a);
    if (here == value(a + 1)) {
      ++a;
      continue;
    }
    int32_t next_a = b + 1;
    for (int32_t q = model.first_row[a]; q < model.first_row[a + 1]; ++q) {
      const int32_t k = OuterEnd(model, q);
      if (k > b) break;
      if (tables.closed[2 * static_cast<size_t>(q)] + value(k + 1) == here) {
        steps->push_back(TraceStep{q, 0, 0, 0});
        next_a = k + 1;
        break;
      }
    }
    a = next_a;
  }
}

}  // namespace

int64_t FoldOptimum(const QuadModel& model, uint8_t* chosen) {
  const int32_t n = model.n;
  std::fill(chosen, chosen + static_cast<size_t>(model.quad_count) + 1, uint8_t{0});
  FoldTables tables;
  tables.band = std::min(PairingWindowWidth(n), n) + 1;
  tables.inside.assign((static_cast<size_t>(n) + 3) * tables.band, 0);
  tables.closed.assign(2 * (static_cast<size_t>(model.quad_count) + 1), 0);
  tables.exterior.assign(static_cast<size_t>(n) + 2, 0);
  FillTables(model, &tables);

  std::vector<TraceStep> steps;
  TraceInterval(model, tables, 1, n, [&](int32_t a) { return tables.exterior[a]; }, &steps);
  while (!steps.empty()) {
    const TraceStep step = steps.back();
    steps.pop_back();
    if (step.q == 0) {
      const int32_t b = step.b;
      TraceInterval(model, tables, step.a, b, [&](int32_t a) { return Inside(tables, a, b); }, &steps);
      continue;
    }
    const int32_t q = step.q;
    chosen[q] = 1;
    const int32_t* quad = MatrixRow(model.quads, q);
    const int64_t rest = tables.closed[2 * static_cast<size_t>(q) + step.p] - model.score[q];
    if (ContinuedInterior(model, tables, q, step.p) == rest) {
      steps.push_back(TraceStep{model.next[q], model.chain[q] > 0 ? 1 : 0, 0, 0});
    } else if (Inside(tables, quad[0] + 2, quad[1] - 2) == rest) {
      steps.push_back(TraceStep{0, 0, quad[0] + 2, quad[1] - 2});
    } else {
      steps.push_back(TraceStep{model.next[model.next[q]], 0, 0, 0});
    }
  }
  return tables.exterior[1];
}

void WriteDotBracket(const QuadModel& model, const uint8_t* chosen, char* out) {
  std::fill(out, out + model.n, '.');
  out[model.n] = '\0';
  for (int32_t q = 1; q <= model.quad_count; ++q) {
    if (chosen[q] != 0) MarkQuadPairs(model, &q, 1, out);
  }
}
