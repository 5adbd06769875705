#include "tools/emulated_session.h"

#include "emulator/board_data.h"
#include "tools/numbered_boards.h"

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
    const emulator::BoardData data = NumberedBoardData(i);
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
