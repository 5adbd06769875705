// UTF-8 <-> UTF-16 for device paths: the back-end interface carries paths as std::string, the
// system calls take wide strings.
#pragma once

#include <string>

namespace platform::win32 {

// Both return an empty string when the input is not valid in its encoding.
std::string NarrowUtf8(const wchar_t* text);
std::wstring WidenUtf8(const std::string& text);

}  // namespace platform::win32
