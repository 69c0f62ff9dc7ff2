#include "model/stack_score.h"

#include <array>

namespace {

// Pair kinds in table order: AU, CG, GC, GU, UA, UG.
constexpr int32_t kScores[6][6] = {
    // inner: AU   CG   GC   GU   UA   UG
    {9, 22, 21, 6, 11, 14},    // outer AU
    {21, 33, 24, 14, 21, 21},  // outer CG
    {24, 34, 33, 15, 22, 25},  // outer GC
    {13, 25, 21, 5, 14, -13},  // outer GU
    {13, 24, 21, 10, 9, 13},   // outer UA
    {10, 15, 14, -3, 6, 5},    // outer UG
};

// Letter code A 0, C 1, G 2, U 3 (every other character 0: never reached for a quad).
constexpr std::array<int, 256> MakeLetterCodes() {
  std::array<int, 256> codes{};
  codes['C'] = 1;
  codes['G'] = 2;
  codes['U'] = 3;
  return codes;
}
constexpr std::array<int, 256> kLetterCode = MakeLetterCodes();

// Kind index for (lower letter code * 4 + higher letter code); 0 where no kind.
constexpr int kKindIndex[16] = {
    0, 0, 0, 0,  // AA AC AG AU
    0, 0, 1, 0,  // CA CC CG CU
    0, 2, 0, 3,  // GA GC GG GU
    4, 0, 5, 0,  // UA UC UG UU
};

int KindOf(char lower, char higher) {
  return kKindIndex[kLetterCode[static_cast<unsigned char>(lower)] * 4 +
                    kLetterCode[static_cast<unsigned char>(higher)]];
}

}  // namespace

int32_t StackScoreOfLetters(char x, char y, char z, char w) {
  return kScores[KindOf(x, y)][KindOf(z, w)];
}

int32_t StackScore(const char* buffer, const int32_t* quad) {
  return StackScoreOfLetters(buffer[quad[0]], buffer[quad[1]], buffer[quad[2]], buffer[quad[3]]);
}
