// The landscape (best_with, the count of optima, the suboptimal lists, the
// ensemble, samples, reductions and encodings) against every selection of
// small models read back from the Q file that rnaqubo writes for them, and
// against the optimum with a quad forced in on large models.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "solve/landscape.h"
#include "solve/optimum.h"
#include "solve/reduction.h"
#include "solve/structure_selection.h"
#include "model/quad_model.h"
#include "formats/q_file.h"
#include "formats/reduced_model.h"
#include "tests/solve/random_letters.h"

namespace {

#ifdef FOLD_TESTS_SMALL_MIX
constexpr int kDefaultCases = 120;
constexpr int32_t kLargeLength = 3000;
#else
constexpr int kDefaultCases = 320;
constexpr int32_t kLargeLength = 15000;
#endif

int EnvironmentCount(const char* name, int fallback) {
  const char* text = std::getenv(name);
  return text != nullptr ? std::max(1, std::atoi(text)) : fallback;
}

// A Q file read back: dense entries over variables 0..size - 1 and the
// conflicting couples as bit masks.
struct DenseModel {
  int32_t size = 0;
  std::vector<std::vector<int64_t>> entry;  // [l][m], l <= m
  std::vector<uint32_t> conflicts;          // bit m of [l]: (l, m) conflict
};

// Reads the Q file at path ("p Q 1", "l m value" lines, "-1"); an entry whose
// value is the penalty between two different variables is a conflict (the
// penalties used differ from every score, link and bonus value).
DenseModel ReadQFile(const std::string& path, int32_t penalty) {
  std::ifstream in(path);
  std::string p;
  DenseModel dense;
  int32_t one = 0;
  in >> p >> dense.size >> one;
  EXPECT_EQ(p, "p") << path;
  EXPECT_EQ(one, 1) << path;
  dense.entry.assign(dense.size, std::vector<int64_t>(dense.size, 0));
  dense.conflicts.assign(dense.size, 0);
  int64_t l = 0, m = 0, value = 0;
  while (in >> l && l != -1 && in >> m >> value) {
    dense.entry[l - 1][m - 1] = value;
    if (l != m && value == penalty) {
      dense.conflicts[l - 1] |= 1u << (m - 1);
      dense.conflicts[m - 1] |= 1u << (l - 1);
    }
  }
  EXPECT_EQ(l, -1) << path << ": no terminator";
  return dense;
}

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The .qubo text of a dense model: the header, the diagonal, then every
// coupling by row and column, from 0, values negated.
std::string QuboText(const DenseModel& dense) {
  std::string diagonal, couplings;
  int64_t count = 0;
  for (int32_t l = 0; l < dense.size; ++l) {
    diagonal += std::to_string(l) + " " + std::to_string(l) + " " + std::to_string(-dense.entry[l][l]) + "\n";
    for (int32_t m = l + 1; m < dense.size; ++m) {
      if (dense.entry[l][m] == 0 && !(dense.conflicts[l] >> m & 1u)) continue;
      couplings += std::to_string(l) + " " + std::to_string(m) + " " + std::to_string(-dense.entry[l][m]) + "\n";
      ++count;
    }
  }
  return "p qubo 0 " + std::to_string(dense.size) + " " + std::to_string(dense.size) + " " + std::to_string(count) +
         "\n" + diagonal + couplings;
}

// Every conflict-free selection of a dense model, as (value, mask).
std::vector<std::pair<int64_t, uint32_t>> ConflictFreeSelections(const DenseModel& dense) {
  std::vector<std::pair<int64_t, uint32_t>> found;
  // Depth-first over the variables, never adding one that conflicts.
  std::vector<std::pair<int32_t, uint32_t>> stack{{0, 0u}};
  while (!stack.empty()) {
    const auto [v, mask] = stack.back();
    stack.pop_back();
    if (v == dense.size) {
      int64_t value = 0;
      for (int32_t l = 0; l < dense.size; ++l) {
        if (!(mask >> l & 1u)) continue;
        for (int32_t m = l; m < dense.size; ++m) value += (mask >> m & 1u) ? dense.entry[l][m] : 0;
      }
      found.emplace_back(value, mask);
      continue;
    }
    stack.push_back({v + 1, mask});
    if ((dense.conflicts[v] & mask) == 0) stack.push_back({v + 1, mask | 1u << v});
  }
  return found;
}

std::vector<int32_t> MaskQuads(uint32_t mask) {
  std::vector<int32_t> quads;
  for (int32_t v = 0; v < 32; ++v) {
    if (mask >> v & 1u) quads.push_back(v + 1);
  }
  return quads;
}

double LogSumExp(const std::vector<double>& terms) {
  const double top = *std::max_element(terms.begin(), terms.end());
  double sum = 0;
  for (double t : terms) sum += std::exp(t - top);
  return top + std::log(sum);
}

void ExpectRelative(double got, double want, const std::string& what) {
  EXPECT_LE(std::fabs(got - want), 1e-9 * std::max(std::fabs(want), 1e-300)) << what << ": " << got << " vs " << want;
}

class LandscapeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    directory_ = std::filesystem::temp_directory_path() /
                 ("rnaqubo-landscape-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                  std::to_string(reinterpret_cast<uintptr_t>(this)));
    std::filesystem::create_directories(directory_);
  }
  void TearDown() override { std::filesystem::remove_all(directory_); }
  std::string Path(const std::string& name) const { return (directory_ / name).string(); }
  std::filesystem::path directory_;
};

