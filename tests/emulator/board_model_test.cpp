// Modelled boards driven through the real board link: each slave kind of a board model, its
// faults, and the board-wide parts of a model (identity, EEPROM, lines, inputs, sensor blocks,
// answer fates), checked from the host's side of the wire.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "board/usb_channel.h"
#include "emulator/board_model.h"
#include "link/board_link.h"
#include "link/board_selector.h"
#include "platform/emulated/emulated_hid_system.h"
#include "tests/support/byte_pattern.h"

namespace {

using testing_support::Bytes;

// A system holding the boards of one model, with a board link over it opened on the first
// board.
class ModelledBoards {
 public:
  explicit ModelledBoards(const std::string& model) {
    for (const emulator::BoardModel& m : emulator::ParseBoardModel(model, "test.json", "")) {
      emulator::ModelledBoard built = emulator::BuildBoard(m);
      system_.AddDevice(built.description, built.board);
      boards_.push_back(built.board);
    }
    opened_ = link_.OpenBoard() == 0;
  }

  bool opened() const { return opened_; }
  CUSBChannel& link() { return link_; }
  platform::EmulatedHidSystem& system() { return system_; }
  emulator::BoardEmulator& board(std::size_t i = 0) { return *boards_.at(i); }

 private:
  platform::EmulatedHidSystem system_;
  std::vector<std::shared_ptr<emulator::BoardEmulator>> boards_;
  HidBoardOpener opener_{system_};
  CUSBChannel link_{opener_};
  bool opened_ = false;
};

// One host step: an I2C write or read at the slave, or the power line switched.
struct Step {
  enum Kind { kWrite, kRead, kPowerOn, kPowerOff } kind;
  Bytes bytes;     // kWrite: what is written; kRead: what must come back
  int status = 0;  // the status byte the board must report
};
Step W(Bytes b, int status = 0) {
  return {Step::kWrite, std::move(b), status};
}
Step R(Bytes b, int status = 0) {
  return {Step::kRead, std::move(b), status};
}
const Step kPowerOn{Step::kPowerOn, {}, 0};
const Step kPowerOff{Step::kPowerOff, {}, 0};

std::string OneSlave(const std::string& slave) {
  return R"({"boards": [{"slaves": [)" + slave + "]}]}";
}

struct SlaveCase {
  const char* name;
  std::string model;
  std::uint8_t address;
  std::vector<Step> steps;
};

const std::string k24c02 =
    R"({"address": "0x50", "kind": "memory", "size": 256, "page_size": 8, "content": "00 11 22"})";
const std::string kRegs8 =
    R"({"address": 72, "kind": "registers", "registers": [
        {"at": 0, "value": 10}, {"at": 1, "value": 20}, {"at": 2, "value": 30}]})";

