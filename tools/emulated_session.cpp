#include "tools/emulated_session.h"

#include "emulator/board_data.h"

namespace qvx {

EmulatedSession::EmulatedSession() : m_board(std::make_shared<emulator::BoardEmulator>()) {
  m_system.AddDevice(emulator::HidDescriptionOf(emulator::BoardData()), m_board);
}

}  // namespace qvx
