// Where a module's file is: the one place that asks the loader and checks the answer fits.
// Inline, so that the parts of the framework that tests compile on their own carry it along.
#pragma once

#include <windows.h>

namespace ole {

// The full path of `module`'s file (null: the process's executable). False, with `path` empty,
// when the loader has none or it does not fit MAX_PATH (it would be truncated).
inline bool ModuleFilePath(HMODULE module, wchar_t (&path)[MAX_PATH]) {
  const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    path[0] = L'\0';
    return false;
  }
  return true;
}

}  // namespace ole
