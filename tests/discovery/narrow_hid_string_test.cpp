// NarrowHidString: UTF-16 device strings narrowed in place to 8-bit characters.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "link/discovery.h"

namespace {

// A heap buffer of exactly `bytes` bytes (so that AddressSanitizer sees any access past it),
// holding `units` as UTF-16LE from the start and `fill` in every other byte.
std::unique_ptr<std::uint8_t[]> Buffer(std::size_t bytes, const std::u16string& units,
                                       std::uint8_t fill = 0xCC) {
  std::unique_ptr<std::uint8_t[]> b(new std::uint8_t[bytes]);
  std::memset(b.get(), fill, bytes);
  for (std::size_t i = 0; i < units.size() && 2 * i + 1 < bytes; ++i) {
    b[2 * i] = static_cast<std::uint8_t>(units[i]);
    b[2 * i + 1] = static_cast<std::uint8_t>(units[i] >> 8);
  }
  return b;
}

struct Case {
  const char* name;
  std::u16string in;  // the terminator is added
  std::string out;    // without the terminator
};

TEST(NarrowHidString, NarrowsInPlaceAndTerminates) {
  const Case cases[] = {
      {"empty", u"", ""},
      {"board product", u"KovalmiretteV4", "KovalmiretteV4"},
      {"Latin-1 keeps its byte", u"\u00e9t\u00e9 \u00ff\u0080", "\xe9t\xe9 \xff\x80"},
      {"unit 256 and above", u"A\u0100B\u4e2d\uffff", "A?B??"},
      {"low byte of a wide unit is not kept", u"\u0141\u0156\u0134", "???"},
      {"surrogate pair", u"x\U0001F600y", "x??y"},
      {"stops at the terminator", std::u16string(u"AB\0CD", 5), "AB"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::u16string with_terminator = c.in;
    with_terminator.push_back(0);
    auto buffer = Buffer(kHidStringBytes, with_terminator);
    NarrowHidString(buffer.get(), kHidStringBytes);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.get())), c.out);
    EXPECT_EQ(buffer[c.out.size()], 0) << "terminator right after the narrowed characters";
  }
}

TEST(NarrowHidString, LongestTerminatedStringIsKeptWhole) {
  const std::u16string text(kHidStringBytes / 2 - 1, u'k');  // 255 units and the terminator
  auto buffer = Buffer(kHidStringBytes, text + u'\0');
  NarrowHidString(buffer.get(), kHidStringBytes);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.get())),
            std::string(text.size(), 'k'));
}

// A device may fill the whole buffer without a terminator: the result must still end inside the
// buffer, and only the last unit may be given up for the terminator.
TEST(NarrowHidString, FullBufferWithoutTerminatorIsCutSafely) {
  const std::size_t sizes[] = {2, 3, 4, 5, 7, 64, 511, kHidStringBytes};
  for (const std::size_t bytes : sizes) {
    SCOPED_TRACE(::testing::Message() << bytes << " bytes");
    const std::size_t units = bytes / 2;
    auto buffer = Buffer(bytes, std::u16string(units, u'\u0178'), 'x');  // no zero byte anywhere
    NarrowHidString(buffer.get(), bytes);
    const void* end = std::memchr(buffer.get(), 0, bytes);
    ASSERT_NE(end, nullptr) << "no terminator inside the buffer";
    const std::size_t length = static_cast<const std::uint8_t*>(end) - buffer.get();
    EXPECT_GE(length + 1, units) << "more than the last unit was given up";
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.get()), length),
              std::string(length, '?'));
  }
}

}  // namespace