// One small model with its sequence kept alive.
struct SmallCase {
  std::string buffer;
  QuadModel model;
  int32_t min_distance;
  std::string label;
};

SmallCase MakeCase(const std::string& letters, int32_t min_distance, int32_t add_quads, int32_t penalty) {
  SmallCase c;
  c.buffer = '\0' + letters + '\0';
  c.model = BuildQuadModel(c.buffer.data(), static_cast<int32_t>(letters.size()), min_distance, add_quads, penalty);
  c.min_distance = min_distance;
  c.label = letters + " " + std::to_string(min_distance) + " " + std::to_string(add_quads) + " " + std::to_string(penalty);
  return c;
}

TEST_F(LandscapeTest, EveryAnswerEqualsTheEnumerationOfSmallModels) {
  std::mt19937 random(20261209);
  const int32_t penalties[] = {-200, -83, -50, 0};
  const int cases = EnvironmentCount("FOLD_LANDSCAPE_CASES", kDefaultCases);
  int checked = 0, with_ties = 0, with_lost_pairs = 0;
  while (checked < cases) {
    const std::string letters = RandomSequence(&random);
    SmallCase c = MakeCase(letters, static_cast<int32_t>(random() % 6) - 1, static_cast<int32_t>(random() % 2),
                           penalties[checked % 4]);
    const QuadModel& model = c.model;
    if (model.quad_count > 20 || model.quad_count == 0) continue;
    ++checked;
    SCOPED_TRACE(c.label);
    const std::string q_path = Path("model.q");
    WriteQFileNamed(q_path, model, 1);
    const DenseModel dense = ReadQFile(q_path, model.penalty);
    ASSERT_EQ(dense.size, model.quad_count);
    std::vector<std::pair<int64_t, uint32_t>> all = ConflictFreeSelections(dense);
    int64_t optimum = INT64_MIN;
    for (const auto& [value, mask] : all) optimum = std::max(optimum, value);

    // best_with of every variable, from one inside and one outside pass.
    const QuadMarginals marginals = FindBestWith(model);
    ASSERT_EQ(marginals.optimum, optimum);
    for (int32_t v = 1; v <= model.quad_count; ++v) {
      int64_t best = INT64_MIN;
      for (const auto& [value, mask] : all) best = (mask >> (v - 1) & 1u) ? std::max(best, value) : best;
      ASSERT_EQ(marginals.best_with[v], best) << "variable " << v;
    }

    // The number of optima, exact.
    int64_t ties = 0;
    for (const auto& entry : all) ties += entry.first == optimum;
    const OptimaCount count = CountOptima(model);
    ASSERT_EQ(count.optimum, optimum);
    ASSERT_EQ(FormatSelectionCount(count.count), std::to_string(ties));
    ASSERT_FALSE(count.saturated);
    with_ties += ties > 1;

    // The whole suboptimal list, in its order, and a cut listing.
    std::sort(all.begin(), all.end(), [](const auto& x, const auto& y) {
      return x.first != y.first ? x.first > y.first : MaskQuads(x.second) < MaskQuads(y.second);
    });
    const int64_t deltas[] = {0, 10, 50, std::llabs(optimum) * 5 / 100};
    for (int64_t delta : deltas) {
      std::vector<std::pair<int64_t, std::vector<int32_t>>> expected;
      for (const auto& [value, mask] : all) {
        if (value >= optimum - delta) expected.emplace_back(value, MaskQuads(mask));
      }
      const SuboptListing listing = ListSuboptimal(model, OptimumDistance{delta, 0, false}, 1000000);
      ASSERT_TRUE(listing.exact);
      ASSERT_EQ(static_cast<uint64_t>(listing.total), expected.size()) << "delta " << delta;
      std::vector<std::pair<int64_t, std::vector<int32_t>>> got;
      for (size_t k = 0; k < listing.Count(); ++k) got.emplace_back(listing.Selection(k).value, listing.Selection(k).quads);
      ASSERT_EQ(got, expected) << "delta " << delta;
      // A cut listing is the first M in order; its count is exact at delta 0
      // (the optima, counted) or when all fit, and M otherwise.
      for (const size_t limit : {size_t{0}, size_t{1}, size_t{2}, size_t{5}}) {
        const SuboptListing cut = ListSuboptimal(model, OptimumDistance{delta, 0, false}, static_cast<int64_t>(limit));
        const bool exact = delta == 0 || expected.size() <= limit;
        ASSERT_EQ(cut.exact, exact) << "delta " << delta << " limit " << limit;
        ASSERT_EQ(static_cast<uint64_t>(cut.total), exact ? expected.size() : limit);
        ASSERT_EQ(cut.Count(), std::min(limit, expected.size()));
        for (size_t k = 0; k < cut.Count(); ++k) {
          ASSERT_EQ(cut.Selection(k).value, expected[k].first) << "limit " << limit << " selection " << k;
          ASSERT_EQ(cut.Selection(k).quads, expected[k].second) << "limit " << limit << " selection " << k;
        }
      }

      // The reduced model keeps exactly the selections within delta, each with
      // its value, and its map takes them back to the original numbering.
      const KeptVariables reduced = ReduceModel(model, marginals, delta);
      const std::string prefix = Path("reduced");
      InstanceHeader header{"r", "-", c.min_distance};
      header.reduction = &reduced;
      header.reduce = std::to_string(delta);
      WriteReducedModel(prefix, model, header);
      WriteReducedModel(prefix + "_threads", model, header, {}, 2);
      ASSERT_EQ(FileText(prefix + ".q"), FileText(prefix + "_threads.q")) << "the two Q file writers differ";
      const DenseModel small = ReadQFile(prefix + ".q", model.penalty);
      const std::string qubo = FileText(prefix + ".qubo");
      const size_t body = qubo.find("\np qubo ");
      ASSERT_NE(body, std::string::npos);
      ASSERT_EQ(qubo.substr(0, body + 1), FormatInstanceHeader(model, header, InstanceKind::kQubo, true, "c "));
      ASSERT_EQ(qubo.substr(body + 1), QuboText(small)) << "delta " << delta;
      ASSERT_EQ(small.size, static_cast<int32_t>(reduced.original.size()) - 1);
      const std::vector<int32_t> map = ReadReducedMap(prefix + ".map", model);
      ASSERT_EQ(map, reduced.original);
      std::vector<std::pair<int64_t, std::vector<int32_t>>> kept;
      for (const auto& [value, mask] : ConflictFreeSelections(small)) {
        if (value < optimum - delta) continue;
        std::vector<int32_t> back;
        for (int32_t v : MaskQuads(mask)) back.push_back(map[v]);
        kept.emplace_back(value, back);
      }
      std::sort(kept.begin(), kept.end(), [](const auto& x, const auto& y) {
        return x.first != y.first ? x.first > y.first : x.second < y.second;
      });
      ASSERT_EQ(kept, expected) << "reduced at delta " << delta;
    }

    // The ensemble: log Z, every quad's and every pair's probability.
    for (double temperature : {1.0, 10.0, 100.0}) {
      std::vector<double> terms;
      for (const auto& entry : all) terms.push_back(static_cast<double>(entry.first) / temperature);
      const double log_z = LogSumExp(terms);
      const EnsembleSummary ensemble = ComputeEnsemble(model, temperature);
      ExpectRelative(ensemble.log_z, log_z, "log Z at T " + std::to_string(temperature));
      std::vector<double> quad(model.quad_count + 1, 0.0);
      std::map<std::pair<int32_t, int32_t>, double> pair;
      for (const auto& [value, mask] : all) {
        const double weight = std::exp(static_cast<double>(value) / temperature - log_z);
        std::map<std::pair<int32_t, int32_t>, bool> formed;
        for (int32_t v : MaskQuads(mask)) {
          quad[v] += weight;
          const int32_t* row = MatrixRow(model.quads, v);
          formed[{row[0], row[1]}] = formed[{row[2], row[3]}] = true;
        }
        for (const auto& entry : formed) pair[entry.first] += weight;
      }
      for (int32_t v = 1; v <= model.quad_count; ++v) {
        ExpectRelative(ensemble.quad_probability[v], quad[v], "quad " + std::to_string(v));
      }
      for (const PairProbability& p : ensemble.pairs) {
        const double want = pair.count({p.i, p.j}) ? pair[{p.i, p.j}] : 0.0;
        if (want > 1e-12) ExpectRelative(p.probability, want, "pair " + std::to_string(p.i) + "-" + std::to_string(p.j));
        else EXPECT_LE(p.probability, 1e-12);
        pair.erase({p.i, p.j});
      }
      for (const auto& entry : pair) EXPECT_LE(entry.second, 1e-12) << "pair missing";
    }

    // Encoding the structure of any conflict-free selection gives a selection
    // of at least its value, with nothing the model cannot represent.
    for (int trial = 0; trial < 3; ++trial) {
      const auto& [value, mask] = all[random() % all.size()];
      std::vector<uint8_t> chosen(model.quad_count + 1, 0);
      for (int32_t v : MaskQuads(mask)) chosen[v] = 1;
      std::string structure(model.n + 1, '\0');
      WriteDotBracket(model, chosen.data(), structure.data());
      structure.pop_back();
      const EncodedStructure encoded = EncodeStructure(model, c.min_distance, MatchBrackets(structure));
      int64_t conflicts = -1;
      EXPECT_GE(SelectionValue(model, encoded.chosen.data(), &conflicts), value) << structure;
      EXPECT_EQ(conflicts, 0);
      EXPECT_EQ(encoded.lone.size() + encoded.mismatched.size() + encoded.out_of_range.size() +
                    encoded.pseudoknotted.size(), 0u);
      with_lost_pairs += encoded.chosen != chosen;
    }
  }
  EXPECT_GT(with_ties, cases / 20) << "too few models with tied optima to test the count";
  EXPECT_GT(with_lost_pairs, 0) << "no structure whose encoding adds a quad";
}