std::vector<SlaveCase> SlaveCases() {
  return {
      {"a page write wraps inside its page",
       OneSlave(k24c02),
       0x50,
       {W({0x06, 1, 2, 3, 4}), W({0x00}), R({3, 4, 0x22, 0xFF, 0xFF, 0xFF, 1, 2, 0xFF})}},
      {"a read runs on across pages and wraps at the end",
       OneSlave(k24c02),
       0x50,
       {W({0xFE}), R({0xFF, 0xFF, 0x00, 0x11})}},
      {"two address bytes, high first",
       OneSlave(R"({"address": "0x51", "kind": "memory", "size": 4096, "address_bytes": 2,
                    "page_size": 32, "content": "5A"})"),
       0x51,
       {W({0x01, 0x23, 0xAA, 0xBB}), W({0x01, 0x23}), R({0xAA, 0xBB}), W({0x0F, 0xFF}),
        R({0xFF, 0x5A})}},
      {"a write-protected memory acknowledges and keeps its content",
       OneSlave(R"({"address": "0x50", "kind": "memory", "size": 16, "write_protect": true,
                    "fill": "0x00"})"),
       0x50,
       {W({0x00, 0x55, 0x66}), W({0x00}), R({0x00, 0x00})}},
      {"the register pointer is the first byte; auto-increment walks on",
       OneSlave(kRegs8),
       0x48,
       {W({0x01}), R({20, 30}), W({0x00, 0x77, 0x88}), W({0x00}), R({0x77, 0x88, 30})}},
      {"without auto-increment every byte comes from one register",
       OneSlave(R"({"address": 72, "kind": "registers", "auto_increment": false, "registers": [
                    {"at": 0, "value": 10}, {"at": 1, "value": 20}]})"),
       0x48,
       {W({0x01}), R({20, 20, 20}), W({0x00, 0x01, 0x02}), W({0x00}), R({0x02})}},
      {"a 16-bit register, big-endian",
       OneSlave(R"({"address": 72, "kind": "registers", "width": 2, "registers": [
                    {"at": 0, "value": "0x1234"}, {"at": 1, "value": "0xABCD"}]})"),
       0x48,
       {W({0x00}), R({0x12, 0x34, 0xAB, 0xCD}), W({0x01, 0x56, 0x78}), W({0x01}), R({0x56, 0x78})}},
      {"a 16-bit register, little-endian",
       OneSlave(R"({"address": 72, "kind": "registers", "width": 2, "byte_order": "little",
                    "registers": [{"at": 0, "value": "0x1234"}]})"),
       0x48,
       {W({0x00}), R({0x34, 0x12}), W({0x00, 0x78, 0x56}), W({0x00}), R({0x78, 0x56})}},
      {"a 16-bit register pointer",
       OneSlave(R"({"address": 72, "kind": "registers", "pointer_bytes": 2, "registers": [
                    {"at": "0x0100", "value": 7}, {"at": "0x0101", "value": 8}]})"),
       0x48,
       {W({0x01, 0x00}), R({7, 8}), W({0x00, 0x01}), R({0})}},
      {"a register that steps through its values on each read, repeating",
       OneSlave(R"({"address": 72, "kind": "registers", "auto_increment": false, "registers": [
                    {"at": 0, "values": [1, 2, 3]}]})"),
       0x48,
       {W({0x00}), R({1, 2, 3, 1}), W({0x00, 0x09}), R({2})}},
      {"a counter register adds its step on each read",
       OneSlave(R"({"address": 72, "kind": "registers", "auto_increment": false, "width": 2,
                    "registers": [{"at": 0, "counter": {"start": "0xFFFE", "step": 1}}]})"),
       0x48,
       {W({0x00}), R({0xFF, 0xFE, 0xFF, 0xFF, 0x00, 0x00})}},
      {"a read-only register ignores writes",
       OneSlave(R"({"address": 72, "kind": "registers", "registers": [
                    {"at": 7, "value": "0xA1", "read_only": true}, {"at": 8, "value": 1}]})"),
       0x48,
       {W({0x07, 0x00, 0x05}), W({0x07}), R({0xA1, 0x05})}},
      {"NACK the first two transfers",
       OneSlave(
           R"({"address": "0x50", "kind": "memory", "size": 16, "faults": {"nack_first": 2}})"),
       0x50,
       {W({0x00, 0x42}, 1), R({0xFF}, 1), W({0x00, 0x42}), W({0x00}), R({0x42})}},
      {"NACK while the power line is off",
       OneSlave(R"({"address": "0x50", "kind": "memory", "size": 16, "fill": 0,
                    "faults": {"nack_while_unpowered": true}})"),
       0x50,
       {W({0x00, 0x42}, 1), kPowerOn, W({0x00, 0x42}), W({0x00}), R({0x42}), kPowerOff,
        R({0xFF}, 1)}},
      {"a fixed status byte",
       OneSlave(R"({"address": "0x50", "kind": "memory", "size": 16, "fill": 0,
                    "faults": {"status": "0x04"}})"),
       0x50,
       {W({0x00, 0x42}, 4), W({0x00}, 4), R({0x42}, 4)}},
      {"an absent address does not acknowledge",
       OneSlave(R"({"address": "0x23", "kind": "absent"})"),
       0x23,
       {W({0x00}, 1), R({0xFF, 0xFF}, 1)}},
      {"the default memory is not there on a modelled board",
       OneSlave(R"({"address": "0x23", "kind": "absent"})"),
       0x50,
       {W({0x00, 0x00}, 1), R({0xFF}, 1)}},
  };
}

TEST(BoardModelSlaves, EachKindBehavesAsDocumentedThroughTheBoardLink) {
  for (const SlaveCase& c : SlaveCases()) {
    SCOPED_TRACE(c.name);
    ModelledBoards boards(c.model);
    ASSERT_TRUE(boards.opened());
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
      SCOPED_TRACE("step " + std::to_string(i + 1));
      const Step& s = c.steps[i];
      switch (s.kind) {
        case Step::kWrite:
          EXPECT_EQ(boards.link().WriteI2CLongBytes(c.address, s.bytes.data(),
                                                    static_cast<std::uint32_t>(s.bytes.size()),
                                                    true, true),
                    s.status);
          break;
        case Step::kRead: {
          Bytes got(s.bytes.size(), 0xEE);
          EXPECT_EQ(boards.link().ReadI2CLongBytes(
                        c.address, got.data(), static_cast<std::uint32_t>(got.size()), true, true),
                    s.status);
          EXPECT_EQ(got, s.bytes);
          break;
        }
        case Step::kPowerOn:
        case Step::kPowerOff:
          boards.link().SetPower(s.kind == Step::kPowerOn ? 1 : 0);
          break;
      }
    }
  }
}

