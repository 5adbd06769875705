// Saving a board's state and loading it into another board: everything a powered board keeps
// crosses over, an inconsistent state is refused whole.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "board/protocol.h"
#include "emulated_board_fixture.h"
#include "emulator/board_emulator.h"
#include "emulator/board_state_file.h"
#include "tests/support/same_board_state.h"

namespace {

using emulator::BoardEmulator;
using emulator::BoardState;
using testing_support::Bytes;
using testing_support::ExpectSameState;
using testing_support::Pattern;

class BoardStateTest : public testing_support::EmulatedBoardTest {};

TEST_F(BoardStateTest, AnotherBoardTakesOverWhatTheHostLeftBehind) {
  const Bytes page = Pattern(64, 0x40);
  channel_.WriteEEPROMPage(0x1FC0, page.data(), 64);
  const std::uint8_t memory_write[] = {0x12, 0x34, 0xA1, 0xA2, 0xA3, 0xA4};
  ASSERT_EQ(channel_.WriteI2CLongBytes(emulator::kSerialMemoryAddress, memory_write, 6, true, true),
            emulator::kI2cStatusOk);
  const std::uint8_t pointer_only[] = {0x12, 0x35};
  channel_.WriteI2CLongBytes(emulator::kSerialMemoryAddress, pointer_only, 2, true, false);
  channel_.SetPower(1);
  channel_.SetLedPass(1);
  channel_.SetI2CSpeed(400);
  channel_.SelectExpandChannel(board::kExpanderAddress, 0x2C);
  board_->SetKey(3, true);
  board_->SetInt(true);

  const BoardState saved = board_->SaveState();
  EXPECT_EQ(saved.serial_pointer, 0x1235u);
  EXPECT_EQ(saved.channel, 0x2C);
  EXPECT_EQ(saved.speed_code, board::kSpeedCode400k);

  BoardEmulator other;
  ASSERT_TRUE(other.LoadState(saved));
  ExpectSameState(other.SaveState(), saved);
  EXPECT_EQ(other.Eeprom(0x1FC0, 64), page);
  EXPECT_EQ(other.Lines()[board::kLinePower], 1);
  EXPECT_EQ(other.Lines()[board::kLineLedPass], 1);
  EXPECT_EQ(other.Lines()[board::kLineKey3], 1);
  EXPECT_EQ(other.Lines()[board::kLineInt], 1);
  EXPECT_EQ(other.ExpanderChannel(), 0x2C);

  // The serial memory's next read goes on from the pointer the host left.
  std::uint8_t next[3] = {};
  other.Memory()->Read(next, 3, true, true);
  EXPECT_EQ(Bytes(next, next + 3), (Bytes{0xA2, 0xA3, 0xA4}));
}

TEST_F(BoardStateTest, ResetOfALoadedBoardClearsOnlyWhatAResetClears) {
  BoardState state = board_->SaveState();
  state.eeprom[0x10] = 0x5A;
  state.serial_memory[0x7FFF] = 0x6B;
  state.lines[board::kLineBuzzer] = 1;
  state.speed_code = board::kSpeedCode1M;
  state.channel = 9;
  ASSERT_TRUE(board_->LoadState(state));

  channel_.SendHardwareReset();
  EXPECT_EQ(board_->Lines()[board::kLineBuzzer], 0);
  EXPECT_EQ(board_->SpeedCode(), 0);
  EXPECT_EQ(board_->ExpanderChannel(), emulator::kNoChannel);
  EXPECT_EQ(ReadEeprom(0x10, 1), Bytes{0x5A});
  EXPECT_EQ(board_->Memory()->Peek(0x7FFF, 1), Bytes{0x6B});
}

TEST_F(BoardStateTest, InputBytesOfTheRecordFollowTheLoadedInputs) {
  BoardState state = board_->SaveState();
  for (std::size_t b : {board::kLineKey1, board::kLineKey2, board::kLineKey3}) state.lines[b] = 1;
  state.lines[board::kLineInt] = 0;
  state.keys = {false, true, false};
  state.int_high = true;
  ASSERT_TRUE(board_->LoadState(state));
  EXPECT_EQ(Line(board::kLineKey1), 0);
  EXPECT_EQ(Line(board::kLineKey2), 1);
  EXPECT_EQ(Line(board::kLineKey3), 0);
  EXPECT_EQ(Line(board::kLineInt), 1);
}

TEST_F(BoardStateTest, AnInconsistentStateIsRefusedAndChangesNothing) {
  channel_.SetBuzzer(1);
  board_->SetEeprom(0, {1, 2, 3});
  const BoardState before = board_->SaveState();

  struct Case {
    const char* name;
    void (*spoil)(BoardState&);
  };
  const Case cases[] = {
      {"short EEPROM", [](BoardState& s) { s.eeprom.pop_back(); }},
      {"long EEPROM", [](BoardState& s) { s.eeprom.push_back(0); }},
      {"no serial memory", [](BoardState& s) { s.serial_memory.clear(); }},
      {"long serial memory", [](BoardState& s) { s.serial_memory.resize(64 * 1024); }},
      {"pointer past the end", [](BoardState& s) { s.serial_pointer = 32 * 1024; }},
      {"channel 256", [](BoardState& s) { s.channel = 256; }},
      {"channel -2", [](BoardState& s) { s.channel = -2; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BoardState spoilt = before;
    spoilt.eeprom[0] = 0xEE;  // would show if anything were taken over
    spoilt.lines[board::kLineBuzzer] = 0;
    c.spoil(spoilt);
    EXPECT_FALSE(board_->LoadState(spoilt));
    ExpectSameState(board_->SaveState(), before);
  }
}

// --- the state file on disk -----------------------------------------------------------------

// A state file name of the test's own in the temporary folder, removed with its temporary.
// (What happens when another program holds the file open is a Windows matter: tests/wine.)
class StateFileOnDisk : public testing_support::EmulatedBoardTest {
 protected:
  void SetUp() override {
    EmulatedBoardTest::SetUp();
    file_ = (std::filesystem::temp_directory_path() /
             ("qvx_state_test_" + std::to_string(std::random_device()())))
                .string();
    Clean();
  }
  void TearDown() override {
    Clean();
    EmulatedBoardTest::TearDown();
  }
  void Clean() {
    std::error_code ignored;
    std::filesystem::remove(file_, ignored);
    std::filesystem::remove(file_ + ".tmp", ignored);
  }
  // Two states that differ: as the board starts, and with its power on.
  BoardState Old() { return board_->SaveState(); }
  BoardState Newer() {
    channel_.SetPower(1);
    return board_->SaveState();
  }

  std::string file_;
};

TEST_F(StateFileOnDisk, ASaveReplacesTheOldFileAndLeavesNoTemporary) {
  const BoardState old = Old();
  emulator::SaveStateFile(file_, old);
  const BoardState newer = Newer();
  ASSERT_NE(old.lines[board::kLinePower], newer.lines[board::kLinePower]);
  emulator::SaveStateFile(file_, newer);
  const std::optional<BoardState> loaded = emulator::LoadStateFile(file_);
  ASSERT_TRUE(loaded.has_value());
  ExpectSameState(*loaded, newer);
  EXPECT_FALSE(std::filesystem::exists(file_ + ".tmp"));
}

}  // namespace
