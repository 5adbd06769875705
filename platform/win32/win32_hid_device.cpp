#include "platform/win32/win32_hid_device.h"

#include <cstring>

extern "C" {
#include <hidsdi.h>
}

namespace platform::win32 {

Win32HidDevice::Win32HidDevice(HANDLE handle, const std::string& path)
    : handle_(handle), key_(path), event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  for (char& c : key_) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
}

Win32HidDevice::~Win32HidDevice() {
  CloseHandle(handle_);
  if (event_ != nullptr) CloseHandle(event_);
}

Win32HidDevice::Outcome Win32HidDevice::Finish(OVERLAPPED* overlapped, DWORD timeout_ms,
                                               DWORD* transferred) {
  const DWORD wait = WaitForSingleObject(event_, timeout_ms);
  if (wait != WAIT_OBJECT_0) {
    CancelIo(handle_);
    // Block until the request has really ended (cancelled, or completed in the meantime): only
    // then is the buffer free again.
    DWORD ignored = 0;
    if (GetOverlappedResult(handle_, overlapped, &ignored, TRUE)) {
      *transferred = ignored;
      return Outcome::kDone;
    }
    return wait == WAIT_TIMEOUT ? Outcome::kTimedOut : Outcome::kFailed;
  }
  if (!GetOverlappedResult(handle_, overlapped, transferred, FALSE)) return Outcome::kFailed;
  return Outcome::kDone;
}

bool Win32HidDevice::WriteReport(const std::uint8_t (&report)[kReportSize]) {
  if (!Usable()) return false;
  OVERLAPPED overlapped{};
  overlapped.hEvent = event_;
  ResetEvent(event_);
  if (!WriteFile(handle_, report, kReportSize, nullptr, &overlapped) &&
      GetLastError() != ERROR_IO_PENDING) {
    return false;
  }
  DWORD written = 0;
  return Finish(&overlapped, kWriteTimeoutMs, &written) == Outcome::kDone && written == kReportSize;
}

ReadResult Win32HidDevice::ReadReport(std::uint8_t (&report)[kReportSize], unsigned timeout_ms) {
  if (!Usable()) return ReadResult::kFailed;
  // Read into a buffer of our own, so `report` is only written for a whole answer.
  std::uint8_t incoming[kReportSize] = {};
  OVERLAPPED overlapped{};
  overlapped.hEvent = event_;
  ResetEvent(event_);
  if (!ReadFile(handle_, incoming, kReportSize, nullptr, &overlapped) &&
      GetLastError() != ERROR_IO_PENDING) {
    return ReadResult::kFailed;
  }
  DWORD read = 0;
  switch (Finish(&overlapped, timeout_ms, &read)) {
    case Outcome::kTimedOut:
      return ReadResult::kTimedOut;
    case Outcome::kFailed:
      return ReadResult::kFailed;
    case Outcome::kDone:
      break;
  }
  if (read == 0) return ReadResult::kFailed;
  std::memcpy(report, incoming, sizeof incoming);  // a shorter report leaves zeros after it
  return ReadResult::kOk;
}

std::size_t Win32HidDevice::DiscardPendingInput() {
  (void)HidD_FlushQueue(handle_);
  return kUncounted;
}

bool Win32HidDevice::GetAttributes(HidAttributes* attributes) {
  HIDD_ATTRIBUTES raw{};
  raw.Size = sizeof raw;
  if (!HidD_GetAttributes(handle_, &raw)) return false;
  attributes->vendor_id = raw.VendorID;
  attributes->product_id = raw.ProductID;
  attributes->version = raw.VersionNumber;
  return true;
}

// char16_t and WCHAR are both 16-bit UTF-16 units on Windows, so the caller's buffer is handed
// to the driver as it is, with the caller's byte count.
static_assert(sizeof(char16_t) == sizeof(WCHAR), "UTF-16 code units");

bool Win32HidDevice::GetManufacturerString(char16_t* buffer, std::size_t bytes) {
  return HidD_GetManufacturerString(handle_, buffer, static_cast<ULONG>(bytes)) != FALSE;
}

bool Win32HidDevice::GetProductString(char16_t* buffer, std::size_t bytes) {
  return HidD_GetProductString(handle_, buffer, static_cast<ULONG>(bytes)) != FALSE;
}

}  // namespace platform::win32
