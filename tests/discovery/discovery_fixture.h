// Discovery over a test-owned emulated HID system: device descriptions that differ from the
// board in one mark at a time, and a fixture that searches a system of its own.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>

#include "board/board_identity.h"
#include "link/discovery.h"
#include "platform/emulated/emulated_hid_system.h"
#include "tests/support/device_description.h"

namespace discovery_test {

using platform::EmulatedDeviceDescription;
using platform::EmulatedHidSystem;
using DeviceId = EmulatedHidSystem::DeviceId;

using testing_support::DeviceDescription;

// A device that carries all four marks of the board.
inline EmulatedDeviceDescription BoardLike(const std::string& path) {
  return DeviceDescription(path, static_cast<std::uint16_t>(board_identity::kVendorId),
                           static_cast<std::uint16_t>(board_identity::kProductId),
                           u"Qelvantorix Ltd", u"KovalmiretteV4");
}

class DiscoveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A handle from another system stands in for whatever the caller held before the search:
    // a search that finds nothing must leave it in place.
    sentinel_system_.AddDevice(
        DeviceDescription("sentinel", 0x1234, 0x5678, u"Other", u"Sentinel"));
    found_ = sentinel_system_.Open("sentinel");
    ASSERT_NE(found_, nullptr);
    sentinel_ = found_.get();
  }

  // FindHidDevice with the board identity over system_.
  int FindBoard() {
    return FindHidDevice(system_, &found_, board_identity::kVendorId, board_identity::kManufacturer,
                         board_identity::kProductId, board_identity::kProduct);
  }

  bool OutHandleUntouched() const { return found_.get() == sentinel_; }

  EmulatedHidSystem sentinel_system_;
  EmulatedHidSystem system_;
  std::unique_ptr<platform::HidDevice> found_;
  const platform::HidDevice* sentinel_ = nullptr;
};

}  // namespace discovery_test
