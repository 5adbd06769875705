#include "platform/win32/win32_hid_backend.h"

#include <cctype>
#include <cstdlib>
#include <string>

#include "platform/win32/wide_text.h"
#include "platform/win32/win32_hid_device.h"
#include "platform/win32/win32_placement.h"

extern "C" {
#include <hidsdi.h>
}

namespace platform::win32 {

namespace {

// The four hex digits after `key` (case-insensitive) in `path`; false when absent.
bool HexAfter(const std::string& path, const char* key, std::uint16_t* value) {
  std::string lower(path);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::size_t at = lower.find(key);
  constexpr std::size_t kDigits = 4;
  if (at == std::string::npos) return false;
  const std::size_t from = at + std::string(key).size();
  if (from + kDigits > lower.size()) return false;
  const std::string digits = lower.substr(from, kDigits);
  if (digits.find_first_not_of("0123456789abcdef") != std::string::npos) return false;
  *value = static_cast<std::uint16_t>(std::strtoul(digits.c_str(), nullptr, 16));
  return true;
}

}  // namespace

Win32HidEnumeration::~Win32HidEnumeration() {
  detail_.reset();
  SetupDiDestroyDeviceInfoList(set_);
}

InterfaceStatus Win32HidEnumeration::InterfacePath(unsigned index, std::string* path) {
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof data;
  if (!SetupDiEnumDeviceInterfaces(set_, nullptr, &guid_, index, &data)) {
    return InterfaceStatus::kEnd;
  }

  // First call: only the size. It fails with ERROR_INSUFFICIENT_BUFFER by design.
  DWORD required = 0;
  SetupDiGetDeviceInterfaceDetailW(set_, &data, nullptr, 0, &required, nullptr);
  detail_.reset();
  if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) return InterfaceStatus::kUnreadable;

  detail_.reset(static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(std::malloc(required)));
  if (!detail_) return InterfaceStatus::kUnreadable;
  // The size of the fixed part, which differs between 32-bit (6) and 64-bit (8) processes.
  detail_->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
  if (!SetupDiGetDeviceInterfaceDetailW(set_, &data, detail_.get(), required, nullptr, nullptr)) {
    return InterfaceStatus::kUnreadable;
  }
  *path = NarrowUtf8(detail_->DevicePath);
  return path->empty() ? InterfaceStatus::kUnreadable : InterfaceStatus::kFound;
}

std::unique_ptr<HidEnumeration> Win32HidBackend::Enumerate() {
  GUID hid_guid;
  HidD_GetHidGuid(&hid_guid);
  HDEVINFO set =
      SetupDiGetClassDevsW(&hid_guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<Win32HidEnumeration>(set, hid_guid);
}

namespace {

// "<system text> (error N)" for `code`; the number alone when the system has no text.
std::string ErrorText(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string words;
  if (length != 0 && text != nullptr) {
    words = NarrowUtf8(text);
    while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == ' ' ||
                              words.back() == '.')) {
      words.pop_back();
    }
  }
  if (text != nullptr) LocalFree(text);
  const std::string number = "error " + std::to_string(code);
  return words.empty() ? number : words + " (" + number + ")";
}

}  // namespace

std::unique_ptr<HidDevice> Win32HidBackend::Open(const std::string& path) {
  return OpenExplained(path, nullptr);
}

std::unique_ptr<HidDevice> Win32HidBackend::OpenExplained(const std::string& path,
                                                          std::string* reason) {
  const std::wstring wide_path = WidenUtf8(path);
  if (wide_path.empty()) {
    if (reason != nullptr) *reason = ErrorText(ERROR_INVALID_NAME);
    return nullptr;
  }
  HANDLE handle = CreateFileW(wide_path.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    if (reason != nullptr) *reason = ErrorText(GetLastError());
    return nullptr;
  }
  std::unique_ptr<Win32HidDevice> device;
  try {
    device = std::make_unique<Win32HidDevice>(handle, path);
  } catch (...) {
    CloseHandle(handle);  // no object took it: a failed allocation must not keep the board open
    throw;
  }
  if (!device->Usable()) {  // closes the handle
    if (reason != nullptr) *reason = ErrorText(GetLastError());
    return nullptr;
  }
  return device;
}

bool Win32HidBackend::PeekIds(const std::string& path, HidAttributes* ids) {
  HidAttributes found;
  if (!HexAfter(path, "vid_", &found.vendor_id) || !HexAfter(path, "pid_", &found.product_id)) {
    return false;
  }
  *ids = found;
  return true;
}

bool Win32HidBackend::PeekPlacement(const std::string& path, std::string* serial,
                                    std::string* location) {
  const std::wstring wide_path = WidenUtf8(path);
  const std::string found_serial = wide_path.empty() ? std::string() : SerialNumberOf(wide_path);
  const std::string found_location = wide_path.empty() ? std::string() : UsbLocationOf(wide_path);
  if (serial != nullptr) *serial = found_serial;
  if (location != nullptr) *location = found_location;
  return !found_serial.empty() || !found_location.empty();
}

InUse Win32HidBackend::InUseElsewhere(const std::string& path) {
  const std::wstring wide_path = WidenUtf8(path);
  return wide_path.empty() ? InUse::kCannotTell : ProbeInUse(wide_path);
}

}  // namespace platform::win32

namespace platform {

HidBackend& DefaultHidBackend() {
  static win32::Win32HidBackend backend;
  return backend;
}

}  // namespace platform
