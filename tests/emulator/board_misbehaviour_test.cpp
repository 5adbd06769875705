// The board link against a board that misbehaves: silent, late, an extra answer, unplugged.
// Durations are only bounded generously to catch hangs; the assertions are on values.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "emulated_board_fixture.h"
#include "emulator/default_board.h"
#include "link/board_link.h"
#include "link/discovery.h"

namespace {

using namespace board;
using testing_support::Bytes;
using testing_support::Pattern;
using Clock = std::chrono::steady_clock;

constexpr auto kHang = std::chrono::seconds(5);

class Misbehaviour : public testing_support::EmulatedBoardTest {
 protected:
  void SetUp() override {
    EmulatedBoardTest::SetUp();
    board_->SetEeprom(0x1000, Pattern(64, 0x10));
    board_->SetEeprom(0x2000, Pattern(64, 0x80));
  }
  Bytes AnswerBytes() const { return Bytes(channel_.Answer(), channel_.Answer() + kReportSize); }
};

TEST_F(Misbehaviour, SilentBoardLeavesTheAnswerBufferAndReturnsWithinTheBound) {
  EXPECT_EQ(ReadEeprom(0x1000, 64), Pattern(64, 0x10));
  const Bytes before = AnswerBytes();
  board_->SetAnswerMode(emulator::AnswerMode::kSilent);

  const auto start = Clock::now();
  EXPECT_EQ(ReadEeprom(0x2000, 64), Pattern(64, 0x10));  // from the unchanged answer buffer
  Bytes run(65535, 0);
  // One read waits for the bound; the other 1024 of the same command fail at once.
  EXPECT_EQ(channel_.ReadI2CLongBytes(0x50, run.data(), 65535, true, true), before[1]);
  EXPECT_LT(Clock::now() - start, kHang);
  EXPECT_EQ(Bytes(run.begin(), run.begin() + 64), Bytes(before.begin() + 1, before.end()));
  EXPECT_EQ(AnswerBytes(), before);
  EXPECT_EQ(board_->CommandCount(CMD_I2C_READ), 1u);  // the board did receive it

  board_->SetAnswerMode(emulator::AnswerMode::kNormal);
  EXPECT_EQ(ReadEeprom(0x2000, 64), Pattern(64, 0x80));
}

TEST_F(Misbehaviour, CommandAfterALateAnswerGetsItsOwnAnswer) {
  board_->SetLateDelayMs(300);
  board_->SetAnswerMode(emulator::AnswerMode::kLate);
  EXPECT_EQ(ReadEeprom(0x1000, 64), Bytes(64, 0));  // timed out: nothing was ever read before

  board_->SetAnswerMode(emulator::AnswerMode::kNormal);
  // The late answer arrives meanwhile; it must not be taken for the next command's answer.
  ASSERT_TRUE(system_.WaitUntilDelivered(id_, 5000));
  EXPECT_EQ(ReadEeprom(0x2000, 64), Pattern(64, 0x80));
  EXPECT_EQ(ReadEeprom(0x1000, 8), Pattern(8, 0x10));
}

TEST_F(Misbehaviour, LateMultiReportAnswerIsDroppedWhole) {
  board_->Memory()->Poke(0, Pattern(256, 0x00));
  board_->SetAnswerMode(emulator::AnswerMode::kLate);
  Bytes run(200, 0xEE);
  channel_.ReadI2CLongBytes(0x50, run.data(), 200, true, true);
  EXPECT_EQ(run[0], 0);  // filled from the all-zero answer buffer

  board_->SetAnswerMode(emulator::AnswerMode::kNormal);
  ASSERT_TRUE(system_.WaitUntilDelivered(id_, 5000));
  EXPECT_EQ(channel_.SetI2CSpeed(1000), 3);
  EXPECT_EQ(ReadEeprom(0x1000, 4), Pattern(4, 0x10));
}

// A duplicated answer stays queued after its command and is dropped when the next one starts.
TEST_F(Misbehaviour, ExtraAnswerIsDroppedByTheNextCommand) {
  board_->DuplicateNextAnswer();
  EXPECT_EQ(ReadEeprom(0x1000, 4), Pattern(4, 0x10));
  EXPECT_EQ(ReadEeprom(0x2000, 4), Pattern(4, 0x80));
  EXPECT_EQ(ReadEeprom(0x1000, 4), Pattern(4, 0x10));
  EXPECT_EQ(system_.OpenHandleCount(id_), 1u);
}

TEST_F(Misbehaviour, UnpluggedBoardCompletesOperationsFromTheAnswerBuffer) {
  EXPECT_EQ(ReadEeprom(0x2000, 64), Pattern(64, 0x80));
  const Bytes before = AnswerBytes();
  system_.Unplug(id_);

  const auto start = Clock::now();
  EXPECT_EQ(ReadEeprom(0x1000, 64), Pattern(64, 0x80));
  Bytes run(65535, 0);
  EXPECT_EQ(channel_.ReadI2CLongBytes(0x50, run.data(), 65535, true, true), before[1]);
  for (std::size_t offset = 0; offset + 64 <= run.size(); offset += 64 * 97) {
    EXPECT_EQ(Bytes(run.begin() + offset, run.begin() + offset + 64), Pattern(64, 0x80));
  }
  channel_.SetPower(1);
  EXPECT_EQ(Line(kLinePower), before[1 + kLinePower]);
  std::uint16_t values[kSensorValueCount];
  channel_.ReadSensorRawData(values);
  EXPECT_EQ(values[0], (before[1] << 8) | before[2]);
  EXPECT_LT(Clock::now() - start, kHang);
  EXPECT_EQ(AnswerBytes(), before);
  EXPECT_EQ(board_->Lines()[kLinePower], 0);  // nothing reached the board

  // Plugged in again, the old handle stays dead until the board is opened anew.
  system_.Plug(id_);
  EXPECT_EQ(ReadEeprom(0x1000, 4), Pattern(4, 0x80));
  EXPECT_EQ(system_.OpenHandleCount(id_), 1u);
  ASSERT_EQ(channel_.OpenBoard(), 0);
  EXPECT_EQ(system_.OpenHandleCount(id_), 1u);  // the stale handle was closed
  EXPECT_EQ(ReadEeprom(0x1000, 4), Pattern(4, 0x10));
}

TEST_F(Misbehaviour, OpeningWhileUnpluggedClosesTheStaleHandle) {
  system_.Unplug(id_);
  EXPECT_NE(channel_.OpenBoard(), 0);
  EXPECT_FALSE(channel_.HasDevice());
  EXPECT_EQ(system_.OpenHandleCount(), 0u);
}

TEST_F(Misbehaviour, ReplugPowersTheBoardUp) {
  channel_.SetBuzzer(1);
  channel_.SetI2CSpeed(400);
  const Bytes page = Pattern(4, 0x55);
  channel_.WriteEEPROMPage(0x0300, page.data(), 4);
  system_.Unplug(id_);
  system_.Plug(id_);
  ASSERT_EQ(channel_.OpenBoard(), 0);
  EXPECT_EQ(Line(kLineBuzzer), 0);
  EXPECT_EQ(board_->SpeedCode(), 0);
  EXPECT_EQ(ReadEeprom(0x0300, 4), page);
}

// The default back end of this program holds one plugged emulated board, and the default wiring
// opens through it.
TEST(DefaultEmulatedBoard, IsWhatOpenBoardFindsByDefault) {
  EXPECT_EQ(&platform::DefaultHidBackend(), &emulator::DefaultSystem());
  EXPECT_EQ(&DefaultBoardOpener().Backend(), &platform::DefaultHidBackend());
  CUSBChannel channel(DefaultBoardOpener());
  ASSERT_EQ(channel.OpenBoard(), 0);
  EXPECT_EQ(emulator::DefaultSystem().OpenHandleCount(emulator::DefaultBoardId()), 1u);

  emulator::DefaultBoard().SetKey(3, true);
  std::uint8_t record[kLineRecordSize];
  channel.ReadLineState(record);
  EXPECT_EQ(record[kLineKey3], 1);
  emulator::DefaultBoard().SetKey(3, false);

  emulator::DefaultSystem().Unplug(emulator::DefaultBoardId());
  EXPECT_NE(channel.OpenBoard(), 0);
  emulator::DefaultSystem().Plug(emulator::DefaultBoardId());
  EXPECT_EQ(channel.OpenBoard(), 0);
}

}  // namespace
