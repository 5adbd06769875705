// An emulated HID device described by its path and the four marks discovery compares.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "platform/emulated/emulated_hid_system.h"

namespace testing_support {

inline platform::EmulatedDeviceDescription DeviceDescription(std::string path, std::uint16_t vid,
                                                             std::uint16_t pid,
                                                             std::u16string manufacturer,
                                                             std::u16string product) {
  platform::EmulatedDeviceDescription d;
  d.path = std::move(path);
  d.vendor_id = vid;
  d.product_id = pid;
  d.manufacturer = std::move(manufacturer);
  d.product = std::move(product);
  return d;
}

}  // namespace testing_support
