#include "platform/win32/win32_hid_backend.h"

#include "platform/win32/wide_text.h"
#include "platform/win32/win32_hid_device.h"

extern "C" {
#include <hidsdi.h>
}

namespace platform::win32 {

Win32HidEnumeration::~Win32HidEnumeration() {
  m_detail.reset();
  SetupDiDestroyDeviceInfoList(m_set);
}

InterfaceStatus Win32HidEnumeration::InterfacePath(unsigned index, std::string* path) {
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof data;
  if (!SetupDiEnumDeviceInterfaces(m_set, nullptr, &m_guid, index, &data)) {
    return InterfaceStatus::kEnd;
  }

  // First call: only the size. It fails with ERROR_INSUFFICIENT_BUFFER by design.
  DWORD required = 0;
  SetupDiGetDeviceInterfaceDetailW(m_set, &data, nullptr, 0, &required, nullptr);
  m_detail.reset();
  if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) return InterfaceStatus::kUnreadable;

  m_detail.reset(static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(std::malloc(required)));
  if (!m_detail) return InterfaceStatus::kUnreadable;
  // The size of the fixed part, which differs between 32-bit (6) and 64-bit (8) processes.
  m_detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
  if (!SetupDiGetDeviceInterfaceDetailW(m_set, &data, m_detail.get(), required, nullptr, nullptr)) {
    return InterfaceStatus::kUnreadable;
  }
  *path = NarrowUtf8(m_detail->DevicePath);
  return path->empty() ? InterfaceStatus::kUnreadable : InterfaceStatus::kFound;
}

std::unique_ptr<HidEnumeration> Win32HidBackend::Enumerate() {
  GUID hidGuid;
  HidD_GetHidGuid(&hidGuid);
  HDEVINFO set =
      SetupDiGetClassDevsW(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<Win32HidEnumeration>(set, hidGuid);
}

std::unique_ptr<HidDevice> Win32HidBackend::Open(const std::string& path) {
  const std::wstring widePath = WidenUtf8(path);
  if (widePath.empty()) return nullptr;
  HANDLE handle = CreateFileW(widePath.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  std::unique_ptr<Win32HidDevice> device;
  try {
    device = std::make_unique<Win32HidDevice>(handle);
  } catch (...) {
    CloseHandle(handle);  // no object took it: a failed allocation must not keep the board open
    throw;
  }
  if (!device->Usable()) return nullptr;  // closes the handle
  return device;
}

}  // namespace platform::win32

namespace platform {

HidBackend& DefaultHidBackend() {
  static win32::Win32HidBackend backend;
  return backend;
}

}  // namespace platform
