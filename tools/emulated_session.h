// The emulated board that `qvx --emulated` runs against when no other is given: a fresh board
// in an in-process HID system, living for one run of the tool (a state file carries what it
// keeps over to the next run).
#pragma once

#include <memory>

#include "emulator/board_emulator.h"
#include "platform/emulated/emulated_hid_system.h"

namespace qvx {

class EmulatedSession {
 public:
  EmulatedSession();
  platform::HidBackend& Backend() { return system_; }
  emulator::BoardEmulator& Board() { return *board_; }

 private:
  platform::EmulatedHidSystem system_;
  std::shared_ptr<emulator::BoardEmulator> board_;
};

}  // namespace qvx
