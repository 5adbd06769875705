// Round trips through the real board link, opened by OpenBoard() over the emulated HID system.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "emulated_board_fixture.h"

namespace {

using namespace board;
using testing_support::Bytes;
using testing_support::Pattern;

class RoundTrip : public testing_support::EmulatedBoardTest {};

TEST_F(RoundTrip, EepromPagesReadBackWhatWasWritten) {
  struct Case {
    std::int32_t address;
    std::uint8_t count;
  };
  const Case cases[] = {{0x0000, 3}, {0x0120, 64}, {0x7FE0, 1}, {0x12345, 16}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    const Bytes data = Pattern(c.count, static_cast<std::uint8_t>(c.address + 1));
    channel_.WriteEEPROMPage(c.address, data.data(), c.count);
    EXPECT_EQ(ReadEeprom(c.address, c.count), data);
    EXPECT_EQ(board_->Eeprom(static_cast<std::size_t>(c.address) & 0xFFFF, c.count), data);
  }
  EXPECT_EQ(ReadEeprom(0x4000, 8), Bytes(8, 0xFF));  // erased at power-up
}

TEST_F(RoundTrip, EepromWrapsAt64KiBAndClampsTheCount) {
  const Bytes data = Pattern(64, 0x40);
  channel_.WriteEEPROMPage(0xFFE0, data.data(), 200);  // taken as 64
  EXPECT_EQ(board_->Eeprom(0xFFE0, 32), Bytes(data.begin(), data.begin() + 32));
  EXPECT_EQ(board_->Eeprom(0x0000, 32), Bytes(data.begin() + 32, data.end()));

  Bytes read(100, 0x11);
  channel_.ReadEEPROMPage(0xFFE0, read.data(), 100);
  EXPECT_EQ(Bytes(read.begin(), read.begin() + 64), data);
  EXPECT_EQ(Bytes(read.begin() + 64, read.end()), Bytes(36, 0x11));  // beyond 64: untouched
}

TEST_F(RoundTrip, I2cMemoryWritesAndReadsRunsOfAnyLength) {
  for (std::uint32_t n : {0u, 1u, 63u, 64u, 65u, 300u, 4096u}) {
    SCOPED_TRACE(n);
    const std::uint16_t at = static_cast<std::uint16_t>(0x0100 + n);
    Bytes frame = {static_cast<std::uint8_t>(at >> 8), static_cast<std::uint8_t>(at)};
    const Bytes data = Pattern(n, static_cast<std::uint8_t>(n));
    frame.insert(frame.end(), data.begin(), data.end());
    ASSERT_EQ(channel_.WriteI2CLongBytes(0x50, frame.data(),
                                         static_cast<std::uint32_t>(frame.size()), true, true),
              0);
    EXPECT_EQ(board_->Memory()->Peek(at, n), data);

    // Random read: set the pointer without data, then read the run.
    ASSERT_EQ(channel_.WriteI2CLongBytes(0x50, frame.data(), 2, true, false), 0);
    Bytes read(n, 0);
    ASSERT_EQ(channel_.ReadI2CLongBytes(0x50, read.data(), n, true, true), 0);
    EXPECT_EQ(read, data);
  }
}

TEST_F(RoundTrip, I2cReadOfTheLongestRunWrapsAround32KiB) {
  const Bytes memory = Pattern(emulator::kSerialMemorySize, 0);
  board_->Memory()->Poke(0, memory);
  const Bytes pointer = {0x7F, 0xF0};
  ASSERT_EQ(channel_.WriteI2CLongBytes(0x50, pointer.data(), 2, true, false), 0);
  Bytes read(65535, 0);
  ASSERT_EQ(channel_.ReadI2CLongBytes(0x50, read.data(), 65535, true, true), 0);
  for (std::size_t i = 0; i < read.size(); i += 997) {
    ASSERT_EQ(read[i], memory[(0x7FF0 + i) % emulator::kSerialMemorySize]) << "byte " << i;
  }
  EXPECT_EQ(read.back(), memory[(0x7FF0 + 65534) % 32768]);
  // The exact number of answer reports was read: the next command gets its own answer.
  EXPECT_EQ(Line(kLinePower), 0);
  EXPECT_EQ(board_->CommandCount(CMD_GET_LINES), 1u);
}

TEST_F(RoundTrip, I2cWithoutASlaveReportsNoAcknowledge) {
  Bytes read(70, 0x00);
  EXPECT_EQ(channel_.ReadI2CLongBytes(0x52, read.data(), 70, true, true),
            emulator::kI2cStatusNoAck);
  EXPECT_EQ(read, Bytes(70, emulator::kI2cIdleBusByte));
  const Bytes data = {0, 0, 1};
  EXPECT_EQ(channel_.WriteI2CLongBytes(0xA0, data.data(), 3, true, true),
            emulator::kI2cStatusNoAck);
  board_->DetachI2cSlave(0x50);
  EXPECT_EQ(channel_.WriteI2CLongBytes(0x50, data.data(), 3, true, true),
            emulator::kI2cStatusNoAck);
}

TEST_F(RoundTrip, EachSetterDrivesItsOwnLine) {
  struct Case {
    const char* name;
    void (CUSBChannel::*set)(int);
    std::size_t line;
  };
  const Case cases[] = {
      {"power", &CUSBChannel::SetPower, kLinePower},
      {"reset", &CUSBChannel::SetReset, kLineReset},
      {"buzzer", &CUSBChannel::SetBuzzer, kLineBuzzer},
      {"pass", &CUSBChannel::SetLedPass, kLineLedPass},
      {"fail", &CUSBChannel::SetLedFail, kLineLedFail},
      {"error", &CUSBChannel::SetLedError, kLineLedError},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const emulator::LineRecord before = board_->Lines();
    (channel_.*c.set)(1);
    emulator::LineRecord expected = before;
    expected[c.line] = 1;
    EXPECT_EQ(board_->Lines(), expected);
    EXPECT_EQ(Line(c.line), 1);
    (channel_.*c.set)(0);
    EXPECT_EQ(board_->Lines(), before);
    EXPECT_EQ(Line(c.line), 0);
  }
}

TEST_F(RoundTrip, KeysAndIntFollowTheInputsNotTheHost) {
  const std::size_t lines[] = {kLineKey1, kLineKey2, kLineKey3};
  for (int key = 1; key <= 3; ++key) {
    SCOPED_TRACE(key);
    board_->SetKey(key, true);
    EXPECT_EQ(Line(lines[key - 1]), 1);
    channel_.SetPower(1);  // a read-modify-write does not latch the key
    board_->SetKey(key, false);
    EXPECT_EQ(Line(lines[key - 1]), 0);
  }
  board_->SetInt(true);
  EXPECT_EQ(Line(kLineInt), 1);
  std::uint8_t record[kLineRecordSize] = {};
  channel_.WriteLineState(record);  // writing 0 over INT changes nothing
  EXPECT_EQ(Line(kLineInt), 1);
  board_->SetInt(false);
  EXPECT_EQ(Line(kLineInt), 0);
}

TEST_F(RoundTrip, UninterpretedRecordBytesKeepWhatWasWritten) {
  std::uint8_t record[kLineRecordSize];
  for (std::size_t i = 0; i < kLineRecordSize; ++i) record[i] = static_cast<std::uint8_t>(0x80 + i);
  channel_.WriteLineState(record);
  // The answer to 0x25 echoes the record as it now stands.
  EXPECT_EQ(channel_.Answer()[1 + 0], 0x80);
  EXPECT_EQ(channel_.Answer()[1 + kLineKey1], 0);
  std::uint8_t back[kLineRecordSize];
  channel_.ReadLineState(back);
  for (std::size_t i = 0; i < kLineRecordSize; ++i) {
    const bool input = i == kLineKey1 || i == kLineKey2 || i == kLineKey3 || i == kLineInt;
    EXPECT_EQ(back[i], input ? 0 : record[i]) << "record byte " << i;
  }
}

std::array<std::uint16_t, kSensorValueCount> Values(CUSBChannel& channel) {
  std::uint16_t v[kSensorValueCount];
  channel.ReadSensorRawData(v);
  std::array<std::uint16_t, kSensorValueCount> out;
  for (std::size_t k = 0; k < kSensorValueCount; ++k) out[k] = v[k];
  return out;
}

TEST_F(RoundTrip, SensorBlockFollowsTheExpanderChannel) {
  auto own = Values(channel_);
  for (std::size_t k = 0; k < kSensorValueCount; ++k) EXPECT_EQ(own[k], 0xA5A0 + k);

  channel_.SelectExpandChannel(0x71, 4);  // no expander there
  EXPECT_EQ(Values(channel_), own);

  for (std::uint8_t ch : {0, 2, 255}) {
    SCOPED_TRACE(int(ch));
    channel_.SelectExpandChannel(kExpanderAddress, ch);
    const auto v = Values(channel_);
    for (std::size_t k = 0; k < kSensorValueCount; ++k) EXPECT_EQ(v[k], ch * 0x100 + k);
  }

  emulator::SensorBlock block{};
  block[0] = 0x12;
  block[1] = 0x34;
  block[62] = 0xAB;
  block[63] = 0xCD;
  board_->SetSensor(7, block);
  channel_.SelectExpandChannel(kExpanderAddress, 7);
  const auto v = Values(channel_);
  EXPECT_EQ(v[0], 0x1234);
  EXPECT_EQ(v[31], 0xABCD);
}

TEST_F(RoundTrip, SpeedCodeIsKeptAndAnswered) {
  const std::pair<std::uint16_t, int> cases[] = {{50, 0}, {400, 1}, {1000, 3}, {100, 0}};
  for (const auto& [khz, code] : cases) {
    SCOPED_TRACE(khz);
    EXPECT_EQ(channel_.SetI2CSpeed(khz), code);
    EXPECT_EQ(board_->SpeedCode(), code);
  }
}

TEST_F(RoundTrip, HardwareResetRestoresLinesSpeedAndChannelOnly) {
  const Bytes page = Pattern(8, 0x30);
  channel_.WriteEEPROMPage(0x0200, page.data(), 8);
  const Bytes frame = {0x00, 0x10, 0xC1, 0xC2};
  channel_.WriteI2CLongBytes(0x50, frame.data(), 4, true, true);
  channel_.SetPower(1);
  channel_.SetLedFail(1);
  board_->SetKey(2, true);
  channel_.SetI2CSpeed(1000);
  channel_.SelectExpandChannel(kExpanderAddress, 3);

  channel_.SendHardwareReset();

  EXPECT_EQ(Line(kLinePower), 0);
  EXPECT_EQ(Line(kLineLedFail), 0);
  EXPECT_EQ(Line(kLineKey2), 1);  // still pressed
  EXPECT_EQ(board_->SpeedCode(), 0);
  EXPECT_EQ(board_->ExpanderChannel(), emulator::kNoChannel);
  EXPECT_EQ(Values(channel_)[0], 0xA5A0);
  EXPECT_EQ(ReadEeprom(0x0200, 8), page);
  EXPECT_EQ(board_->Memory()->Peek(0x0010, 2), (Bytes{0xC1, 0xC2}));
}

TEST_F(RoundTrip, PowerUpLinesComeFromTheBoardData) {
  emulator::BoardData data;
  data.power_up_lines[kLineLedPass] = 1;
  data.power_up_lines[0] = 0x42;
  data.path = "second";
  system_.AddDevice(emulator::HidDescriptionOf(data),
                    std::make_shared<emulator::BoardEmulator>(data));
  system_.Unplug(id_);  // the first board goes; the second is found
  ASSERT_EQ(channel_.OpenBoard(), 0);
  EXPECT_EQ(Line(kLineLedPass), 1);
  EXPECT_EQ(channel_.Answer()[1], 0x42);
  channel_.SetLedPass(0);
  channel_.SendHardwareReset();
  EXPECT_EQ(Line(kLineLedPass), 1);
}

}  // namespace
