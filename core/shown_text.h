// Text from outside shown in a message: printable ASCII as it stands, every
// other byte (control characters, DEL, non-ASCII) as \xHH with capital hex
// digits, so that no message puts raw control bytes on a terminal.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Bytes of a bad base word shown in "Invalid gene base read: %s\n".
constexpr size_t kShownWordBytes = 64;

// text with every byte outside ' '..'~' written as \xHH.
std::string ShowText(std::string_view text);

// The character c shown in single quotes: 'A', or '\x01' for a byte ShowText escapes.
std::string ShowCharacter(char c);

// text shown in double quotes: at most limit bytes of it as ShowText shows them,
// a double quote inside as \x22, and "..." before the closing quote when cut.
std::string ShowQuoted(std::string_view text, size_t limit);

// The text shown for a bad base word: word holds its first size bytes, and longer
// tells that more follow. A printable word of at most kShownWordBytes bytes is
// shown as it stands; any other is shown as ShowText shows its first
// kShownWordBytes bytes, followed by "..." when it was cut.
std::string ShowBadWord(const unsigned char* word, size_t size, bool longer);
