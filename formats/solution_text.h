// A solver's answer as text: the chosen variables as numbers, or one 0/1
// character per variable, after an optional first line that states the
// numbering; and the one check of a selection given as numbers or as one 0/1
// per variable, which the text reader and the module's arrays share. No I/O;
// failures are thrown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The first line of an answer numbered from 1, and of one numbered from 0
// (without its line end); rnaqubo-anneal writes the first.
constexpr const char* kOneBasedHeader = "# numbering: one-based";
constexpr const char* kZeroBasedHeader = "# numbering: zero-based";

// The first fault of a selection given as an array (SelectionFault::kNone: none).
enum class SelectionFault {
  kNone,
  kLength,      // one 0/1 per variable, but not quad_count of them
  kNotBit,      // one 0/1 per variable, but an element other than 0 and 1
  kOutOfRange,  // a variable number outside the model's numbering
  kRepeated,    // a variable number given before, where repeats are refused
};

// A SelectionFault and the 0-based index of the element at fault (-1 for
// kNone and kLength).
struct SelectionVerdict {
  SelectionFault fault;
  int64_t item;
};

// Reads a selection of size elements for a model of quad_count variables into
// chosen (quad_count + 1 bytes, [v] = 1 for a chosen variable v, 1-based; [0]
// = 0). With mask, items are one 0/1 per variable, variable 1 first; else
// variable numbers from 1 (from 0 when zero_based), a number given twice
// counting once when repeats, else refused. Returns the first fault, in element
// order (kLength before any element); chosen is then incomplete.
SelectionVerdict ReadSelectionArray(const int64_t* items, int64_t size, int32_t quad_count, bool mask,
                                    bool zero_based, bool repeats, uint8_t* chosen);

// Reads the selection in text (size bytes) for a model of quad_count variables.
// The text is the chosen variable numbers separated by white space, 1-based,
// or 0-based when zero_based; a number given twice counts once. Unless
// zero_based, a text of one word of exactly quad_count characters '0' and '1'
// is instead one character per variable, variable 1 first. Returns quad_count + 1
// bytes, [v] = 1 for a chosen variable v (1-based; [0] = 0). Throws Failure kData
// naming the first bad item (no file name): a word that is not a number, a
// number out of range, or a 0/1 string of the wrong length. A first line whose
// first non-blank character is '#' is the numbering header: it must be
// kOneBasedHeader or kZeroBasedHeader (blanks and a '\r' around it aside) and
// agree with zero_based, else Failure kData "line 1: ..." names what it says
// and how the answer is read; the words after it are read as above. A text
// without such a line is read as it stands.
std::vector<uint8_t> ParseSelectionText(const char* text, size_t size, int32_t quad_count, bool zero_based);
