#include "platform/posix/utf16_text.h"

#include <cstdint>

namespace platform::posix {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point at text[*pos], advancing *pos past it (at least one byte).
char32_t DecodeOne(const std::string& text, std::size_t* pos) {
  const auto lead = static_cast<std::uint8_t>(text[*pos]);
  ++*pos;
  int extra = 0;
  char32_t cp = 0;
  char32_t minimum = 0;
  if (lead < 0x80) return lead;
  if ((lead & 0xE0) == 0xC0) {
    extra = 1, cp = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, cp = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3, cp = lead & 0x07, minimum = 0x10000;
  } else {
    return kReplacement;
  }
  for (int i = 0; i < extra; ++i) {
    if (*pos >= text.size()) return kReplacement;
    const auto next = static_cast<std::uint8_t>(text[*pos]);
    if ((next & 0xC0) != 0x80) return kReplacement;  // the next byte starts a new sequence
    cp = (cp << 6) | (next & 0x3F);
    ++*pos;
  }
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kReplacement;
  return cp;
}

}  // namespace

bool Utf8ToUtf16(const std::string& text, char16_t* buffer, std::size_t bytes) {
  const std::size_t units = bytes / sizeof(char16_t);
  if (units == 0) return false;
  std::size_t out = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const char32_t cp = DecodeOne(text, &pos);
    if (cp == 0) break;
    const std::size_t need = cp >= 0x10000 ? 2 : 1;
    if (out + need + 1 > units) break;  // keep room for the terminator
    if (need == 2) {
      buffer[out++] = static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      buffer[out++] = static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      buffer[out++] = static_cast<char16_t>(cp);
    }
  }
  buffer[out] = 0;
  return true;
}

}  // namespace platform::posix
