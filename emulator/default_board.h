// The process-wide emulated HID system of the emulated builds: it holds one emulated board,
// plugged in from the start, and is what platform::DefaultHidBackend() returns there. The
// emulated control and the command-line tool plug and unplug the board and set its keys, INT
// and misbehaviour through these accessors.
//
// When it is made (on first use) it reads two variables: QVX_EMULATED_MODEL names a board model
// file (emulator/board_model.h) whose boards it holds instead (the accessors then reach the
// first); QVX_EMULATED_STATE names a state file loaded into that board then and saved when the
// program ends. A model or state file that cannot be used leaves the default board in place and
// its message in DefaultSetupFailure() and in the system's SetupFailure().
//
// When QVX_EMULATED_SERVER names a board server (`qvx serve`), platform::DefaultHidBackend() is
// that server's boards instead (platform::ServedHidSystem; an unreachable server is its
// SetupFailure()); the system and board here are then still made on use, but no handle reaches
// them.
#pragma once

#include <string>

#include "emulator/board_emulator.h"
#include "platform/emulated/emulated_hid_system.h"

namespace emulator {

platform::EmulatedHidSystem& DefaultSystem();
BoardEmulator& DefaultBoard();
platform::EmulatedHidSystem::DeviceId DefaultBoardId();
const std::string& DefaultSetupFailure();  // empty when the variables' files were usable
bool ServedBoards();                       // true when QVX_EMULATED_SERVER named a server

// The USB port the default board is plugged into (it has no serial number).
inline constexpr char kDefaultBoardLocation[] = "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1)";

inline constexpr char kEmulatedModelVariable[] = "QVX_EMULATED_MODEL";
inline constexpr char kEmulatedStateVariable[] = "QVX_EMULATED_STATE";

}  // namespace emulator
