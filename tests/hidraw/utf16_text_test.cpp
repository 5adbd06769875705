// UTF-8 device strings into the fixed UTF-16 buffer of the HID string queries.
#include "platform/posix/utf16_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using platform::posix::Utf8ToUtf16;

std::u16string Convert(const std::string& text, std::size_t bytes, bool* ok) {
  char16_t buffer[64];
  std::fill(std::begin(buffer), std::end(buffer), u'\xEEEE');
  *ok = Utf8ToUtf16(text, buffer, bytes);
  return *ok ? std::u16string(buffer) : std::u16string();
}

TEST(Utf8ToUtf16, ConvertsReplacesAndTruncates) {
  struct Case {
    const char* name;
    std::string in;
    std::size_t bytes;
    std::u16string out;
  };
  const Case cases[] = {
      {"ascii", "KovalmiretteV4", 128, u"KovalmiretteV4"},
      {"two and three bytes", "\xC3\xBC\xE2\x82\xAC", 128, u"\u00FC\u20AC"},
      {"four bytes become a pair", "\xF0\x9D\x84\x9E", 128, u"\xD834\xDD1E"},
      {"stray continuation", "a\x80z", 128, u"a\uFFFDz"},
      {"cut sequence", "a\xE2\x82z", 128, u"a\uFFFDz"},
      {"overlong form", "\xC0\xAF", 128, u"\uFFFD"},
      {"encoded surrogate", "\xED\xA0\x80", 128, u"\uFFFD"},
      {"stops at an embedded zero", std::string("ab\0cd", 5), 128, u"ab"},
      {"cut to fit with terminator", "abcdef", 8, u"abc"},
      {"odd byte count rounds down", "abcdef", 9, u"abc"},
      {"a pair is never split", "ab\xF0\x9D\x84\x9E", 8, u"ab"},
      {"room for the terminator only", "abc", 2, u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bool ok = false;
    EXPECT_EQ(Convert(c.in, c.bytes, &ok), c.out);
    EXPECT_TRUE(ok);
  }
  bool ok = true;
  Convert("abc", 1, &ok);
  EXPECT_FALSE(ok);
}

}  // namespace