// Random structures with helices of the model, lone, crossing, too close and
// non-canonical pairs: the encoding chooses exactly the quads both of whose
// pairs are in the structure, and lists every other pair of it once.
TEST(LandscapeEncoding, EveryQuadWithBothPairsIsChosen) {
  std::mt19937 random(4101);
  int structures = 0, crossed = 0;
  while (structures < 400) {
    SmallCase c = MakeCase(RandomSequence(&random), static_cast<int32_t>(random() % 5) - 1, 1, -200);
    const QuadModel& model = c.model;
    std::vector<int32_t> partner(static_cast<size_t>(model.n) + 1, 0);
    std::vector<BasePair> pairs;
    const auto add = [&](int32_t i, int32_t j) {
      if (i < 1 || j > model.n || i >= j || partner[i] != 0 || partner[j] != 0) return;
      partner[i] = j;
      partner[j] = i;
      pairs.push_back(BasePair{i, j});
    };
    for (int k = static_cast<int>(random() % 4); k > 0 && model.quad_count > 0; --k) {
      const int32_t* quad = MatrixRow(model.quads, 1 + static_cast<int32_t>(random() % model.quad_count));
      for (int32_t step = 0, length = 2 + static_cast<int32_t>(random() % 3); step < length; ++step) {
        add(quad[0] + step, quad[1] - step);
      }
    }
    for (int k = static_cast<int>(random() % 4); k > 0; --k) {
      add(1 + static_cast<int32_t>(random() % model.n), 1 + static_cast<int32_t>(random() % model.n));
    }
    std::shuffle(pairs.begin(), pairs.end(), random);
    SCOPED_TRACE(c.label);
    ++structures;
    const EncodedStructure encoded = EncodeStructure(model, c.min_distance, pairs);
    std::map<std::pair<int32_t, int32_t>, int> listed;
    for (const BasePair& pair : pairs) listed[{pair.i, pair.j}] = 0;
    for (int32_t q = 1; q <= model.quad_count; ++q) {
      const int32_t* quad = MatrixRow(model.quads, q);
      const bool both = partner[quad[0]] == quad[1] && partner[quad[2]] == quad[3];
      ASSERT_EQ(encoded.chosen[q], both ? 1 : 0) << "quad " << q;
      if (both) listed[{quad[0], quad[1]}] = listed[{quad[2], quad[3]}] = 1;
    }
    for (const auto* kind : {&encoded.lone, &encoded.mismatched, &encoded.out_of_range, &encoded.pseudoknotted}) {
      for (const BasePair& pair : *kind) ASSERT_EQ(listed[std::make_pair(pair.i, pair.j)]++, 0) << pair.i << "-" << pair.j;
    }
    for (const auto& [pair, times] : listed) ASSERT_EQ(times, 1) << pair.first << "-" << pair.second;
    int64_t conflicts = 0;
    SelectionValue(model, encoded.chosen.data(), &conflicts);
    crossed += conflicts == 0 && !encoded.pseudoknotted.empty() &&
               std::count(encoded.chosen.begin(), encoded.chosen.end(), 1) > 0;
  }
  EXPECT_GT(crossed, 10) << "too few helices beside crossing pairs";
}

