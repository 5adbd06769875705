#include "tools/emulated_session.h"

#include "emulator/board_data.h"

namespace qvx {

EmulatedSession::EmulatedSession() : board_(std::make_shared<emulator::BoardEmulator>()) {
  system_.AddDevice(emulator::HidDescriptionOf(emulator::BoardData()), board_);
}

}  // namespace qvx
