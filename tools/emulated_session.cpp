#include "tools/emulated_session.h"

#include <cstdio>

#include "emulator/board_data.h"

namespace qvx {

EmulatedSession::EmulatedSession() {
  AddDefaultBoard();
}

void EmulatedSession::AddDefaultBoard() {
  const emulator::BoardData data;
  boards_.emplace_back(data.path, std::make_shared<emulator::BoardEmulator>(data));
  system_.AddDevice(emulator::HidDescriptionOf(data), boards_.back().second);
}

EmulatedSession::EmulatedSession(unsigned count) {
  for (unsigned i = 0; i < count && i < kMaxEmulatedBoards; ++i) {
    emulator::BoardData data;
    char serial[16];
    std::snprintf(serial, sizeof serial, "EMU%04u", i + 1);
    data.serial.assign(serial, serial + std::char_traits<char>::length(serial));
    data.location = "1-" + std::to_string(i + 1);
    data.path = "\\\\?\\hid#vid_04b4&pid_e006#emulated&" + std::to_string(i) +
                "#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    boards_.emplace_back(data.path, std::make_shared<emulator::BoardEmulator>(data));
    system_.AddDevice(emulator::HidDescriptionOf(data), boards_.back().second);
  }
  if (boards_.empty()) AddDefaultBoard();
}

EmulatedSession::EmulatedSession(const std::vector<emulator::BoardModel>& models) {
  for (const emulator::BoardModel& model : models) {
    emulator::ModelledBoard built = emulator::BuildBoard(model);
    boards_.emplace_back(built.description.path, built.board);
    system_.AddDevice(built.description, built.board);
  }
  if (boards_.empty()) AddDefaultBoard();
}

emulator::BoardEmulator& EmulatedSession::BoardAt(const std::string& path) {
  for (const auto& [board_path, board] : boards_) {
    if (board_path == path) return *board;
  }
  return Board();
}

}  // namespace qvx
