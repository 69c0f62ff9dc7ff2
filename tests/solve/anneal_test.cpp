// The annealer over entries of small random QUBOs, whole and fractional, against
// enumeration: replica exchange and restarts of plain annealing reach the
// maximum, each run's value is its selection's, and the results of restarts do
// not depend on the number of threads.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "solve/anneal.h"

namespace {

// Every node's entry and about half the couples, values from -9 to 9.
QuboEntries RandomEntries(std::mt19937_64& rng, int32_t n, bool whole) {
  QuboEntries entries;
  entries.node_count = n;
  entries.whole = whole;
  std::uniform_real_distribution<double> value(-9, 9);
  for (int32_t i = 0; i < n; ++i) {
    for (int32_t j = i; j < n; ++j) {
      if (i != j && rng() % 2 == 0) continue;
      entries.row.push_back(i);
      entries.column.push_back(j);
      entries.value.push_back(whole ? std::round(value(rng)) : value(rng));
    }
  }
  return entries;
}

// The value of the selection chosen (1-based bytes) under entries, maximised.
double ValueOf(const QuboEntries& entries, const std::vector<uint8_t>& chosen) {
  double sum = 0;
  for (size_t k = 0; k < entries.row.size(); ++k) {
    if (chosen[entries.row[k] + 1] != 0 && chosen[entries.column[k] + 1] != 0) sum += entries.value[k];
  }
  return sum;
}

double Maximum(const QuboEntries& entries) {
  double best = 0;
  std::vector<uint8_t> chosen(static_cast<size_t>(entries.node_count) + 1);
  for (uint32_t bits = 0; bits < (1u << entries.node_count); ++bits) {
    for (int32_t v = 0; v < entries.node_count; ++v) chosen[v + 1] = (bits >> v) & 1;
    best = std::max(best, ValueOf(entries, chosen));
  }
  return best;
}

template <typename Rows>
void CheckRuns(const Rows& rows, const QuboEntries& entries, const std::string& label) {
  const double best = Maximum(entries);
  AnnealPlan exchange{{}, GeometricLadder(0.05, 20, 8), 300, 7, 3};
  AnnealPlan plain{GeometricSchedule(20, 0.05, 300), {}, 0, 7, 6};
  for (const AnnealPlan& plan : {exchange, plain}) {
    const auto one = AnnealRestarts(rows, plan, 1);
    for (const auto& run : one) EXPECT_NEAR(static_cast<double>(run.value), ValueOf(entries, run.chosen), 1e-9) << label;
    EXPECT_NEAR(static_cast<double>(one[BestRestart(one)].value), best, 1e-9) << label;
    for (int threads : {2, 3}) {
      const auto many = AnnealRestarts(rows, plan, threads);
      for (size_t k = 0; k < one.size(); ++k) {
        EXPECT_EQ(many[k].chosen, one[k].chosen) << label << " threads " << threads;
        EXPECT_EQ(many[k].value, one[k].value) << label << " threads " << threads;
      }
    }
  }
}

TEST(Anneal, ReachesTheMaximumOfSmallQubosOnAnyThreads) {
  std::mt19937_64 rng(5);
  for (int32_t n : {1, 4, 8, 12, 14}) {
    for (int round = 0; round < 3; ++round) {
      const QuboEntries whole = RandomEntries(rng, n, true), real = RandomEntries(rng, n, false);
      CheckRuns(MakeEntryRows(whole, 1), whole, "whole n " + std::to_string(n));
      CheckRuns(MakeRealEntryRows(real, 1.0), real, "real n " + std::to_string(n));
    }
  }
}

}  // namespace
