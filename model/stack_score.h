// Stacking scores: the diagonal coefficient of each quad's variable.
#pragma once

#include <cstdint>

// Score of the quad (i, j, i + 1, j - 1) in quad (elements 0..3) over the letters
// of buffer (positions 1..n): keyed by the outer kind (letters at i, j) and the
// inner kind (letters at i + 1, j - 1), each one of AU, CG, GC, GU, UA, UG.
int32_t StackScore(const char* buffer, const int32_t* quad);

// Score of outer kind (x at i, y at j) with inner kind (z at i + 1, w at j - 1);
// all four must be letters of pairing kinds.
int32_t StackScoreOfLetters(char x, char y, char z, char w);
