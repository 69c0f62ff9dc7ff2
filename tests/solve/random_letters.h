// Random short sequences for the fold tests' enumerations.
#pragma once

#include <random>
#include <string>

// A sequence of 5 to 22 bases, half of them built around a helix so that
// stacks, links and chain bonuses are common.
inline std::string RandomSequence(std::mt19937* random) {
  auto letters = [&](int count) {
    std::string text;
    for (int k = 0; k < count; ++k) text += "ACGU"[(*random)() % 4];
    return text;
  };
  if ((*random)() % 2 == 0) return letters(5 + static_cast<int>((*random)() % 18));
  std::string stem = letters(3 + static_cast<int>((*random)() % 4));
  std::string other;
  for (auto it = stem.rbegin(); it != stem.rend(); ++it) {
    const char c = *it;
    other += c == 'A' ? 'U' : c == 'C' ? 'G' : c == 'G' ? ((*random)() % 3 ? 'C' : 'U') : ((*random)() % 3 ? 'A' : 'G');
  }
  return letters((*random)() % 3) + stem + letters(1 + (*random)() % 4) + other + letters((*random)() % 3);
}
