#include "platform/win32/wide_text.h"

#include <windows.h>

namespace platform::win32 {

std::string NarrowUtf8(const wchar_t* text) {
  // With -1 the sizes include the terminator.
  const int bytes =
      WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 1) return std::string();
  std::string out(static_cast<std::size_t>(bytes), '\0');
  if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, -1, &out[0], bytes, nullptr,
                          nullptr) != bytes) {
    return std::string();
  }
  out.resize(static_cast<std::size_t>(bytes) - 1);
  return out;
}

std::wstring WidenUtf8(const std::string& text) {
  const int units =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.c_str(), -1, nullptr, 0);
  if (units <= 1) return std::wstring();
  std::wstring out(static_cast<std::size_t>(units), L'\0');
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.c_str(), -1, &out[0], units) !=
      units) {
    return std::wstring();
  }
  out.resize(static_cast<std::size_t>(units) - 1);
  return out;
}

}  // namespace platform::win32
