// Boards described as data: a JSON model file names one or more boards, each with its identity,
// EEPROM, lines, inputs, sensor blocks, answer fates and I2C slaves. docs/emulator.md, "Board
// model files", gives the format key by key. Loading checks everything before anything is
// built: a bad model gives one ModelError naming the file, the place and what was expected.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "emulator/board_data.h"
#include "emulator/board_emulator.h"
#include "emulator/model_slaves.h"
#include "platform/emulated/emulated_hid_system.h"

namespace emulator {

class ModelError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class SlaveKind { kMemory, kRegisters, kAbsent };

struct SlaveModel {
  std::uint8_t address = 0;  // 7-bit, as the host sends it
  SlaveKind kind = SlaveKind::kAbsent;
  MemorySpec memory;
  RegistersSpec registers;
  SlaveFaults faults;
};

struct BoardModel {
  BoardData data;  // identity (path, serial, location), EEPROM, power-up lines, late delay
  std::array<bool, 3> keys{};
  bool int_high = false;
  std::vector<std::pair<int, SensorBlock>> sensors;  // kOwnSensorBlock or a channel
  AnswerMode mode = AnswerMode::kNormal;
  std::map<std::uint8_t, AnswerFate> fates;  // by command code
  std::vector<SlaveModel> slaves;            // exactly the bus's slaves, addresses distinct
};

// `text` read from `file` (named in messages); content files are looked for in `folder`.
std::vector<BoardModel> ParseBoardModel(const std::string& text, const std::string& file,
                                        const std::string& folder);
std::vector<BoardModel> LoadBoardModelFile(const std::string& file);

// A board built from its model, ready to be added to an emulated HID system.
struct ModelledBoard {
  std::shared_ptr<BoardEmulator> board;
  platform::EmulatedDeviceDescription description;
};
ModelledBoard BuildBoard(const BoardModel& model);

}  // namespace emulator
