// The emulated board's state file as qvx uses it: the format and codec of
// emulator/board_state_file.h, with its errors as qvx's usage errors (a file that cannot be
// read or holds no valid state) and failures (a file that cannot be written).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "emulator/board_state_file.h"

namespace qvx {

using emulator::Crc32;
using emulator::EncodeBoardState;
using emulator::kStateChannelAt;
using emulator::kStateChannelSelectedAt;
using emulator::kStateCrcAt;
using emulator::kStateEepromAt;
using emulator::kStateFileSize;
using emulator::kStateInputsAt;
using emulator::kStateLinesAt;
using emulator::kStateMagic;
using emulator::kStateMemoryAt;
using emulator::kStatePointerAt;
using emulator::kStateSpeedAt;
using emulator::kStateVersion;
using emulator::kStateVersionAt;

// Throw UsageError (a file that cannot be read or holds no valid state) or Failure (a file that
// cannot be written) with the codec's message.
emulator::BoardState DecodeBoardState(const std::vector<std::uint8_t>& bytes,
                                      const std::string& file);
std::optional<emulator::BoardState> LoadStateFile(const std::string& file);
void SaveStateFile(const std::string& file, const emulator::BoardState& state);

}  // namespace qvx
