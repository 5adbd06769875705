#include <memory>

#include "emulator/default_board.h"

namespace emulator {

namespace {

struct DefaultSetup {
  platform::EmulatedHidSystem system;
  std::shared_ptr<BoardEmulator> board = std::make_shared<BoardEmulator>();
  platform::EmulatedHidSystem::DeviceId id = system.AddDevice(HidDescriptionOf(BoardData()), board);
};

// Created on first use and never destroyed: a board link held in a static object may still
// close its handle while the process shuts down.
DefaultSetup& Setup() {
  static DefaultSetup* const setup = new DefaultSetup;
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

}  // namespace emulator

namespace platform {

HidBackend& DefaultHidBackend() {
  return emulator::DefaultSystem();
}

}  // namespace platform
