#include "core/shown_text.h"

namespace {

void AppendShownByte(unsigned char c, std::string* shown) {
  if (c >= ' ' && c < 0x7f) {
    *shown += static_cast<char>(c);
  } else {
    *shown += "\\x";
    *shown += "0123456789ABCDEF"[c >> 4];
    *shown += "0123456789ABCDEF"[c & 15];
  }
}

}  // namespace

std::string ShowText(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  for (char c : text) AppendShownByte(static_cast<unsigned char>(c), &shown);
  return shown;
}

std::string ShowCharacter(char c) {
  std::string shown = "'";
  AppendShownByte(static_cast<unsigned char>(c), &shown);
  return shown + "'";
}

std::string ShowQuoted(std::string_view text, size_t limit) {
  std::string shown = "\"";
  for (size_t k = 0; k < text.size() && k < limit; ++k) {
    if (text[k] == '"') {
      shown += "\\x22";
    } else {
      AppendShownByte(static_cast<unsigned char>(text[k]), &shown);
    }
  }
  if (text.size() > limit) shown += "...";
  return shown + "\"";
}

std::string ShowBadWord(const unsigned char* word, size_t size, bool longer) {
  bool plain = !longer && size <= kShownWordBytes;
  for (size_t k = 0; k < size; ++k) plain = plain && word[k] > ' ' && word[k] < 0x7f;
  if (plain) return std::string(reinterpret_cast<const char*>(word), size);
  std::string shown;
  for (size_t k = 0; k < size && k < kShownWordBytes; ++k) AppendShownByte(word[k], &shown);
  if (longer || size > kShownWordBytes) shown += "...";
  return shown;
}
