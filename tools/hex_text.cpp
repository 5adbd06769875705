#include "tools/hex_text.h"

#include <cctype>
#include <cstdio>

namespace qvx {

namespace {

bool HasHexPrefix(const std::string& text) {
  return text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
}

bool ParseDigits(const std::string& digits, unsigned base, std::uint32_t max,
                 std::uint32_t* value) {
  if (digits.empty() || digits.size() > (base == 16 ? 8u : 10u)) return false;
  std::uint64_t result = 0;
  for (char c : digits) {
    const auto u = static_cast<unsigned char>(c);
    unsigned digit = 0;
    if (std::isdigit(u)) {
      digit = static_cast<unsigned>(c - '0');
    } else if (base == 16 && std::isxdigit(u)) {
      digit = static_cast<unsigned>(std::tolower(u) - 'a' + 10);
    } else {
      return false;
    }
    result = result * base + digit;
  }
  if (result > max) return false;
  *value = static_cast<std::uint32_t>(result);
  return true;
}

}  // namespace

bool ParseHex(const std::string& text, std::uint32_t max, std::uint32_t* value) {
  return ParseDigits(HasHexPrefix(text) ? text.substr(2) : text, 16, max, value);
}

bool ParseCount(const std::string& text, std::uint32_t min, std::uint32_t max,
                std::uint32_t* value) {
  std::uint32_t parsed = 0;
  const bool ok = HasHexPrefix(text) ? ParseDigits(text.substr(2), 16, max, &parsed)
                                     : ParseDigits(text, 10, max, &parsed);
  if (!ok || parsed < min) return false;
  *value = parsed;
  return true;
}

std::string HexByte(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value & 0xFFu);
  return text;
}

std::string HexWord(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", value & 0xFFFFu);
  return text;
}

void HexDump(std::ostream& out, std::uint32_t base, const std::vector<std::uint8_t>& bytes) {
  constexpr std::size_t kPerLine = 16;
  for (std::size_t line = 0; line < bytes.size(); line += kPerLine) {
    char text[16];
    std::snprintf(text, sizeof text, "%04X:", static_cast<unsigned>(base + line));
    out << text;
    for (std::size_t i = line; i < bytes.size() && i < line + kPerLine; ++i) {
      std::snprintf(text, sizeof text, " %02X", bytes[i]);
      out << text;
    }
    out << '\n';
  }
}

std::string Utf8FromUtf16(const std::u16string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

}  // namespace qvx
