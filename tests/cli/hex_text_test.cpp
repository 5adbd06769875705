// The number formats of the qvx tool.
#include "tools/hex_text.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

TEST(QvxHexText, ParseHexAndCount) {
  struct Case {
    const char* text;
    std::uint32_t max;
    bool ok;
    std::uint32_t value;
  };
  const Case hex[] = {
      {"50", 0x7F, true, 0x50},
      {"0x50", 0x7F, true, 0x50},
      {"0X7f", 0x7F, true, 0x7F},
      {"80", 0x7F, false, 0},
      {"", 0xFF, false, 0},
      {"0x", 0xFF, false, 0},
      {"g1", 0xFF, false, 0},
      {"-1", 0xFF, false, 0},
      {" 1", 0xFF, false, 0},
      {"ffff", 0xFFFF, true, 0xFFFF},
      {"123456789", 0xFFFFFFFF, false, 0},
  };
  for (const Case& c : hex) {
    SCOPED_TRACE(c.text);
    std::uint32_t value = 0xDEAD;
    EXPECT_EQ(qvx::ParseHex(c.text, c.max, &value), c.ok);
    EXPECT_EQ(value, c.ok ? c.value : 0xDEAD);
  }
  const Case counts[] = {
      {"16", 100, true, 16},  {"0x10", 100, true, 16}, {"1f", 100, false, 0},
      {"101", 100, false, 0}, {"0", 100, false, 0},    {"99999999999", 0xFFFFFFFF, false, 0},
  };
  for (const Case& c : counts) {
    SCOPED_TRACE(c.text);
    std::uint32_t value = 0xDEAD;
    EXPECT_EQ(qvx::ParseCount(c.text, 1, c.max, &value), c.ok);
    EXPECT_EQ(value, c.ok ? c.value : 0xDEAD);
  }
}

TEST(QvxHexText, DumpAndFormats) {
  std::ostringstream out;
  qvx::HexDump(out, 0xFFF8, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 0xFF});
  EXPECT_EQ(out.str(),
            "FFF8: 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\n"
            "10008: FF\n");
  EXPECT_EQ(qvx::HexByte(0x1AB), "0xAB");
  EXPECT_EQ(qvx::HexWord(0x3E), "0x003E");
  EXPECT_EQ(qvx::Utf8FromUtf16(u"a\u00FC\u20AC\U0001D11E"),
            "a\xC3\xBC\xE2\x82\xAC\xF0\x9D\x84\x9E");
  EXPECT_EQ(qvx::Utf8FromUtf16(std::u16string(1, u'\xD800') + u"x"), "\xEF\xBF\xBDx");
}

}  // namespace
