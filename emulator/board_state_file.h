// The emulated board's state as a file, so that separate runs of `qvx --emulated-state FILE`
// (and of programs using the emulated control with QVX_EMULATED_STATE) drive one board the way
// separate runs drive a real board that stays powered.
//
// Layout, version 1 (integers little-endian; docs/emulator.md shows the same table):
//   offset      size   field
//   0           8      magic "QVXSTATE"
//   8           2      version (1)
//   10          1      I2C speed code
//   11          1      inputs: bit 0..2 keys 1..3 pressed, bit 3 INT high; other bits 0
//   12          1      expander channel selected: 0 no, 1 yes
//   13          1      selected channel (0 when none)
//   14          2      address pointer of the serial memory at 0x50 (0..0x7FFF)
//   16          64     line-state record
//   80          65536  EEPROM
//   65616       32768  serial memory at 0x50
//   98384       4      CRC-32 (the zlib/IEEE one) of bytes 0..98383
//
// Version 2 (a board with modelled slaves) is version 1 with the version field 2 and, between
// the serial memory and the CRC-32 (which then covers everything before it):
//   98384       2      number of modelled slaves, 1..128
//   then for each slave, by ascending address: 1 address, 4 length L, L bytes of its state
// A board without modelled slaves writes version 1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "emulator/board_emulator.h"
#include "emulator/serial_memory.h"

namespace emulator {

// What is wrong with a state file; `usage` for a file that cannot be read or holds no valid
// state (the caller refuses to run), otherwise a file that could not be written.
class StateFileError : public std::runtime_error {
 public:
  StateFileError(const std::string& what, bool usage) : std::runtime_error(what), usage_(usage) {}
  bool usage() const { return usage_; }

 private:
  bool usage_;
};

inline constexpr char kStateMagic[] = "QVXSTATE";  // the 8 characters, no terminator in files
inline constexpr std::uint16_t kStateVersion = 1;
inline constexpr std::uint16_t kStateVersionSlaves = 2;

inline constexpr std::size_t kStateMagicAt = 0;
inline constexpr std::size_t kStateMagicSize = 8;
inline constexpr std::size_t kStateVersionAt = 8;
inline constexpr std::size_t kStateSpeedAt = 10;
inline constexpr std::size_t kStateInputsAt = 11;
inline constexpr std::size_t kStateChannelSelectedAt = 12;
inline constexpr std::size_t kStateChannelAt = 13;
inline constexpr std::size_t kStatePointerAt = 14;
inline constexpr std::size_t kStateLinesAt = 16;
inline constexpr std::size_t kStateEepromAt = kStateLinesAt + board::kLineRecordSize;
inline constexpr std::size_t kStateMemoryAt = kStateEepromAt + kEepromSize;
inline constexpr std::size_t kStateCrcAt = kStateMemoryAt + kSerialMemorySize;
inline constexpr std::size_t kStateFileSize = kStateCrcAt + 4;
inline constexpr std::size_t kStateSlavesAt = kStateCrcAt;  // version 2
inline constexpr std::size_t kStateMaxSlaveBytes = 1 << 20;

std::uint32_t Crc32(const std::uint8_t* data, std::size_t n);

std::vector<std::uint8_t> EncodeBoardState(const BoardState& state);
// Throws StateFileError (usage) naming `file` and what is wrong with `bytes`.
BoardState DecodeBoardState(const std::vector<std::uint8_t>& bytes, const std::string& file);

// Nothing when `file` does not exist (a board fresh from the factory); throws StateFileError
// (usage) when it
// cannot be read or holds no valid state.
std::optional<BoardState> LoadStateFile(const std::string& file);
// Writes `file`.tmp, then renames it to `file`: `file` is either the old state or the new one,
// never a part. Throws StateFileError (not usage) when either step fails (`file` is then
// unchanged).
void SaveStateFile(const std::string& file, const BoardState& state);

}  // namespace emulator
