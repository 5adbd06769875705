// The emulated board that `qvx --emulated` runs against when no other is given: a fresh board
// in an in-process HID system, living for one run of the tool.
#pragma once

#include <memory>

#include "emulator/board_emulator.h"
#include "platform/emulated/emulated_hid_system.h"

namespace qvx {

class EmulatedSession {
 public:
  EmulatedSession();
  platform::HidBackend& Backend() { return m_system; }

 private:
  platform::EmulatedHidSystem m_system;
  std::shared_ptr<emulator::BoardEmulator> m_board;
};

}  // namespace qvx
