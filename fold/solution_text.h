// A solver's answer as text: the chosen variables as numbers, or one 0/1
// character per variable. No I/O; nothing ends the process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Reads the selection in text (size bytes) for a model of quad_count variables.
// The text is the chosen variable numbers separated by white space, 1-based,
// or 0-based when zero_based; a number given twice counts once. Unless
// zero_based, a text of one word of exactly quad_count characters '0' and '1'
// is instead one character per variable, variable 1 first. Returns
// true with chosen resized to quad_count + 1 bytes (chosen[v] = 1 for a chosen
// variable v, 1-based; chosen[0] = 0). Returns false with *error naming the first
// bad item (no file name, no line end): a word that is not a number, a number out
// of range, or a 0/1 string of the wrong length.
bool ParseSelectionText(const char* text, size_t size, int32_t quad_count, bool zero_based,
                        std::vector<uint8_t>* chosen, std::string* error);

// text made safe to show in a message: printable ASCII kept, a backslash and
// every other byte as \xNN; at most shown bytes of text, then "..." if longer.
std::string EscapeText(const std::string& text, size_t shown);

// EscapeText(text, 40) in double quotes (a quote inside shows as \x22).
std::string QuoteItem(const std::string& text);
