// Which command takes which answer when the board is late, silent, drops or repeats answers, and
// when several board links share it. Every answer report carries the number of the board command
// it answers, so the tests check attribution directly. Simulated time: no test here sleeps.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include "emulated_board_fixture.h"
#include "platform/pause.h"

namespace {

using namespace board;
using emulator::AnswerFate;
using testing_support::Bytes;
using testing_support::Pattern;

// An answer up to this much later than its command is never taken by another command.
constexpr unsigned kGuaranteeMs = kAnswerTimeoutMs + kOwedAnswerGraceMs;

class Attribution : public testing_support::EmulatedBoardTest {
 protected:
  Attribution() : EmulatedBoardTest(platform::TimeBase::kSimulated) {}
  void SetUp() override {
    EmulatedBoardTest::SetUp();
    for (int page = 0; page < 16; ++page) {
      board_->SetEeprom(static_cast<std::size_t>(page) * 64, Pattern(64, page * 16));
    }
  }
  // The answers of board command `command` meet `fate`; all others are on time.
  void FateOf(std::uint64_t command, AnswerFate fate) {
    board_->SetAnswerFates([command, fate](std::uint64_t c, std::size_t) {
      return c == command ? fate : AnswerFate{};
    });
  }
  // Reads page `page`; true when every answer it took was its own and the data is right.
  bool ReadPageRight(int page) {
    const Bytes got = ReadEeprom(page * 64, 64);
    bool own = true;
    for (const platform::TakenReport& t : NewlyTaken()) own &= t.tag == board_->LastCommandNumber();
    return own && got == Pattern(64, page * 16);
  }
};

TEST_F(Attribution, ALateRepeatedOrDroppedAnswerMisleadsAtMostOneLaterCommand) {
  struct Case {
    const char* name;
    AnswerFate fate;
    int misled_at_most;  // commands after the first that may take a wrong answer
  };
  const Case cases[] = {
      {"150 ms late", {150, false, false}, 0},
      {"250 ms late", {250, false, false}, 0},
      {"350 ms late", {350, false, false}, 0},
      {"600 ms late", {600, false, false}, 1},
      {"repeated", {0, false, true}, 0},
      {"dropped", {0, true, false}, 0},
      {"repeated and 300 ms late", {300, false, true}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    NewlyTaken();
    FateOf(board_->LastCommandNumber() + 1, c.fate);
    ReadEeprom(0, 64);  // the command whose answer misbehaves
    NewlyTaken();
    int misled = 0;
    for (int page = 1; page <= 8; ++page) {
      const bool right = ReadPageRight(page);
      misled += !right;
      if (page > 2) {
        EXPECT_TRUE(right) << "page " << page << ": the link stayed out of step";
      }
    }
    EXPECT_LE(misled, c.misled_at_most);
    board_->SetAnswerFates(nullptr);
    system_.WaitUntilDelivered(id_, 2000);
  }
}

// A setter whose record read got no answer in the same command writes nothing back, even when
// the answer buffer holds an erased EEPROM page (all 0xFF) or the record arrives late.
TEST_F(Attribution, ASetterWithoutAFreshRecordLeavesEveryLineAlone) {
  board_->SetEeprom(0x8000, Bytes(64, 0xFF));
  for (const AnswerFate fate : {AnswerFate{0, true, false}, AnswerFate{300, false, false}}) {
    SCOPED_TRACE(fate.drop ? "silent" : "late");
    ASSERT_EQ(ReadEeprom(0x8000, 64), Bytes(64, 0xFF));
    const emulator::LineRecord before = board_->Lines();
    FateOf(board_->LastCommandNumber() + 1, fate);
    channel_.SetLedPass(1);
    EXPECT_FALSE(channel_.LastCommandAnswered());
    EXPECT_EQ(board_->Lines(), before);
    EXPECT_EQ(board_->CommandCount(CMD_SET_LINES), 0u);
    board_->SetAnswerFates(nullptr);
    system_.WaitUntilDelivered(id_, 2000);
  }
  channel_.SetLedPass(1);
  EXPECT_TRUE(channel_.LastCommandAnswered());
  EXPECT_EQ(board_->Lines()[kLineLedPass], 1);
}

// Two links on one board, used one after the other on one thread: each drops what the other's
// commands left in its queue, so neither takes the other's answers.
TEST_F(Attribution, TwoLinksOnOneBoardTakeOnlyTheirOwnAnswers) {
  CUSBChannel other(opener_);
  ASSERT_EQ(other.OpenBoard(), 0);
  for (int round = 0; round < 20; ++round) {
    CUSBChannel& link = round % 3 == 0 ? other : channel_;
    const int page = round % 16;
    Bytes got(64, 0);
    link.ReadEEPROMPage(page * 64, got.data(), 64);
    EXPECT_EQ(got, Pattern(64, page * 16)) << "round " << round;
    const auto taken = NewlyTaken();
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_EQ(taken[0].tag, board_->LastCommandNumber());
  }
}

// Ten thousand commands of every kind against random faults. Every answer a command takes is its
// own, or one more than kGuaranteeMs late, or the own answer of a command that was itself misled
// (it took an earlier one, so it cannot know that its own is still to come); the answers of one
// command mislead one operation at most; once nothing is on its way, every command is right.
TEST_F(Attribution, RandomFaultsNeverLetAnAnswerWithinTheBoundGoAstray) {
  const unsigned seed = 20240611;
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  std::map<std::uint64_t, AnswerFate> fates;  // by board command
  bool faults = true;
  board_->SetAnswerFates([&](std::uint64_t command, std::size_t index) {
    AnswerFate fate;
    if (faults) {
      // A silent stretch every so often, otherwise mostly on time.
      const unsigned roll = static_cast<unsigned>(random() % 100);
      if ((command / 40) % 10 == 7)
        fate.drop = true;
      else if (roll < 6)
        fate.delay_ms = 150 + static_cast<unsigned>(random() % 200);
      else if (roll < 9)
        fate.delay_ms = 450 + static_cast<unsigned>(random() % 600);
      else if (roll < 11)
        fate.drop = true;
      else if (roll < 13)
        fate.duplicate = true;
    }
    if (index == 0) fates[command] = fate;
    return fate;
  });
  platform::SetPauseSleeps(false);  // the EEPROM write pause costs nothing in simulated time

  std::map<std::uint64_t, std::set<int>> taken_by;  // foreign tag -> host operations
  std::map<std::uint64_t, int> op_of;               // board command -> host operation
  std::set<int> misled;                             // host operations that took a foreign answer
  int astray = 0;
  const auto run = [&](int op) {
    const std::uint64_t first = board_->LastCommandNumber() + 1;
    Bytes buffer(130, 0);
    std::uint8_t record[kLineRecordSize];
    std::uint16_t values[kSensorValueCount];
    switch (static_cast<unsigned>(random() % 10)) {
      case 0:
        channel_.ReadI2CLongBytes(0x50, buffer.data(), random() % 130, true, true);
        break;
      case 1:
        channel_.WriteI2CLongBytes(0x50, buffer.data(), random() % 130, true, true);
        break;
      case 2:
        channel_.SetI2CSpeed(400);
        break;
      case 3:
        channel_.WriteEEPROMPage(0x4000, buffer.data(), 8);
        break;
      case 4:
        channel_.ReadEEPROMPage(static_cast<int>(random() % 1024) * 64, buffer.data(), 64);
        break;
      case 5:
        channel_.ReadLineState(record);
        break;
      case 6:
        channel_.SetBuzzer(static_cast<int>(random() % 2));
        break;
      case 7:
        channel_.ReadSensorRawData(values);
        break;
      case 8:
        channel_.SelectExpandChannel(kExpanderAddress, 1);
        break;
      default:
        channel_.SendHardwareReset();
        break;
    }
    for (std::uint64_t c = first; c <= board_->LastCommandNumber(); ++c) op_of[c] = op;
    for (const platform::TakenReport& t : NewlyTaken()) {
      if (t.tag >= first) continue;  // its own
      ++astray;
      taken_by[t.tag].insert(op);
      const bool chained = misled.count(op_of[t.tag]) != 0;
      EXPECT_TRUE(t.late_ms > kGuaranteeMs || chained)
          << "operation " << op << " took an answer of command " << t.tag << " that was only "
          << t.late_ms << " ms late";
      misled.insert(op);
    }
  };
  constexpr int kOperations = 10000;
  for (int op = 0; op < kOperations && !HasFailure(); ++op) run(op);
  for (const auto& [tag, ops] : taken_by) {
    EXPECT_EQ(ops.size(), 1u) << "answers of command " << tag << " misled several operations";
  }
  EXPECT_GT(astray, 0) << "the schedule never sent an answer beyond the bound";

  faults = false;
  system_.WaitUntilDelivered(id_, 5000);
  const int before = astray;
  for (int op = kOperations; op < kOperations + 200; ++op) run(op);
  EXPECT_EQ(astray, before);
  platform::SetPauseSleeps(true);
}

}  // namespace