// On models with at most 12 conflict-free selections, 20,000 samples agree
// with the exact distribution: the chi-square statistic stays below the 0.999
// quantile for the degrees of freedom (Wilson-Hilferty), so a correct sampler
// fails one model in a thousand; the seeds are fixed, so a run is repeatable.
TEST(LandscapeSampling, SamplesFollowTheExactDistribution) {
  std::mt19937 random(77);
  int models = 0;
  while (models < 12) {
    SmallCase c = MakeCase(RandomSequence(&random), static_cast<int32_t>(random() % 6) - 1,
                           static_cast<int32_t>(random() % 2), -200);
    if (c.model.quad_count == 0) continue;
    const SuboptListing all = ListSuboptimal(c.model, OptimumDistance{INT32_MAX, 0, false}, 13);
    if (all.total > 12 || all.total < 3) continue;
    ++models;
    SCOPED_TRACE(c.label);
    const double temperature = models % 2 ? 10.0 : 30.0;
    const EnsembleSummary ensemble = ComputeEnsemble(c.model, temperature);
    std::map<std::vector<int32_t>, double> expected;
    for (size_t k = 0; k < all.Count(); ++k) {
      const ListedSelection s = all.Selection(k);
      expected[s.quads] = std::exp(static_cast<double>(s.value) / temperature - ensemble.log_z);
    }
    const int64_t draws = 20000;
    std::map<std::vector<int32_t>, int64_t> seen;
    for (const ListedSelection& s : SampleEnsemble(c.model, temperature, draws, 1000 + models)) {
      ASSERT_TRUE(expected.count(s.quads)) << "a sample that is no conflict-free selection";
      int64_t conflicts = -1;
      std::vector<uint8_t> chosen(c.model.quad_count + 1, 0);
      for (int32_t v : s.quads) chosen[v] = 1;
      ASSERT_EQ(SelectionValue(c.model, chosen.data(), &conflicts), s.value);
      ++seen[s.quads];
    }
    double chi_square = 0;
    int cells = 0;
    for (const auto& [quads, p] : expected) {
      const double want = p * static_cast<double>(draws);
      if (want < 5) continue;  // too rare for the test
      const double got = static_cast<double>(seen[quads]);
      chi_square += (got - want) * (got - want) / want;
      ++cells;
    }
    if (cells < 2) continue;
    const double k = cells - 1;
    const double z = 3.090;  // the 0.999 quantile of the normal distribution
    const double limit = k * std::pow(1 - 2 / (9 * k) + z * std::sqrt(2 / (9 * k)), 3);
    EXPECT_LT(chi_square, limit) << cells << " cells";
    // The same seed gives the same samples.
    const auto again = SampleEnsemble(c.model, temperature, 50, 1000 + models);
    const auto first = SampleEnsemble(c.model, temperature, 50, 1000 + models);
    for (size_t s = 0; s < again.size(); ++s) ASSERT_EQ(again[s].quads, first[s].quads);
  }
}

