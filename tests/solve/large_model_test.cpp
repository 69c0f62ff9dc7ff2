// The optimum of large models is a local optimum of the whole Q file: its value
// is the Q file's value of the chosen quads, and no single flip of a variable and
// no swap of a chosen with an unchosen variable improves it. Entries come from
// the Q file text itself (formatted in blocks, as rnaqubo writes it) where that
// text is of a testable size, and from the model's tables beyond.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "core/sequence_reader.h"
#include "solve/optimum.h"
#include "model/feasible_pairs.h"
#include "model/quad_model.h"
#include "formats/q_file.h"

namespace {

constexpr int64_t kMinusInfinity = std::numeric_limits<int64_t>::min() / 4;

// Longest random sequence, and most Q file entries read from text: every
// window is covered either way.
#ifdef FOLD_TESTS_SMALL_MIX
constexpr int64_t kMaxLength = 901;
constexpr int64_t kTextMaxCandidates = 3'000'000;
#else
constexpr int64_t kMaxLength = 15000;
constexpr int64_t kTextMaxCandidates = 45'000'000;
#endif

int64_t EnvNumber(const char* name, int64_t fallback) {
  const char* text = std::getenv(name);
  return text != nullptr ? std::atoll(text) : fallback;
}

// Upper bound on the off-diagonal entries: the rows rnaqubo examines.
int64_t CandidateCount(const QuadModel& model) {
  int64_t count = 0;
  for (int32_t l = 1; l <= model.quad_count; ++l) {
    count += LastCouplingRow(MatrixRow(model.quads, l), model.first_row) - l;
  }
  return count;
}

// Calls visit(l, m, value) for every entry of the Q file, parsed from the text
// that FormatQRows writes, block by block.
template <typename Visit>
void VisitQText(const QuadModel& model, Visit visit) {
  const QFileText writer = MakeQFileText(model);
  std::string text;
  for (int32_t first = 1; first <= model.quad_count;) {
    int32_t last = first;
    int64_t work = 0;
    while (last < model.quad_count && work < (1 << 20)) {
      work += LastCouplingRow(MatrixRow(model.quads, last), model.first_row) - last + 1;
      ++last;
    }
    text.resize(RowsTextBound(model, first, last));
    const char* end = FormatQRows(model, writer, first, last, text.data());
    const char* p = text.data();
    auto number = [&p]() {
      while (*p == ' ') ++p;
      const bool negative = *p == '-';
      if (negative) ++p;
      int64_t value = 0;
      while (*p >= '0' && *p <= '9') value = value * 10 + (*p++ - '0');
      return negative ? -value : value;
    };
    while (p < end) {
      const int64_t l = number(), m = number(), value = number();
      EXPECT_EQ(*p, '\n');
      ++p;
      visit(static_cast<int32_t>(l), static_cast<int32_t>(m), value);
    }
    first = last + 1;
  }
}

// Calls visit(l, m, value) for every entry of the model, from its tables.
template <typename Visit>
void VisitModelEntries(const QuadModel& model, Visit visit) {
  std::vector<uint8_t> flags;
  for (int32_t l = 1; l <= model.quad_count; ++l) {
    visit(l, l, model.score[l]);
    if (model.next[l] > 0) visit(l, model.next[l], kStackLinkValue);
    if (model.chain[l] > 0) visit(l, model.chain[l], kChainBonusValue);
    const int32_t* ql = MatrixRow(model.quads, l);
    const int32_t last = LastCouplingRow(ql, model.first_row);
    if (last <= l) continue;
    flags.resize(static_cast<size_t>(last - l));
    FlagQuadConflicts(ql, model.columns, l + 1, last, flags.data());
    for (int32_t m = l + 1; m <= last; ++m) {
      if (flags[m - l - 1] != 0) visit(l, m, model.penalty);
    }
  }
}

// Checks value and local optimality of chosen with the entries that visit_all
// enumerates (called twice).
template <typename VisitAll>
void CheckLocalOptimum(const QuadModel& model, const std::vector<uint8_t>& chosen, int64_t value,
                       VisitAll visit_all) {
  const int32_t q = model.quad_count;
  std::vector<int64_t> diagonal(q + 1, 0), with_chosen(q + 1, 0);
  int64_t total = 0;
  visit_all([&](int32_t l, int32_t m, int64_t entry) {
    if (l == m) {
      diagonal[l] = entry;
      total += chosen[l] ? entry : 0;
      return;
    }
    if (chosen[l] && chosen[m]) total += entry;
    if (chosen[m]) with_chosen[l] += entry;
    if (chosen[l]) with_chosen[m] += entry;
  });
  ASSERT_EQ(total, value) << "the printed value is not the Q file's value of the printed quads";

  // keep[u]: what chosen u adds to the selection; gain[v]: what unchosen v would.
  std::vector<int32_t> members;
  for (int32_t v = 1; v <= q; ++v) {
    const int64_t contribution = diagonal[v] + with_chosen[v];
    if (chosen[v]) {
      ASSERT_GE(contribution, 0) << "dropping quad " << v << " improves";
      members.push_back(v);
    } else {
      ASSERT_LE(contribution, 0) << "adding quad " << v << " improves";
    }
  }
  if (members.empty()) return;
  // A swap of chosen u for unchosen v changes the value by
  // gain[v] - keep[u] - entry(u, v): coupled couples are taken entry by entry,
  // uncoupled ones through the chosen quads of smallest keep.
  std::sort(members.begin(), members.end(), [&](int32_t a, int32_t b) {
    return diagonal[a] + with_chosen[a] < diagonal[b] + with_chosen[b];
  });
  const size_t tracked = std::min<size_t>(members.size(), 64);
  std::vector<int8_t> rank(q + 1, -1);
  for (size_t k = 0; k < tracked; ++k) rank[members[k]] = static_cast<int8_t>(k);
  std::vector<int64_t> best_coupled(q + 1, kMinusInfinity);
  std::vector<uint64_t> coupled_top(q + 1, 0);
  visit_all([&](int32_t l, int32_t m, int64_t entry) {
    if (l == m || (chosen[l] != 0) == (chosen[m] != 0)) return;
    const int32_t u = chosen[l] ? l : m;
    const int32_t v = chosen[l] ? m : l;
    best_coupled[v] = std::max(best_coupled[v], -entry - diagonal[u] - with_chosen[u]);
    if (rank[u] >= 0) coupled_top[v] |= uint64_t{1} << rank[u];
  });
  for (int32_t v = 1; v <= q; ++v) {
    if (chosen[v]) continue;
    // The first tracked member not coupled with v; if all are, the last tracked
    // one bounds every later member from above.
    int64_t best_uncoupled = kMinusInfinity;
    const uint64_t free_bits = ~coupled_top[v] & (tracked == 64 ? ~uint64_t{0} : (uint64_t{1} << tracked) - 1);
    if (free_bits != 0) {
      const int32_t u = members[__builtin_ctzll(free_bits)];
      best_uncoupled = -diagonal[u] - with_chosen[u];
    } else if (members.size() > tracked) {
      const int32_t u = members[tracked];
      best_uncoupled = -diagonal[u] - with_chosen[u];
    }
    const int64_t gain = diagonal[v] + with_chosen[v];
    ASSERT_LE(gain + std::max(best_coupled[v], best_uncoupled), 0) << "a swap bringing in quad " << v << " improves";
  }
}

struct LargeCase {
  std::string name;
  std::string letters;
  int32_t min_distance;
  int32_t add_quads;
  int32_t penalty;
};

std::string ReadExample(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  int32_t n = std::atoi(text.c_str());
  std::string buffer(static_cast<size_t>(n) + 2, '\0');
  ByteStream stream = MemoryStream(reinterpret_cast<const unsigned char*>(text.data()), text.size());
  int32_t count = 0;
  bool count_read = false;
  EXPECT_EQ(ScanSequence(&stream, n, buffer.data(), &count, &count_read), SequenceOutcome::kComplete) << path;
  return buffer.substr(1, n);
}

std::vector<LargeCase> LargeCases() {
  std::vector<LargeCase> cases;
  const int64_t max_length = EnvNumber("FOLD_LARGE_MAX_LENGTH", kMaxLength);
  for (const char* example : {"srp_ecoli.txt", "vault1.txt", "rnasep_bsu.txt"}) {
    const std::string letters = ReadExample(std::string(RNAQUBO_EXAMPLES_DIR) + "/" + example);
    cases.push_back({example, letters, 4, 1, -200});
    cases.push_back({example, letters, 0, 0, -83});
  }
  // Every pairing window: the whole sequence, 200 and 150 positions.
  std::mt19937 random(1208);
  const int32_t lengths[] = {120, 480, 501, 650, 900, 901, 1500, 5000, 15000};
  for (size_t k = 0; k < std::size(lengths); ++k) {
    if (lengths[k] > max_length) continue;
    std::string letters;
    for (int32_t p = 0; p < lengths[k]; ++p) letters += "ACGUGC"[random() % (k % 2 ? 6 : 4)];
    cases.push_back({"random " + std::to_string(lengths[k]), letters, static_cast<int32_t>(k % 6) - 1,
                     static_cast<int32_t>(k % 2), k % 3 ? -200 : -83});
  }
  return cases;
}

TEST(FoldOptimum, IsALocalOptimumOfLargeModels) {
  const int64_t text_limit = EnvNumber("FOLD_TEXT_MAX_CANDIDATES", kTextMaxCandidates);
  int text_checked = 0;
  for (const LargeCase& c : LargeCases()) {
    SCOPED_TRACE(c.name + " min_distance " + std::to_string(c.min_distance) + " add_quads " +
                 std::to_string(c.add_quads) + " penalty " + std::to_string(c.penalty));
    const std::string buffer = '\0' + c.letters + '\0';
    const int32_t n = static_cast<int32_t>(c.letters.size());
    const QuadModel model = BuildQuadModel(buffer.data(), n, c.min_distance, c.add_quads, c.penalty);
    ASSERT_LE(c.penalty, -QuadModelBound(model)) << "only certified optima are local optima of the QUBO";
    std::vector<uint8_t> chosen(model.quad_count + 1);
    const int64_t value = FoldOptimum(model, chosen.data());
    ASSERT_GT(value, 0);
    int64_t conflicts = -1;
    ASSERT_EQ(SelectionValue(model, chosen.data(), &conflicts), value);
    ASSERT_EQ(conflicts, 0);
    if (CandidateCount(model) <= text_limit) {
      ++text_checked;
      CheckLocalOptimum(model, chosen, value, [&](auto visit) { VisitQText(model, visit); });
    } else {
      CheckLocalOptimum(model, chosen, value, [&](auto visit) { VisitModelEntries(model, visit); });
    }
    if (HasFatalFailure()) return;
  }
  EXPECT_GE(text_checked, 4) << "the Q file text must be the source for the smaller models";
}

}  // namespace
