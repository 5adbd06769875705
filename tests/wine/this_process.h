// Two facts about the running Windows program that the test programs and the self-test's
// runner both need, without GoogleTest.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace test_files {

// The folder of the running program, without a trailing back slash (any length of path).
inline std::wstring ProgramFolder() {
  std::vector<wchar_t> name(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
    if (n < name.size()) {
      std::wstring path(name.data(), n);
      return path.substr(0, path.find_last_of(L'\\'));
    }
    name.resize(name.size() * 2);
  }
}

// Wine's ntdll exports wine_get_version; Windows' does not.
inline bool OnWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace test_files