// The tie rule's key of a conflict-free selection: its decisions in the order
// of the rule, positions from 5' to 3'. A free position is left unpaired (0)
// or opens the chosen quad to partner k (k); a chosen quad is continued by the
// next of its stack (0) or not (1, and its inside i + 2..k - 2 is decided as
// free positions). Of equal optima, the rule chooses the one of least key.
std::vector<int32_t> TieRuleKey(const QuadModel& model, const std::vector<int32_t>& quads) {
  std::vector<int32_t> opening(static_cast<size_t>(model.n) + 2, 0);
  std::vector<uint8_t> chosen(static_cast<size_t>(model.quad_count) + 1, 0);
  for (int32_t q : quads) {
    opening[MatrixRow(model.quads, q)[0]] = q;
    chosen[q] = 1;
  }
  std::vector<int32_t> key;
  std::vector<std::pair<int32_t, int32_t>> runs{{1, model.n}};  // free runs still to decide, depth first
  while (!runs.empty()) {
    auto& [a, b] = runs.back();
    if (a > b) {
      runs.pop_back();
      continue;
    }
    int32_t q = opening[a];
    if (q == 0) {
      key.push_back(0);
      ++a;
      continue;
    }
    key.push_back(MatrixRow(model.quads, q)[1]);
    a = MatrixRow(model.quads, q)[1] + 1;
    for (; model.next[q] > 0 && chosen[model.next[q]]; q = model.next[q]) key.push_back(0);
    key.push_back(1);
    runs.emplace_back(MatrixRow(model.quads, q)[0] + 2, MatrixRow(model.quads, q)[1] - 2);
  }
  return key;
}

