// The one check of a selection given as an array: numbers or one 0/1 per
// variable, against the model's variable count.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "formats/solution_text.h"

namespace {

TEST(ReadSelectionArray, RefusalsAndChoices) {
  struct Case {
    std::vector<int64_t> items;
    int32_t quad_count;
    bool mask, zero_based, repeats;
    SelectionFault fault;
    int64_t item;
    std::vector<uint8_t> chosen;  // checked when fault is kNone
  };
  const SelectionFault none = SelectionFault::kNone;
  const Case cases[] = {
      {{}, 0, false, false, false, none, -1, {0}},
      {{}, 0, true, false, false, none, -1, {0}},
      {{2, 3}, 3, false, false, false, none, -1, {0, 0, 1, 1}},
      {{0, 2}, 3, false, true, false, none, -1, {0, 1, 0, 1}},
      {{3, 3}, 3, false, false, true, none, -1, {0, 0, 0, 1}},
      {{3, 1, 3}, 3, false, false, false, SelectionFault::kRepeated, 2, {}},
      {{1, 4, 0}, 3, false, false, false, SelectionFault::kOutOfRange, 1, {}},
      {{0}, 3, false, false, false, SelectionFault::kOutOfRange, 0, {}},
      {{3}, 3, false, true, false, SelectionFault::kOutOfRange, 0, {}},
      {{-1}, 3, false, true, false, SelectionFault::kOutOfRange, 0, {}},
      {{INT64_MIN, INT64_MAX}, 3, false, true, false, SelectionFault::kOutOfRange, 0, {}},
      {{INT64_MAX}, 3, false, false, true, SelectionFault::kOutOfRange, 0, {}},
      {{1}, 0, false, false, false, SelectionFault::kOutOfRange, 0, {}},
      {{1, 0, 1}, 3, true, false, false, none, -1, {0, 1, 0, 1}},
      {{1, 0}, 3, true, false, false, SelectionFault::kLength, -1, {}},
      {{1, 2, 5}, 2, true, false, false, SelectionFault::kLength, -1, {}},  // the length before any element
      {{0, 1, 2}, 3, true, false, false, SelectionFault::kNotBit, 2, {}},
      {{-1, 1, 0}, 3, true, false, false, SelectionFault::kNotBit, 0, {}},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> chosen(static_cast<size_t>(c.quad_count) + 1, 7);
    const SelectionVerdict verdict = ReadSelectionArray(c.items.data(), static_cast<int64_t>(c.items.size()),
                                                        c.quad_count, c.mask, c.zero_based, c.repeats, chosen.data());
    const size_t index = static_cast<size_t>(&c - cases);
    EXPECT_EQ(verdict.fault, c.fault) << "case " << index;
    EXPECT_EQ(verdict.item, c.item) << "case " << index;
    if (c.fault == none) {
      EXPECT_EQ(chosen, c.chosen) << "case " << index;
    }
  }
}

}  // namespace
