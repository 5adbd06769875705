// The boundary between the outside world and C++: every COM method, window procedure and
// dialog procedure of the module runs its work through one of these. An exception that
// unwound into a COM caller or into the window manager would be undefined behaviour (and
// mingw's unwinder cannot cross the system's frames at all), so it ends here as the HRESULT
// or message result that fits.
#pragma once

#include <windows.h>

#include <new>
#include <utility>

namespace ole {

// `work` returns an HRESULT; a failed allocation becomes E_OUTOFMEMORY, anything else E_FAIL.
template <class Work>
HRESULT Guarded(Work&& work) noexcept {
  try {
    return std::forward<Work>(work)();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

// For entries that answer something other than an HRESULT (a window procedure, a BOOL):
// `on_failure` when `work` throws.
template <class Result, class Work>
Result GuardedOr(Result on_failure, Work&& work) noexcept {
  try {
    return std::forward<Work>(work)();
  } catch (...) {
    return on_failure;
  }
}

}  // namespace ole
