#include "platform/win32/win32_placement.h"

#include <devpropdef.h>
#include <setupapi.h>

#include <cfgmgr32.h>

#include <cstdint>
#include <cwctype>
#include <memory>
#include <type_traits>
#include <vector>

#include "platform/win32/wide_text.h"

extern "C" {
#include <hidsdi.h>
}

namespace platform::win32 {

namespace {

// DEVPKEY_Device_LocationPaths (devpkey.h), defined here so that no other translation unit's
// property keys are pulled in with INITGUID.
const DEVPROPKEY kLocationPaths = {
    {0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 37};

// A HID interface sits a few devnodes below its USB device (HID collection, composite
// interface, USB device); a chain longer than this has left the device's subtree.
constexpr int kMaxLevels = 8;

// Serial number strings are USB string descriptors: at most 126 UTF-16 units.
constexpr std::size_t kSerialUnits = 128;

std::wstring Upper(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
  return text;
}

struct InfoListDestroyer {
  void operator()(HDEVINFO set) const { SetupDiDestroyDeviceInfoList(set); }
};
using InfoList = std::unique_ptr<std::remove_pointer_t<HDEVINFO>, InfoListDestroyer>;

// The device instance that the interface at `path` belongs to, opened into `set`; false when
// the system does not know the path.
bool InstanceOf(HDEVINFO set, const std::wstring& path, DEVINST* instance) {
  SP_DEVICE_INTERFACE_DATA interface_data{};
  interface_data.cbSize = sizeof interface_data;
  if (!SetupDiOpenDeviceInterfaceW(set, path.c_str(), 0, &interface_data)) return false;
  // First call: only the size (it fails with ERROR_INSUFFICIENT_BUFFER by design).
  DWORD required = 0;
  SetupDiGetDeviceInterfaceDetailW(set, &interface_data, nullptr, 0, &required, nullptr);
  if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) return false;
  std::vector<std::uint8_t> buffer(required);
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
  SP_DEVINFO_DATA info{};
  info.cbSize = sizeof info;
  if (!SetupDiGetDeviceInterfaceDetailW(set, &interface_data, detail, required, nullptr, &info)) {
    return false;
  }
  *instance = info.DevInst;
  return true;
}

std::wstring DeviceIdOf(DEVINST node) {
  wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
  if (CM_Get_Device_IDW(node, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS) return std::wstring();
  return id;
}

// The first location path of the device instance `id`, opened into `set`; empty when it has
// none. SetupAPI's property query rather than the configuration manager's, so that all of this
// needs setupapi.dll alone (which also exports the CM_ functions used here).
std::wstring LocationPathOf(HDEVINFO set, const std::wstring& id) {
  SP_DEVINFO_DATA info{};
  info.cbSize = sizeof info;
  if (id.empty() || !SetupDiOpenDeviceInfoW(set, id.c_str(), nullptr, 0, &info)) {
    return std::wstring();
  }
  DEVPROPTYPE type = 0;
  DWORD bytes = 0;
  SetupDiGetDevicePropertyW(set, &info, &kLocationPaths, &type, nullptr, 0, &bytes, 0);
  if (bytes < sizeof(wchar_t)) return std::wstring();
  std::vector<wchar_t> units(bytes / sizeof(wchar_t) + 1, L'\0');
  if (!SetupDiGetDevicePropertyW(set, &info, &kLocationPaths, &type,
                                 reinterpret_cast<PBYTE>(units.data()), bytes, &bytes, 0) ||
      type != DEVPROP_TYPE_STRING_LIST) {
    return std::wstring();
  }
  return FirstOfMultiString(units.data(), bytes / sizeof(wchar_t));
}

}  // namespace

std::wstring FirstOfMultiString(const wchar_t* units, std::size_t count) {
  if (units == nullptr) return std::wstring();
  std::size_t length = 0;
  while (length < count && units[length] != L'\0') ++length;
  return std::wstring(units, length);
}

std::string NarrowBufferUtf8(const wchar_t* units, std::size_t count) {
  return NarrowUtf8(FirstOfMultiString(units, count).c_str());
}

bool IsUsbDeviceInstance(const std::wstring& instance_id) {
  const std::wstring id = Upper(instance_id);
  if (id.compare(0, 4, L"USB\\") != 0) return false;
  // The hardware ID part ends at the next backslash; an interface of a composite device has
  // "&MI_nn" in it.
  const std::size_t end = id.find(L'\\', 4);
  const std::wstring hardware = id.substr(4, end == std::wstring::npos ? end : end - 4);
  return !hardware.empty() && hardware.find(L"&MI_") == std::wstring::npos;
}

std::string SerialNumberOf(const std::wstring& path) {
  // No access asked for, full sharing: the query answers also while another program has the
  // device open, and keyboards and mice, which the system holds for itself, answer too.
  HANDLE handle = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::string();
  wchar_t units[kSerialUnits] = {};
  const bool answered = HidD_GetSerialNumberString(handle, units, sizeof units) != FALSE;
  CloseHandle(handle);
  return answered ? NarrowBufferUtf8(units, kSerialUnits) : std::string();
}

std::string UsbLocationOf(const std::wstring& path) {
  HDEVINFO raw = SetupDiCreateDeviceInfoList(nullptr, nullptr);
  if (raw == INVALID_HANDLE_VALUE) return std::string();
  const InfoList set(raw);
  DEVINST node = 0;
  if (!InstanceOf(set.get(), path, &node)) return std::string();
  for (int level = 0; level < kMaxLevels; ++level) {
    const std::wstring id = DeviceIdOf(node);
    const std::wstring location = LocationPathOf(set.get(), id);
    if (IsUsbDeviceInstance(id)) return NarrowUtf8(location.c_str());
    // A HID device on another bus has its location on the first devnode that has one; a
    // composite device's interface node is passed over for the USB device above it.
    if (!location.empty() && Upper(id).compare(0, 4, L"USB\\") != 0) {
      return NarrowUtf8(location.c_str());
    }
    DEVINST parent = 0;
    if (CM_Get_Parent(&parent, node, 0) != CR_SUCCESS) break;
    node = parent;
  }
  return std::string();
}

InUse ProbeInUse(const std::wstring& path) {
  HANDLE probe = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             0, nullptr);
  if (probe != INVALID_HANDLE_VALUE) {
    CloseHandle(probe);
    return InUse::kNo;
  }
  return GetLastError() == ERROR_SHARING_VIOLATION ? InUse::kYes : InUse::kCannotTell;
}

}  // namespace platform::win32
