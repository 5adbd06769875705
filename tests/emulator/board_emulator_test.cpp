// The board emulator at report level: how many answers each command gets, how malformed and
// unknown reports are handled, and what misbehaviour does to the answers.
#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "board/protocol.h"
#include "emulator/board_emulator.h"

namespace {

using emulator::BoardEmulator;
using platform::InputReport;
using Out = std::uint8_t[platform::kReportSize];

struct Report {
  Out bytes = {};
};

Report Of(std::initializer_list<int> head) {
  Report r;
  std::size_t i = 0;
  for (int b : head) r.bytes[i++] = static_cast<std::uint8_t>(b);
  return r;
}

Report Announce(std::uint8_t code, int arg1 = 0, int arg2 = 0) {
  return Of({0, 0xAA, 0x55, code, arg1, arg2});
}

std::vector<InputReport> Feed(BoardEmulator& board, const std::vector<Report>& reports) {
  std::vector<InputReport> answers;
  for (const Report& r : reports) board.OnOutputReport(r.bytes, &answers);
  return answers;
}

std::vector<Report> I2cTransfer(std::uint8_t code, std::uint8_t slave, unsigned count) {
  std::vector<Report> rs{Announce(code), Of({0, slave, int(count >> 8), int(count & 0xFF), 1, 1})};
  if (code == board::CMD_I2C_WRITE) rs.resize(rs.size() + board::DataReportCount(count));
  return rs;
}

TEST(BoardEmulator, AnswersEachCommandWithTheExpectedNumberOfReports) {
  struct Case {
    const char* name;
    std::vector<Report> reports;
    std::size_t answers;
  };
  const Case cases[] = {
      {"read 0", I2cTransfer(0x1A, 0x50, 0), 2},
      {"read 63", I2cTransfer(0x1A, 0x50, 63), 2},
      {"read 64", I2cTransfer(0x1A, 0x50, 64), 3},
      {"read 65", I2cTransfer(0x1A, 0x50, 65), 3},
      {"read 65535", I2cTransfer(0x1A, 0x50, 65535), 65535 / 64 + 2},
      {"read no slave", I2cTransfer(0x1A, 0x33, 128), 4},
      {"write 0", I2cTransfer(0x1B, 0x50, 0), 1},
      {"write 128", I2cTransfer(0x1B, 0x50, 128), 1},
      {"write 65535", I2cTransfer(0x1B, 0x50, 65535), 1},
      {"speed", {Announce(0x1C), Of({0, 1})}, 1},
      {"eeprom write", {Announce(0x22), Of({0, 0, 0, 3}), Of({0, 1, 2, 3})}, 0},
      {"eeprom read", {Announce(0x23), Of({0, 0, 0, 3})}, 1},
      {"get lines", {Announce(0x24)}, 1},
      {"set lines", {Announce(0x25), Of({0})}, 1},
      {"sensor", {Announce(0x30, 0x20)}, 1},
      {"expander", {Announce(0x50, 0x70, 2)}, 0},
      {"reset", {Announce(0xFD)}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BoardEmulator board;
    std::vector<Report> reports = c.reports;
    reports.push_back(Announce(0x24));  // the board is waiting for an announce afterwards
    const auto answers = Feed(board, reports);
    EXPECT_EQ(answers.size(), c.answers + 1);
    EXPECT_EQ(board.CommandCount(), 2u);
    EXPECT_EQ(board.IgnoredReportCount(), 0u);
  }
}

TEST(BoardEmulator, IgnoresWhatIsNotACommandAndStaysReady) {
  struct Case {
    const char* name;
    Report report;
    std::size_t ignored, unknown;
  };
  const Case cases[] = {
      {"no magic", Of({0, 0x00, 0x55, 0x24}), 1, 0},
      {"swapped magic", Of({0, 0x55, 0xAA, 0x24}), 1, 0},
      {"report id 1", Of({1, 0xAA, 0x55, 0x24}), 1, 0},
      {"unknown code", Announce(0x77), 0, 1},
      {"code 0", Announce(0x00), 0, 1},
      {"sensor without 0x20", Announce(0x30, 0x00), 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BoardEmulator board;
    EXPECT_TRUE(Feed(board, {c.report}).empty());
    EXPECT_EQ(board.IgnoredReportCount(), c.ignored);
    EXPECT_EQ(board.UnknownCommandCount(), c.unknown);
    EXPECT_EQ(board.CommandCount(), 0u);
    EXPECT_EQ(Feed(board, {Announce(0x24)}).size(), 1u);
  }
}

TEST(BoardEmulator, ReportInsideACommandIsDataEvenIfItLooksLikeAnAnnounce) {
  BoardEmulator board;
  // A 3-byte write to the memory whose data are AA 55 24: pointer 0xAA55 (mod 32 KiB), byte 0x24.
  const auto answers = Feed(board, {Announce(0x1B), Of({0, 0x50, 0, 3, 1, 1}), Announce(0x24)});
  ASSERT_EQ(answers.size(), 1u);  // the status report only, no line record
  EXPECT_EQ(answers[0].bytes[1], emulator::kI2cStatusOk);
  EXPECT_EQ(board.Memory()->Peek(0xAA55 % emulator::kSerialMemorySize, 1)[0], 0x24);
}

TEST(BoardEmulator, PowerUpForgetsAHalfReceivedCommand) {
  BoardEmulator board;
  Feed(board, {Announce(0x23)});  // its parameter report never comes
  board.OnPlugged();
  const auto answers = Feed(board, {Announce(0x24)});
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(board.CommandCount(0x24), 1u);
  EXPECT_EQ(board.CommandCount(0x23), 0u);
}

TEST(BoardEmulator, MisbehaviourShapesTheAnswers) {
  BoardEmulator board;
  board.SetAnswerMode(emulator::AnswerMode::kSilent);
  EXPECT_TRUE(Feed(board, {Announce(0x24)}).empty());
  EXPECT_EQ(board.CommandCount(0x24), 1u);  // carried out all the same

  board.SetAnswerMode(emulator::AnswerMode::kLate);
  board.SetLateDelayMs(450);
  auto late = Feed(board, I2cTransfer(0x1A, 0x50, 64));
  ASSERT_EQ(late.size(), 3u);
  for (const auto& a : late) EXPECT_EQ(a.delay_ms, 450u);

  board.SetAnswerMode(emulator::AnswerMode::kNormal);
  board.DuplicateNextAnswer();
  EXPECT_TRUE(Feed(board, {Announce(0xFD)}).empty());  // nothing to duplicate yet
  auto doubled = Feed(board, {Announce(0x1C), Of({0, 3})});
  ASSERT_EQ(doubled.size(), 2u);
  EXPECT_EQ(doubled[0].bytes, doubled[1].bytes);
  EXPECT_EQ(doubled[0].delay_ms, 0u);
  EXPECT_EQ(Feed(board, {Announce(0x24)}).size(), 1u);  // once only
}

}  // namespace
