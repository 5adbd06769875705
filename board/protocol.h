// The board's HID report protocol: command codes, report offsets and fixed values.
//
// Every report is 65 bytes; byte 0 is the report ID (always 0). Multi-byte numbers travel high
// byte first. Every command starts with an announce report 00 AA 55 <code>; bytes that no field
// occupies are 0.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/hid_device.h"

namespace board {

using Report = std::uint8_t[platform::kReportSize];

inline constexpr std::size_t kReportSize = platform::kReportSize;
inline constexpr std::size_t kPayloadSize = kReportSize - 1;  // 64 bytes after the report ID
// Where the payload starts in every report, host data and answers alike: after the report ID.
inline constexpr std::size_t kPayloadOffset = 1;

// Command codes (announce report byte 3).
inline constexpr std::uint8_t CMD_I2C_READ = 0x1A;
inline constexpr std::uint8_t CMD_I2C_WRITE = 0x1B;
inline constexpr std::uint8_t CMD_I2C_SPEED = 0x1C;
inline constexpr std::uint8_t CMD_EEPROM_WRITE = 0x22;
inline constexpr std::uint8_t CMD_EEPROM_READ = 0x23;
inline constexpr std::uint8_t CMD_GET_LINES = 0x24;
inline constexpr std::uint8_t CMD_SET_LINES = 0x25;
inline constexpr std::uint8_t CMD_SENSOR_DATA = 0x30;
inline constexpr std::uint8_t CMD_EXPAND_CHANNEL = 0x50;
inline constexpr std::uint8_t CMD_HARDWARE_RESET = 0xFD;

// Announce report.
inline constexpr std::size_t kAnnounceMagic1 = 1;  // 0xAA
inline constexpr std::size_t kAnnounceMagic2 = 2;  // 0x55
inline constexpr std::size_t kAnnounceCommand = 3;
inline constexpr std::size_t kAnnounceArg1 = 4;  // 0x30: 0x20; 0x50: expander address
inline constexpr std::size_t kAnnounceArg2 = 5;  // 0x50: channel
inline constexpr std::uint8_t kMagic1 = 0xAA;
inline constexpr std::uint8_t kMagic2 = 0x55;
inline constexpr std::uint8_t kSensorRequestArg = 0x20;

// Parameter report of the I2C transfers (0x1A, 0x1B).
inline constexpr std::size_t kI2cParamSlave = 1;
inline constexpr std::size_t kI2cParamCountHigh = 2;
inline constexpr std::size_t kI2cParamCountLow = 3;
inline constexpr std::size_t kI2cParamStart = 4;
inline constexpr std::size_t kI2cParamStop = 5;

// Parameter report of the speed command (0x1C).
inline constexpr std::size_t kSpeedParamCode = 1;

// Parameter report of the EEPROM commands (0x22, 0x23).
inline constexpr std::size_t kEepromParamAddrHigh = 1;
inline constexpr std::size_t kEepromParamAddrLow = 2;
inline constexpr std::size_t kEepromParamCount = 3;
inline constexpr std::uint8_t kEepromMaxPage = 64;

// Answer reports.
inline constexpr std::size_t kAnswerStatus = 1;  // status byte of a transfer, speed answer
// The speed answer's status byte holds the speed code now in force in bits 3..2.
inline constexpr unsigned kSpeedAnswerShift = 2;
inline constexpr std::uint8_t kSpeedAnswerMask = 3;

// Line-state record: 64 bytes, record byte i in report byte i + 1.
inline constexpr std::size_t kLineRecordSize = 64;
inline constexpr std::size_t kLineReset = 1;
inline constexpr std::size_t kLineKey1 = 2;
inline constexpr std::size_t kLineKey2 = 3;
inline constexpr std::size_t kLineKey3 = 4;
inline constexpr std::size_t kLineLedFail = 5;
inline constexpr std::size_t kLineLedError = 6;
inline constexpr std::size_t kLineLedPass = 7;
inline constexpr std::size_t kLineBuzzer = 8;
inline constexpr std::size_t kLinePower = 9;
inline constexpr std::size_t kLineInt = 10;

// Sensor block: 64 raw bytes, 32 values high byte first; the expander sits at 0x70.
inline constexpr std::size_t kSensorBlockSize = 64;
inline constexpr std::size_t kSensorValueCount = 32;
inline constexpr std::uint8_t kExpanderAddress = 0x70;

// I2C clock: requested kHz to the board's speed code.
inline constexpr std::uint8_t kSpeedCode50k = 0;
inline constexpr std::uint8_t kSpeedCode400k = 1;
inline constexpr std::uint8_t kSpeedCode1M = 3;
inline constexpr std::uint8_t SpeedCodeFor(std::uint16_t khz) {
  return khz == 400 ? kSpeedCode400k : khz == 1000 ? kSpeedCode1M : kSpeedCode50k;
}

// Long transfers carry their count in 16 bits.
inline constexpr std::uint32_t kMaxTransferCount = 0xFFFF;
// Data reports of a transfer of `count` bytes: always count / 64 + 1.
inline constexpr std::uint32_t DataReportCount(std::uint32_t count) {
  return count / kPayloadSize + 1;
}

// The only pause of the protocol: after an EEPROM page write, inside the exchange lock.
inline constexpr unsigned kEepromWritePauseMs = 10;

// How long one answer read waits for the board.
inline constexpr unsigned kAnswerTimeoutMs = 200;
// How much longer the next command waits for answers that a command gave up on, so that they
// are dropped instead of being taken as its own.
inline constexpr unsigned kOwedAnswerGraceMs = 200;

}  // namespace board
