// The emulated board that `qvx --emulated` runs against when no other is given: a fresh board
// in an in-process HID system, living for one run of the tool (a state file carries what it
// keeps over to the next run). With a board model, the boards the model describes; or a number of
// default boards told apart by serial and location.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "emulator/board_emulator.h"
#include "emulator/board_model.h"
#include "platform/emulated/emulated_hid_system.h"

namespace qvx {

// The most numbered boards a session holds.
inline constexpr unsigned kMaxEmulatedBoards = 16;

class EmulatedSession {
 public:
  EmulatedSession();  // today's default board
  // `count` (1..kMaxEmulatedBoards) default boards with serials "EMU0001", "EMU0002", ..., at
  // locations "1-1", "1-2", ... and paths of their own, each with its own state.
  explicit EmulatedSession(unsigned count);
  explicit EmulatedSession(const std::vector<emulator::BoardModel>& models);
  platform::HidBackend& Backend() { return system_; }
  emulator::BoardEmulator& Board() { return *boards_.front().second; }  // the first
  // The board at `path`; the first one when no board has that path.
  emulator::BoardEmulator& BoardAt(const std::string& path);

 private:
  void AddDefaultBoard();
  platform::EmulatedHidSystem system_;
  std::vector<std::pair<std::string, std::shared_ptr<emulator::BoardEmulator>>> boards_;
};

}  // namespace qvx
