// The byte runs that tests write and expect back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace testing_support {

using Bytes = std::vector<std::uint8_t>;

// n bytes that depend on `seed` (byte 0 is the seed) and never repeat with a period of 64 or
// 256, so a run copied to or from the wrong offset, or cut at the wrong page, shows.
inline Bytes Pattern(std::size_t n, unsigned seed) {
  Bytes bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8) + seed);
  return bytes;
}

}  // namespace testing_support
