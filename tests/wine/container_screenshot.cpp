// Shows two lamps in Wine's ATL container for a screenshot: the left one with the emulated board
// opened (green), the right one never opened (grey). Stays up for the number of seconds given as
// its argument (default 5). Run by container_screenshot.sh under Xvfb; not a test.
#include <windows.h>

#include <cstdlib>

#include "container_support.h"
#include "dispatch_support.h"

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 5;
  dispatch_test::EmulatedOcx& ocx = dispatch_test::EmulatedOcx::Get();
  ocx.Plug();
  ole::ComPtr<IDispatch> connected = ocx.CreateControl();
  ole::ComPtr<IDispatch> idle = ocx.CreateControl();
  if (!connected || !idle) return 1;
  container_test::AtlHost left(connected.Get());
  container_test::AtlHost right(idle.Get());
  if (!left.ok() || !right.ok()) return 1;
  SetWindowPos(right.host(), nullptr, 130, 10, 102, 32, SWP_NOZORDER);
  SetWindowPos(left.frame(), nullptr, 0, 0, 250, 90, SWP_NOZORDER);
  dispatch_test::CallResult opened =
      dispatch_test::Call(connected.Get(), container_test::kOpenUSBHidDevice);
  if (FAILED(opened.hr)) return 1;
  const DWORD until = GetTickCount() + static_cast<DWORD>(seconds) * 1000;
  while (GetTickCount() < until) {
    container_test::PumpMessages();
    Sleep(20);
  }
  return 0;
}
