// UTF-8 (as sysfs gives device strings) to the zero-terminated UTF-16 that the HID string
// queries hand back.
#pragma once

#include <cstddef>
#include <string>

namespace platform::posix {

// Writes `text` as UTF-16 into `buffer` of `bytes` bytes, always zero-terminated, cut short
// when it does not fit (never in the middle of a surrogate pair). Malformed UTF-8 sequences
// become U+FFFD. Returns false when the buffer cannot hold even the terminator.
bool Utf8ToUtf16(const std::string& text, char16_t* buffer, std::size_t bytes);

}  // namespace platform::posix
