// One opened HID device on Windows. The handle is opened for overlapped I/O so that every read
// and write can be bounded: a wait that runs out cancels the request and waits for the
// cancellation to finish, so the system never touches a caller's buffer after a call returns.
#pragma once

#include <windows.h>

#include <string>

#include "platform/hid_device.h"

namespace platform::win32 {

class Win32HidDevice final : public HidDevice {
 public:
  // Takes ownership of `handle` (opened with FILE_FLAG_OVERLAPPED) and creates the event the
  // overlapped requests signal. Check Usable() before using the device. `path` is the device
  // path it was opened by.
  explicit Win32HidDevice(HANDLE handle, const std::string& path = std::string());
  ~Win32HidDevice() override;

  bool Usable() const { return event_ != nullptr; }

  bool WriteReport(const std::uint8_t (&report)[kReportSize]) override;
  ReadResult ReadReport(std::uint8_t (&report)[kReportSize], unsigned timeout_ms) override;
  std::size_t DiscardPendingInput() override;
  bool GetAttributes(HidAttributes* attributes) override;
  bool GetManufacturerString(char16_t* buffer, std::size_t bytes) override;
  bool GetProductString(char16_t* buffer, std::size_t bytes) override;
  // The device path in lower case: Windows compares device paths without regard to case.
  std::string CrossProcessKey() const override { return key_; }

 private:
  enum class Outcome { kDone, kFailed, kTimedOut };
  // Waits for the request started on `overlapped` (started = the call returned FALSE with
  // ERROR_IO_PENDING, or TRUE), cancelling it after `timeout_ms`. *transferred is set on kDone.
  Outcome Finish(OVERLAPPED* overlapped, DWORD timeout_ms, DWORD* transferred);

  HANDLE handle_;
  std::string key_;  // made before the event, so that a failed copy leaves nothing to close
  HANDLE event_;
};

}  // namespace platform::win32
