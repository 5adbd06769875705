#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "emulator/board_model.h"
#include "emulator/board_state_file.h"
#include "emulator/default_board.h"
#include "platform/emulated/served_hid_system.h"

namespace emulator {

namespace {

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

struct DefaultSetup {
  DefaultSetup() {
    std::vector<BoardModel> models;
    const std::string model_file = Variable(kEmulatedModelVariable);
    const std::string state = Variable(kEmulatedStateVariable);
    std::optional<BoardState> saved;
    try {
      if (!model_file.empty()) models = LoadBoardModelFile(model_file);
      if (!state.empty()) saved = LoadStateFile(state);
    } catch (const std::exception& e) {
      failure = e.what();
      models.clear();
    }
    if (models.empty()) {
      BoardData data;
      data.location = kDefaultBoardLocation;
      board = std::make_shared<BoardEmulator>(data);
      id = system.AddDevice(HidDescriptionOf(data), board);
    }
    for (const BoardModel& m : models) {
      ModelledBoard built = BuildBoard(m);
      const auto added = system.AddDevice(built.description, built.board);
      if (!board) {
        board = built.board;
        id = added;
      }
    }
    if (saved && !board->LoadState(*saved)) {
      failure = "'" + state + "' holds a board state this emulator cannot take";
    }
    // A refused state file is left as it is: nothing is saved over it.
    if (failure.empty()) state_file = state;
    system.SetSetupFailure(failure);
  }

  platform::EmulatedHidSystem system;
  std::shared_ptr<BoardEmulator> board;
  platform::EmulatedHidSystem::DeviceId id = 0;
  std::string failure;
  std::string state_file;
};

// Created on first use and never destroyed: a board link held in a static object may still
// close its handle while the process shuts down.
DefaultSetup& Setup() {
  static DefaultSetup* const setup = new DefaultSetup;
  // Saves the first board's state when the program (or the library holding it) ends.
  struct StateKeeper {
    ~StateKeeper() {
      if (setup->state_file.empty()) return;
      try {
        SaveStateFile(setup->state_file, setup->board->SaveState());
      } catch (const std::exception&) {
        // Nobody is left to tell; the file keeps its previous state.
      }
    }
  };
  static StateKeeper keeper;
  return *setup;
}

}  // namespace

platform::EmulatedHidSystem& DefaultSystem() {
  return Setup().system;
}
BoardEmulator& DefaultBoard() {
  return *Setup().board;
}
platform::EmulatedHidSystem::DeviceId DefaultBoardId() {
  return Setup().id;
}
const std::string& DefaultSetupFailure() {
  return Setup().failure;
}

}  // namespace emulator

namespace emulator {

namespace {
// The board server QVX_EMULATED_SERVER names, or nullptr; read once, never destroyed.
platform::ServedHidSystem* Served() {
  static platform::ServedHidSystem* const served = [] {
    const std::string name = Variable(platform::kEmulatedServerVariable);
    return name.empty() ? nullptr : new platform::ServedHidSystem(name);
  }();
  return served;
}
}  // namespace

bool ServedBoards() {
  return Served() != nullptr;
}

}  // namespace emulator

namespace platform {

HidBackend& DefaultHidBackend() {
  if (ServedHidSystem* served = emulator::Served()) return *served;
  return emulator::DefaultSystem();
}

}  // namespace platform
