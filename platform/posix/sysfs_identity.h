// What Windows learns from HidD_GetAttributes and the HID string queries, read from sysfs for a
// hidraw node: the IDs and strings of the USB device the node's HID interface belongs to.
#pragma once

#include <cstdint>
#include <string>

namespace platform::posix {

struct SysfsIdentity {
  std::uint16_t vendor_id = 0;
  std::uint16_t product_id = 0;
  std::uint16_t version = 0;
  bool has_manufacturer = false;
  bool has_product = false;
  std::string manufacturer;  // UTF-8, without the trailing newline sysfs adds
  std::string product;
  bool has_serial = false;
  std::string serial;    // the USB device's serial number string
  std::string location;  // the USB device's sysfs name: bus and port path, e.g. "1-2.3"
};

// `class_entry` is <sysfs>/class/hidraw/hidrawN. Walks up from its `device` link to the nearest
// ancestor with idVendor and idProduct (the USB device), staying inside `sysfs_root`. A HID
// device on another bus has no such ancestor: its IDs then come from HID_ID in the HID device's
// uevent, and it has no strings. Returns false when neither source gives IDs.
bool ReadSysfsIdentity(const std::string& sysfs_root, const std::string& class_entry,
                       SysfsIdentity* identity);

}  // namespace platform::posix
