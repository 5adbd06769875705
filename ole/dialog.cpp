#include "ole/dialog.h"
#include "ole/guard.h"
#include "ole/module.h"

namespace ole {

std::wstring LoadModuleString(UINT id) {
  const wchar_t* text = nullptr;
  // A zero buffer size hands out a read-only pointer into the resource itself.
  const int length = LoadStringW(ModuleInstance(), id, reinterpret_cast<LPWSTR>(&text), 0);
  if (length <= 0 || !text) return std::wstring();
  return std::wstring(text, static_cast<std::size_t>(length));
}

HWND CDialog::OwnerWindow() const {
  if (parent_) return parent_;
  HWND active = GetActiveWindow();
  return active ? GetAncestor(active, GA_ROOT) : nullptr;
}

INT_PTR CDialog::DoModal() {
  // DialogBoxParamW disables the owner for as long as the dialog runs and enables it again.
  return DialogBoxParamW(ModuleInstance(), MAKEINTRESOURCEW(template_id_), OwnerWindow(),
                         DialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  return GuardedOr<INT_PTR>(
      FALSE, [&]() -> INT_PTR { return HandleMessage(hwnd, message, wparam, lparam); });
}

INT_PTR CDialog::HandleMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG: {
      SetWindowLongPtrW(hwnd, DWLP_USER, lparam);
      return reinterpret_cast<CDialog*>(lparam)->OnInitDialog(hwnd);
    }
    case WM_COMMAND: {
      const WORD id = LOWORD(wparam);
      // The close box and Escape arrive as IDCANCEL.
      if (id == IDOK || id == IDCANCEL) {
        EndDialog(hwnd, id);
        return TRUE;
      }
      return FALSE;
    }
    default:
      return FALSE;
  }
}

}  // namespace ole