// The optimum's tie rule on random models with many equal optima (repeated
// motifs, sequences of two or three letters): every optimum listed, FoldOptimum
// returns the one of least key.
TEST(FoldOptimum, ReturnsTheOptimumTheTieRuleChooses) {
  std::mt19937 random(5150);
  const char* alphabets[] = {"ACGU", "GC", "GCU", "AU", "GU"};
  const int32_t penalties[] = {-200, -50, -16, 0};
  int checked = 0, tied = 0, many = 0;
  while (checked < EnvironmentCount("FOLD_TIE_CASES", 600)) {
    const std::string alphabet = alphabets[random() % 5];
    const int32_t n = checked % 4 == 3 ? 30 + static_cast<int32_t>(random() % 120) : 6 + static_cast<int32_t>(random() % 30);
    // Half of them a short motif repeated: shifted copies of one helix tie.
    std::string motif;
    for (int32_t k = 2 + static_cast<int32_t>(random() % 5); k > 0; --k) motif += alphabet[random() % alphabet.size()];
    const bool repeated = random() % 2 == 0;
    std::string letters;
    for (int32_t k = 0; k < n; ++k) {
      letters += repeated ? motif[k % motif.size()] : alphabet[random() % alphabet.size()];
    }
    SmallCase c = MakeCase(letters, static_cast<int32_t>(random() % 6) - 1, static_cast<int32_t>(random() % 2),
                           penalties[random() % 4]);
    const SuboptListing optima = ListSuboptimal(c.model, OptimumDistance{0, 0, false}, 4000);
    if (!optima.exact || optima.total > 4000) continue;
    ++checked;
    tied += optima.total > 1;
    many += optima.total > 20;
    SCOPED_TRACE(c.label);
    std::vector<uint8_t> chosen(c.model.quad_count + 1, 7);
    ASSERT_EQ(FoldOptimum(c.model, chosen.data()), optima.optimum);
    std::vector<int32_t> returned;
    for (int32_t q = 1; q <= c.model.quad_count; ++q) {
      if (chosen[q]) returned.push_back(q);
    }
    std::vector<int32_t> least = optima.Selection(0).quads;
    for (size_t k = 1; k < optima.Count(); ++k) {
      const std::vector<int32_t> quads = optima.Selection(k).quads;
      if (TieRuleKey(c.model, quads) < TieRuleKey(c.model, least)) least = quads;
    }
    ASSERT_EQ(returned, least) << FormatSelectionCount(optima.total) << " optima";
  }
  EXPECT_GT(tied, checked / 4) << "too few models with equal optima";
  EXPECT_GT(many, checked / 50) << "too few models with many equal optima";
}

