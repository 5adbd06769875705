// The emulated board described as data: what it tells the HID system about itself and what its
// memories and lines hold when it powers up.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "board/protocol.h"
#include "platform/emulated/emulated_hid_system.h"

namespace emulator {

inline constexpr std::size_t kEepromSize = 64 * 1024;
inline constexpr std::uint8_t kErasedByte = 0xFF;
inline constexpr unsigned kDefaultLateDelayMs = 300;  // longer than the host's 200 ms bound

using LineRecord = std::array<std::uint8_t, board::kLineRecordSize>;
using SensorBlock = std::array<std::uint8_t, board::kSensorBlockSize>;

// Sensor block selector: the board's own block, or an expander channel 0..255.
inline constexpr int kOwnSensorBlock = -1;

// The blocks a board returns until a test sets others, 32 values high byte first:
//   own block:  value k = 0xA5A0 + k   (low byte 0xA0..0xBF)
//   channel c:  value k = c * 0x100 + k (low byte 0x00..0x1F)
// so every channel's block differs from every other one and from the own block.
SensorBlock DefaultSensorBlock(int channel);

struct BoardData {
  std::string path =
      "\\\\?\\hid#vid_04b4&pid_e006#emulated&0#{4d1e55b2-f16f-11cf-88cb-001111000030}";
  std::uint16_t vendor_id;
  std::uint16_t product_id;
  std::u16string manufacturer;
  std::u16string product;
  // The USB serial number string and the port the board is plugged into (empty: none).
  std::u16string serial;
  std::string location;
  std::vector<std::uint8_t> eeprom = std::vector<std::uint8_t>(kEepromSize, kErasedByte);
  // The line-state record after power-up and after command 0xFD (its key and INT bytes are
  // replaced by the current input levels).
  LineRecord power_up_lines{};
  unsigned late_delay_ms = kDefaultLateDelayMs;

  BoardData();  // the board's real identity
};

// What the emulated HID system reports for this board.
platform::EmulatedDeviceDescription HidDescriptionOf(const BoardData& data);

}  // namespace emulator
