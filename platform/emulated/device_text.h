// The UTF-16 device strings of the emulated and the served boards, as the HID queries give them
// and as the placement query gives the serial number.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>

namespace platform {

// Copies `text` as a zero-terminated UTF-16 string into `bytes` bytes, cutting it to fit; false
// when not even the terminator fits.
inline bool CopyDeviceString(const std::u16string& text, char16_t* buffer, std::size_t bytes) {
  const std::size_t units = bytes / sizeof(char16_t);
  if (buffer == nullptr || units == 0) return false;
  const std::size_t n = std::min(text.size(), units - 1);
  std::copy_n(text.begin(), n, buffer);
  buffer[n] = 0;
  return true;
}

// One character a code unit: units beyond 8 bits become '?'.
inline std::string NarrowDeviceString(const std::u16string& text) {
  std::string narrow;
  for (char16_t unit : text) narrow.push_back(unit < 256 ? static_cast<char>(unit) : '?');
  return narrow;
}

}  // namespace platform