TEST(BoardModelBoard, IdentityMemoriesLinesInputsAndSensorsComeFromTheModel) {
  ModelledBoards boards(R"({"boards": [{
      "path": "emulated-path-7", "serial": "SN-7", "location": "1-4.2",
      "eeprom": {"content": "C0 FF EE", "fill": "0x00"},
      "lines": {"power": true, "buzzer": true},
      "inputs": {"keys": [false, true, false], "int": true},
      "sensors": {"own": [1, "0x0203"], "channels": {"5": [9]}}}]})");
  ASSERT_TRUE(boards.opened());
  const std::vector<BoardCandidate> found = ListBoardCandidates(boards.system());
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].path, "emulated-path-7");
  EXPECT_EQ(found[0].serial, "SN-7");
  EXPECT_EQ(found[0].location, "1-4.2");

  Bytes eeprom(5, 0xEE);
  boards.link().ReadEEPROMPage(0, eeprom.data(), 5);
  EXPECT_EQ(eeprom, (Bytes{0xC0, 0xFF, 0xEE, 0x00, 0x00}));

  std::uint8_t record[board::kLineRecordSize];
  boards.link().ReadLineState(record);
  EXPECT_EQ(record[board::kLinePower], 1);
  EXPECT_EQ(record[board::kLineBuzzer], 1);
  EXPECT_EQ(record[board::kLineReset], 0);
  EXPECT_EQ(record[board::kLineKey1], 0);
  EXPECT_EQ(record[board::kLineKey2], 1);
  EXPECT_EQ(record[board::kLineInt], 1);

  std::uint8_t block[board::kSensorBlockSize];
  boards.link().ReadSensorBlock(block);
  EXPECT_EQ(Bytes(block, block + 6), (Bytes{0x00, 0x01, 0x02, 0x03, 0xA5, 0xA2}))
      << "given values first, the default block after them";
  boards.link().SelectExpandChannel(board::kExpanderAddress, 5);
  boards.link().ReadSensorBlock(block);
  EXPECT_EQ(Bytes(block, block + 4), (Bytes{0x00, 0x09, 0x05, 0x01}));
}

TEST(BoardModelBoard, AnswerFatesApplyToTheirCommandCodeOnly) {
  struct Case {
    const char* fate;
    bool lines_answered;
  };
  const Case cases[] = {{R"({"drop": true})", false},
                        {R"({"delay_ms": 500})", false},
                        {R"({"delay_ms": 20})", true},
                        {R"({"duplicate": true})", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fate);
    ModelledBoards boards(std::string(R"({"boards": [{"answers": {"commands": {"0x24": )") +
                          c.fate + "}}}]}");
    ASSERT_TRUE(boards.opened());
    std::uint8_t record[board::kLineRecordSize];
    boards.link().ReadLineState(record);
    EXPECT_EQ(boards.link().LastCommandAnswered(), c.lines_answered);
    Bytes eeprom(1);
    boards.link().ReadEEPROMPage(0, eeprom.data(), 1);
    EXPECT_TRUE(boards.link().LastCommandAnswered()) << "another command is not touched";
  }
}

TEST(BoardModelBoard, ASilentModelAnswersNothing) {
  ModelledBoards boards(R"({"boards": [{"answers": {"mode": "silent"}}]})");
  ASSERT_TRUE(boards.opened());
  std::uint8_t record[board::kLineRecordSize];
  boards.link().ReadLineState(record);
  EXPECT_FALSE(boards.link().LastCommandAnswered());
  EXPECT_EQ(boards.board().CommandCount(board::CMD_GET_LINES), 1u);
}

// Modelled slaves are board state: saved and put back, all or nothing.
TEST(BoardModelState, ModelledSlavesTravelWithTheBoardState) {
  const std::string model = OneSlave(k24c02 + "," + kRegs8);
  ModelledBoards first(model);
  ASSERT_TRUE(first.opened());
  const Bytes write{0x10, 0xAB, 0xCD};
  first.link().WriteI2CLongBytes(0x50, write.data(), 3, true, true);
  const Bytes reg{0x02, 0x99};
  first.link().WriteI2CLongBytes(0x48, reg.data(), 2, true, true);
  const emulator::BoardState saved = first.board().SaveState();
  ASSERT_EQ(saved.slaves.size(), 2u);

  ModelledBoards second(model);
  ASSERT_TRUE(second.board().LoadState(saved));
  const Bytes at{0x10};
  second.link().WriteI2CLongBytes(0x50, at.data(), 1, true, true);
  Bytes got(2);
  second.link().ReadI2CLongBytes(0x50, got.data(), 2, true, true);
  EXPECT_EQ(got, (Bytes{0xAB, 0xCD}));
  const Bytes reg_at{0x02};
  second.link().WriteI2CLongBytes(0x48, reg_at.data(), 1, true, true);
  second.link().ReadI2CLongBytes(0x48, got.data(), 1, true, true);
  EXPECT_EQ(got[0], 0x99);

  // A state that does not fit one of the slaves is refused whole: the register file, loaded
  // before the memory, is put back as it was.
  emulator::BoardState other = saved;
  other.slaves.at(0x50).push_back(0);
  ModelledBoards third(model);
  const auto fresh = third.board().SaveState().slaves;
  EXPECT_FALSE(third.board().LoadState(other));
  EXPECT_EQ(third.board().SaveState().slaves, fresh);
}

}  // namespace
