// The Win32 HID back end: the present HID interfaces through SetupAPI, devices opened with
// CreateFileW.
#pragma once

#include <windows.h>

#include <setupapi.h>

#include <cstdlib>
#include <memory>

#include "platform/hid_backend.h"

namespace platform::win32 {

// One device information set of the present HID interfaces. Each InterfacePath call reads one
// interface's detail into a buffer that lives until the next call (or the enumeration's end).
class Win32HidEnumeration final : public HidEnumeration {
 public:
  Win32HidEnumeration(HDEVINFO set, const GUID& hid_guid) : set_(set), guid_(hid_guid) {}
  ~Win32HidEnumeration() override;
  Win32HidEnumeration(const Win32HidEnumeration&) = delete;
  Win32HidEnumeration& operator=(const Win32HidEnumeration&) = delete;

  InterfaceStatus InterfacePath(unsigned index, std::string* path) override;

 private:
  struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
  };

  HDEVINFO set_;
  GUID guid_;
  std::unique_ptr<SP_DEVICE_INTERFACE_DETAIL_DATA_W, FreeDeleter> detail_;
};

class Win32HidBackend final : public HidBackend {
 public:
  std::unique_ptr<HidEnumeration> Enumerate() override;
  std::unique_ptr<HidDevice> Open(const std::string& path) override;
  // The system's text for GetLastError() of a refused open.
  std::unique_ptr<HidDevice> OpenExplained(const std::string& path, std::string* reason) override;
  // Read from the "vid_XXXX&pid_XXXX" part of the device path.
  bool PeekIds(const std::string& path, HidAttributes* ids) override;
  // The serial from HidD_GetSerialNumberString on a handle opened with no access (so it answers
  // while another program has the device open), the location from the device location paths
  // of the USB device above the interface's devnode; each "" where the system does not tell.
  // False when it told neither.
  bool PeekPlacement(const std::string& path, std::string* serial, std::string* location) override;
  // A probe open with share mode 0: a sharing violation means another handle is open.
  InUse InUseElsewhere(const std::string& path) override;
};

}  // namespace platform::win32
