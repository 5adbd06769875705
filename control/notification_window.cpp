#include "control/notification_window.h"

#include "control/qel_vantorix_ctrl.h"
#include "ole/guard.h"
#include "ole/module.h"

namespace control {
namespace {

constexpr wchar_t kWindowClass[] = L"QvxNotificationWindow";

// Windows of the class that exist now: the class goes with the last one, so that an unloaded
// and reloaded module never finds a class whose procedure points into freed code.
LONG g_live_windows = 0;

LRESULT CALLBACK NotificationWindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    ++g_live_windows;
  } else if (message == WM_NCDESTROY) {
    --g_live_windows;
  } else if (message == WM_DEVICECHANGE) {
    auto* control =
        reinterpret_cast<CQelVantorixActiveXCtrl*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (control) {
      return ole::GuardedOr<LRESULT>(FALSE, [&]() -> LRESULT {
        return control->OnDeviceChange(static_cast<UINT>(wparam), static_cast<DWORD_PTR>(lparam));
      });
    }
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

bool RegisterWindowClass() {
  WNDCLASSEXW existing = {};
  existing.cbSize = sizeof existing;
  if (GetClassInfoExW(ole::ModuleInstance(), kWindowClass, &existing)) return true;
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = NotificationWindowProc;
  wc.hInstance = ole::ModuleInstance();
  wc.lpszClassName = kWindowClass;
  return RegisterClassExW(&wc) != 0;
}

}  // namespace

HWND NotificationWindow::Ensure(CQelVantorixActiveXCtrl* control) {
  if (hwnd_) return hwnd_;
  if (!RegisterWindowClass()) return nullptr;
  hwnd_ = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                          ole::ModuleInstance(), control);
  return hwnd_;
}

void NotificationWindow::Destroy() {
  if (!hwnd_) return;
  // Whatever reaches the window from now on no longer reaches the control.
  SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
  if (!DestroyWindow(hwnd_)) {
    // Another thread made it (a control released elsewhere): its own thread closes it.
    PostMessageW(hwnd_, WM_CLOSE, 0, 0);
  }
  hwnd_ = nullptr;
  if (g_live_windows == 0) UnregisterClassW(kWindowClass, ole::ModuleInstance());
}

}  // namespace control
