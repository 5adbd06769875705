// The process-wide emulated HID system of the emulated builds: it holds one emulated board,
// plugged in from the start, and is what platform::DefaultHidBackend() returns there. The
// emulated control and the command-line tool plug and unplug the board and set its keys, INT
// and misbehaviour through these accessors.
#pragma once

#include "emulator/board_emulator.h"
#include "platform/emulated/emulated_hid_system.h"

namespace emulator {

platform::EmulatedHidSystem& DefaultSystem();
BoardEmulator& DefaultBoard();
platform::EmulatedHidSystem::DeviceId DefaultBoardId();

}  // namespace emulator
