#include "model/feasible_pairs.h"

#include <algorithm>
#include <array>

namespace {

// kPairs[x][y] is true for the six pairing couples of letters.
constexpr std::array<std::array<bool, 256>, 256> MakePairTable() {
  std::array<std::array<bool, 256>, 256> table{};
  table['A']['U'] = table['U']['A'] = true;
  table['G']['C'] = table['C']['G'] = true;
  table['G']['U'] = table['U']['G'] = true;
  return table;
}
constexpr std::array<std::array<bool, 256>, 256> kPairs = MakePairTable();

// The first j tried for position i: a pair needs j - i > min_distance, and a
// position never pairs with itself, so j starts at i + max(1, min_distance + 1).
int64_t FirstPartner(int64_t i, int32_t min_distance) {
  return i + std::max<int64_t>(1, static_cast<int64_t>(min_distance) + 1);
}

// Walks the enumeration once; writes the pairs into table when it has cells.
int64_t EnumeratePairs(const char* buffer, int32_t n, int32_t min_distance, IntMatrix* table) {
  const int64_t width = PairingWindowWidth(n);
  int64_t written = 0;
  for (int64_t i = 1; i <= n; ++i) {
    const int64_t last = std::min<int64_t>(i + width, n);
    const auto& partners = kPairs[static_cast<unsigned char>(buffer[i])];
    for (int64_t j = FirstPartner(i, min_distance); j <= last; ++j) {
      if (!partners[static_cast<unsigned char>(buffer[j])]) continue;
      ++written;
      if (table != nullptr) {
        int32_t* row = MatrixRow(*table, written);
        row[0] = static_cast<int32_t>(i);
        row[1] = static_cast<int32_t>(j);
      }
    }
  }
  return written;
}

}  // namespace

int32_t PairingWindowWidth(int32_t n) {
  if (n <= 500) return n;
  if (n <= 900) return 200;
  return 150;
}

bool CanPair(char x, char y) {
  return kPairs[static_cast<unsigned char>(x)][static_cast<unsigned char>(y)];
}

int64_t CountFeasiblePairs(const char* buffer, int32_t n, int32_t min_distance) {
  return EnumeratePairs(buffer, n, min_distance, nullptr);
}

int64_t GenerateFeasiblePairs(const char* buffer, int32_t n, IntMatrix table,
                              int32_t min_distance) {
  return EnumeratePairs(buffer, n, min_distance, &table);
}

IntMatrix BuildPairTable(const char* buffer, int32_t n, int32_t min_distance,
                         int32_t* pair_count) {
  const int64_t count = CountFeasiblePairs(buffer, n, min_distance);
  IntMatrix table = AllocateIntMatrix(count + 2, 2);  // refuses a count beyond 32 bits
  GenerateFeasiblePairs(buffer, n, table, min_distance);
  *pair_count = static_cast<int32_t>(count);
  return table;
}
