// What every test device in place of the board answers to discovery's queries: the board's IDs
// and no strings (the board link never asks for them once a device is attached).
#pragma once

#include <cstddef>

#include "platform/hid_device.h"

namespace testing_support {

class BoardDevice : public platform::HidDevice {
 public:
  bool GetAttributes(platform::HidAttributes* attributes) override {
    attributes->vendor_id = 0x04B4;
    attributes->product_id = 0xE006;
    return true;
  }
  bool GetManufacturerString(char16_t*, std::size_t) override { return false; }
  bool GetProductString(char16_t*, std::size_t) override { return false; }
};

}  // namespace testing_support
