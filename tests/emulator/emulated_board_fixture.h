// A CUSBChannel opened through OpenBoard() on a fresh emulated HID system holding one emulated
// board; links of the test's own open through opener_, over the same system.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "board/usb_channel.h"
#include "emulator/board_emulator.h"
#include "link/board_link.h"
#include "platform/emulated/emulated_hid_system.h"
#include "tests/support/byte_pattern.h"

namespace testing_support {

class EmulatedBoardTest : public ::testing::Test {
 protected:
  explicit EmulatedBoardTest(platform::TimeBase base = platform::TimeBase::kReal) : system_(base) {}

  void SetUp() override {
    id_ = system_.AddDevice(emulator::HidDescriptionOf(emulator::BoardData()), board_);
    system_.RecordTakenReports(true);
    ASSERT_EQ(channel_.OpenBoard(), 0) << "the emulated board was not found";
  }

  Bytes ReadEeprom(std::int32_t address, std::uint8_t n) {
    Bytes out(n, 0);
    channel_.ReadEEPROMPage(address, out.data(), n);
    return out;
  }
  // The tags of the answers read since the last call, by any handle.
  std::vector<platform::TakenReport> NewlyTaken() {
    std::vector<platform::TakenReport> all = system_.TakenReports(id_);
    std::vector<platform::TakenReport> fresh(all.begin() + static_cast<std::ptrdiff_t>(seen_),
                                             all.end());
    seen_ = all.size();
    return fresh;
  }
  std::uint8_t Line(std::size_t record_byte) {
    std::uint8_t record[board::kLineRecordSize];
    channel_.ReadLineState(record);
    return record[record_byte];
  }

  platform::EmulatedHidSystem system_;
  std::shared_ptr<emulator::BoardEmulator> board_ = std::make_shared<emulator::BoardEmulator>();
  platform::EmulatedHidSystem::DeviceId id_ = 0;
  HidBoardOpener opener_{system_};
  CUSBChannel channel_{opener_};
  std::size_t seen_ = 0;
};

}  // namespace testing_support