// Large random models: best_with equals the optimum found with the quad forced
// in (its score raised above everything else the model holds), and the
// probabilities of each position's pairs sum to at most 1.
TEST(LandscapeLarge, BestWithIsTheOptimumWithTheQuadForcedIn) {
  std::mt19937 random(4242);
  for (int32_t n : {600, 1200, kLargeLength}) {
    std::string letters;
    for (int32_t k = 0; k < n; ++k) letters += "ACGU"[random() % 4];
    SmallCase c = MakeCase(letters, 4, 1, -200);
    QuadModel model = c.model;
    SCOPED_TRACE("n " + std::to_string(n));
    const QuadMarginals marginals = FindBestWith(model);
    std::vector<uint8_t> chosen(model.quad_count + 1);
    ASSERT_EQ(marginals.optimum, FoldOptimum(model, chosen.data()));
    std::vector<int32_t> scores(model.score, model.score + model.quad_count + 1);
    IntArray forced = AllocateIntArray(model.quad_count);
    std::copy(scores.begin(), scores.end(), forced);
    model.score = forced;
    const int32_t lift = 1 << 24;
    for (int trial = 0; trial < 50; ++trial) {
      const int32_t v = 1 + static_cast<int32_t>(random() % model.quad_count);
      forced[v] = scores[v] + lift;
      const int64_t best = FoldOptimum(model, chosen.data()) - lift;
      ASSERT_EQ(chosen[v], 1);
      ASSERT_EQ(marginals.best_with[v], best) << "variable " << v;
      forced[v] = scores[v];
    }
    model.score = c.model.score;
    for (double temperature : {0.1, 1000.0}) {
      const EnsembleSummary ensemble = ComputeEnsemble(model, temperature);
      ASSERT_TRUE(std::isfinite(ensemble.log_z));
      std::vector<double> at(n + 1, 0.0);
      for (const PairProbability& p : ensemble.pairs) {
        ASSERT_TRUE(p.probability >= 0 && p.probability <= 1);
        at[p.i] += p.probability;
        at[p.j] += p.probability;
      }
      for (int32_t k = 1; k <= n; ++k) ASSERT_LE(at[k], 1 + 1e-9) << "position " << k << " T " << temperature;
    }
  }
}

}  // namespace
