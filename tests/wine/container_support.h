// Shared by the container and visual tests: hosting the emulated OCX's control in Wine's ATL
// container, watching the control's device-notification calls, finding and closing the modal
// windows it opens, an event sink, and reading pixels back.
#pragma once

#include <ocidl.h>
#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "control/identity.h"
#include "ole/raii.h"

namespace container_test {

// --- what the tests look for ------------------------------------------------------------------
constexpr DISPID kOpenUSBHidDevice = QVX_DISPID_OPENUSBHIDDEVICE;
constexpr COLORREF kGreen = RGB(0, 255, 0);     // the lamp while the board is connected
constexpr COLORREF kGrey = RGB(128, 128, 128);  // the lamp otherwise

// --- device notification calls of the OCX, seen through its import table ------------------
struct NotificationLog {
  std::vector<HWND> registered;  // recipient of every RegisterDeviceNotificationW call
  int succeeded = 0;
  int withdrawn = 0;  // UnregisterDeviceNotification calls
  int live() const { return succeeded - withdrawn; }
};
// Redirects the OCX's imports of RegisterDeviceNotificationW and UnregisterDeviceNotification
// (once per process) and returns the log, cleared by ResetNotificationLog().
NotificationLog& Notifications();
void ResetNotificationLog();

// --- modal windows -------------------------------------------------------------------------
struct SeenWindow {
  HWND hwnd = nullptr;
  HWND owner = nullptr;
  std::wstring caption;
  std::vector<std::wstring> texts;  // texts of its child windows, in Z order
  std::vector<std::wstring> classes;
  bool owner_was_disabled = false;
};

// Watches from another thread for a top-level window of this process whose caption or one of
// whose child texts contains `needle`; records it and closes it by posting WM_COMMAND `command`
// (IDOK, IDCANCEL). Stop() waits for the thread.
class ModalCloser {
 public:
  ModalCloser(std::wstring needle, WPARAM command, int max_closes = 1);
  ~ModalCloser();
  ModalCloser(const ModalCloser&) = delete;
  ModalCloser& operator=(const ModalCloser&) = delete;
  void Stop();
  std::vector<SeenWindow> seen() const;

 private:
  void Run();
  std::wstring needle_;
  WPARAM command_;
  int max_closes_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> done_{false};
  mutable std::mutex mutex_;
  std::vector<SeenWindow> seen_;
  std::thread thread_;
};

// The property frame creates the page by its class identifier: makes the OCX's page factory
// known to COM for this process (once), as registration would for every process.
void RegisterPageClass();

// --- event sink ----------------------------------------------------------------------------
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class EventSink : public IDispatch {
 public:
  // `fail`: every call answers E_FAIL; `on_event` runs inside each call.
  explicit EventSink(bool fail = false, std::function<void()> on_event = nullptr)
      : fail_(fail), on_event_(std::move(on_event)) {}
  virtual ~EventSink() = default;

  std::vector<bool> events;  // EVENT_PLUG's fConnected, in order
  std::vector<std::wstring> log;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override { return --refs_; }  // lives on the test's stack
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID dispid, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT*,
                      EXCEPINFO*, UINT*) override;

 private:
  ULONG refs_ = 0;
  bool fail_;
  std::function<void()> on_event_;
};
#pragma GCC diagnostic pop

// Connects `sink` to the control's event point; the cookie, 0 on failure.
DWORD Connect(IUnknown* control, IDispatch* sink);
void Disconnect(IUnknown* control, DWORD cookie);

// --- Wine's ATL container ------------------------------------------------------------------
// A top-level window holding one ATL host window (102 by 32 pixels at (10, 10) of its client
// area) into which AtlAxAttachControl puts the control.
class AtlHost {
 public:
  explicit AtlHost(IUnknown* control);
  ~AtlHost();
  AtlHost(const AtlHost&) = delete;
  AtlHost& operator=(const AtlHost&) = delete;
  bool ok() const { return ok_; }
  HWND frame() const { return frame_; }
  HWND host() const { return host_; }
  // Destroys the host windows (the container closes the control).
  void Destroy();

 private:
  HWND frame_ = nullptr;
  HWND host_ = nullptr;
  ole::ComPtr<IUnknown> container_;
  bool ok_ = false;
};

// Runs the thread's message queue until it is empty.
void PumpMessages();
// Sends WM_DEVICECHANGE(event, a DEV_BROADCAST_DEVICEINTERFACE_W of HID class, or a bare
// header of `device_type`) to `hwnd`; returns the handler's result.
LRESULT SendDeviceChange(HWND hwnd, UINT event, DWORD device_type);
// The pixel at (x, y) of `hwnd`'s client area after a synchronous repaint.
COLORREF WindowPixel(HWND hwnd, int x, int y);

// The control's window through IOleInPlaceObject, null when it has none.
HWND ControlWindow(IUnknown* control);

}  // namespace container_test
