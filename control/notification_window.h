// A hidden message-only window through which a control that has no window of its own (one a
// script host created with new ActiveXObject or CreateObject) hears device notifications: the
// system needs a window to send WM_DEVICECHANGE to. It belongs to the thread that made it, and
// the notifications arrive while that thread pumps messages.
#pragma once

#include <windows.h>

class CQelVantorixActiveXCtrl;

namespace control {

class NotificationWindow {
 public:
  NotificationWindow() = default;
  ~NotificationWindow() { Destroy(); }
  NotificationWindow(const NotificationWindow&) = delete;
  NotificationWindow& operator=(const NotificationWindow&) = delete;

  // The window, made on first use; it hands WM_DEVICECHANGE to `control`. nullptr when it
  // cannot be made.
  HWND Ensure(CQelVantorixActiveXCtrl* control);
  void Destroy();
  HWND hwnd() const { return hwnd_; }

 private:
  HWND hwnd_ = nullptr;
};

}  // namespace control
