// OpenUSBHidDevice on a control without a window, with an X display: the notification
// registration fails, its message box appears with the exact text, and once dismissed the board
// is opened all the same. (Without a display Wine returns from the box at once; the test then
// has nothing to look at and skips.)
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "control/identity.h"
#include "dispatch_support.h"

namespace dispatch_test {
namespace {

constexpr wchar_t kRegistrationFailed[] = L"RegisterDeviceNotification   failed";

struct BoxSearch {
  bool found = false;
  HWND box = nullptr;
};

BOOL CALLBACK FindText(HWND child, LPARAM param) {
  wchar_t text[128] = {};
  GetWindowTextW(child, text, 128);
  if (std::wstring(text) == kRegistrationFailed) {
    reinterpret_cast<BoxSearch*>(param)->found = true;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK FindBox(HWND window, LPARAM param) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  wchar_t cls[32] = {};
  GetClassNameW(window, cls, 32);
  if (pid != GetCurrentProcessId() || std::wstring(cls) != L"#32770") return TRUE;
  auto* search = reinterpret_cast<BoxSearch*>(param);
  EnumChildWindows(window, FindText, param);
  if (search->found) {
    search->box = window;
    return FALSE;
  }
  return TRUE;
}

// Dismisses every registration message box that appears until `stop`; counts them.
void DismissBoxes(std::atomic<bool>* stop, std::atomic<int>* seen) {
  while (!*stop) {
    BoxSearch search;
    EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
    if (search.box) {
      ++*seen;
      PostMessageW(search.box, WM_COMMAND, IDOK, 0);
      while (IsWindow(search.box) && !*stop) Sleep(10);
    }
    Sleep(20);
  }
}

TEST(NotificationRegistration, AFailedRegistrationShowsItsBoxAndTheBoardStillOpens) {
  char display[256];
  if (GetEnvironmentVariableA("DISPLAY", display, sizeof display) == 0) {
    GTEST_SKIP() << "no X display: Wine returns from message boxes at once";
  }
  EmulatedOcx& ocx = EmulatedOcx::Get();
  ole::ComPtr<IDispatch> ctl = ocx.CreateControl();
  ASSERT_TRUE(ctl);
  std::atomic<bool> stop{false};
  std::atomic<int> seen{0};
  std::thread watcher(DismissBoxes, &stop, &seen);
  CallResult first = Call(ctl.Get(), QVX_DISPID_OPENUSBHIDDEVICE);
  CallResult second = Call(ctl.Get(), QVX_DISPID_OPENUSBHIDDEVICE);
  stop = true;
  watcher.join();
  EXPECT_EQ(first.hr, S_OK);
  EXPECT_EQ(V_BOOL(first.value.Get()), VARIANT_FALSE);
  EXPECT_EQ(V_BOOL(second.value.Get()), VARIANT_FALSE);
  // No window means no registration is held, so every opening tries again and says so.
  EXPECT_EQ(seen.load(), 2);
  EXPECT_EQ(ocx.OpenHandleCount(), 1u);
}

}  // namespace
}  // namespace dispatch_test
