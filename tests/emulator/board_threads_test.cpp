// Host threads driving one emulated board: through one board link, and one link each, which
// take turns on the board in the order they asked for it.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "board/shared_board.h"

#include "emulated_board_fixture.h"

namespace {

using namespace board;
using testing_support::Bytes;
using testing_support::Pattern;

class TwoThreads : public testing_support::EmulatedBoardTest {};

constexpr int kRounds = 60;

TEST_F(TwoThreads, EachThreadReadsBackItsOwnData) {
  std::atomic<int> eeprom_mismatches{0};
  std::atomic<int> memory_mismatches{0};
  std::thread eeprom([&] {
    for (int i = 0; i < kRounds; ++i) {
      const std::int32_t at = 0x4000 + 64 * i;
      const Bytes data = Pattern(64, static_cast<std::uint8_t>(i));
      channel_.WriteEEPROMPage(at, data.data(), 64);
      Bytes read(64, 0);
      channel_.ReadEEPROMPage(at, read.data(), 64);
      if (read != data) ++eeprom_mismatches;
    }
  });
  std::thread memory([&] {
    for (int i = 0; i < kRounds; ++i) {
      // Pointer set and run written in one transfer, then the random read as two transfers:
      // another command may come between them, but nothing else uses the memory.
      const std::uint16_t at = static_cast<std::uint16_t>(0x1000 + 100 * i);
      Bytes frame = {static_cast<std::uint8_t>(at >> 8), static_cast<std::uint8_t>(at)};
      const Bytes data = Pattern(100, static_cast<std::uint8_t>(3 * i));
      frame.insert(frame.end(), data.begin(), data.end());
      int status = channel_.WriteI2CLongBytes(0x50, frame.data(), 102, true, true);
      status |= channel_.WriteI2CLongBytes(0x50, frame.data(), 2, true, false);
      Bytes read(100, 0);
      status |= channel_.ReadI2CLongBytes(0x50, read.data(), 100, true, true);
      if (status != 0 || read != data) ++memory_mismatches;
    }
  });
  eeprom.join();
  memory.join();
  EXPECT_EQ(eeprom_mismatches.load(), 0);
  EXPECT_EQ(memory_mismatches.load(), 0);
  EXPECT_EQ(board_->IgnoredReportCount(), 0u);
  EXPECT_EQ(board_->CommandCount(CMD_EEPROM_READ), static_cast<std::size_t>(kRounds));
  EXPECT_EQ(board_->CommandCount(CMD_I2C_READ), static_cast<std::size_t>(kRounds));
}

// Read-modify-write of the line record from two threads: no update is lost.
TEST_F(TwoThreads, LineSettersDoNotLoseEachOthersUpdates) {
  std::thread pass([&] {
    for (int i = 0; i < kRounds; ++i) channel_.SetLedPass(i % 2);
    channel_.SetLedPass(1);
  });
  std::thread fail([&] {
    for (int i = 0; i < kRounds; ++i) channel_.SetLedFail(i % 2);
    channel_.SetLedFail(1);
  });
  std::atomic<int> wrong_sensor{0};
  std::thread sensor([&] {
    for (int i = 0; i < kRounds; ++i) {
      std::uint16_t v[kSensorValueCount];
      channel_.ReadSensorRawData(v);
      if (v[5] != 0xA5A5) ++wrong_sensor;
    }
  });
  pass.join();
  fail.join();
  sensor.join();
  EXPECT_EQ(Line(kLineLedPass), 1);
  EXPECT_EQ(Line(kLineLedFail), 1);
  EXPECT_EQ(wrong_sensor.load(), 0);
  EXPECT_EQ(board_->CommandCount(CMD_SET_LINES), 2u * (kRounds + 1));
}

// One board link per thread, all on the same board: their commands take turns, and every answer
// is read by the handle whose command asked for it (each tag is read by one handle only).
TEST_F(TwoThreads, OneLinkPerThreadOnOneBoardNeverReadsAnotherLinksAnswer) {
  constexpr int kLinks = 4;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kLinks; ++t) {
    threads.emplace_back([&, t] {
      CUSBChannel link(opener_);
      if (link.OpenBoard() != 0) {
        ++wrong;
        return;
      }
      for (int i = 0; i < kRounds; ++i) {
        const std::int32_t at = 0x6000 + 0x400 * t + 64 * (i % 16);
        const Bytes data = Pattern(64, static_cast<std::uint8_t>(t * 50 + i));
        link.WriteEEPROMPage(at, data.data(), 64);
        Bytes read(64, 0);
        link.ReadEEPROMPage(at, read.data(), 64);
        if (read != data || !link.LastCommandAnswered()) ++wrong;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
  std::map<std::uint64_t, std::set<std::uint64_t>> readers;  // tag -> handles that read it
  for (const platform::TakenReport& r : system_.TakenReports(id_)) readers[r.tag].insert(r.handle);
  EXPECT_EQ(readers.size(), static_cast<std::size_t>(kLinks * kRounds));
  for (const auto& [tag, handles] : readers) EXPECT_EQ(handles.size(), 1u) << "command " << tag;
}

// One link per thread, each with its own kind of command (so the board's log tells whose
// command came when). The board's turn goes in the order the links asked for it: each thread
// asks only once the one before it waits, and the thread that held the board asks again last.
using Command = std::function<void(CUSBChannel&)>;
const std::array<std::pair<const char*, Command>, 4> kCommandKinds = {{
    {"get-lines",
     [](CUSBChannel& c) {
       std::uint8_t r[kLineRecordSize];
       c.ReadLineState(r);
     }},
    {"i2c-speed", [](CUSBChannel& c) { c.SetI2CSpeed(400); }},
    {"eeprom-read",
     [](CUSBChannel& c) {
       std::uint8_t page[8];
       c.ReadEEPROMPage(0, page, 8);
     }},
    {"sensor-data",
     [](CUSBChannel& c) {
       std::uint8_t raw[kSensorBlockSize];
       c.ReadSensorBlock(raw);
     }},
}};

// Waits (at most 10 s) until `n` threads wait for `turn`.
bool WaitForWaiters(const board::FairTurn& turn, std::size_t n) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (turn.Waiting() < n && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return turn.Waiting() == n;
}

class Turns : public testing_support::EmulatedBoardTest {
 protected:
  // The board's shared state, as every link on it sees it.
  std::shared_ptr<board::SharedBoard> Shared() {
    return board::SharedBoardFor(emulator::HidDescriptionOf(emulator::BoardData()).path);
  }
  // Handle number -> index of the link that opened it.
  std::map<std::uint64_t, std::size_t> handles_;
};

TEST_F(Turns, TheBoardGoesToTheLinksInTheOrderTheyAsked) {
  const std::shared_ptr<board::SharedBoard> shared = Shared();
  ASSERT_FALSE(shared->SharedWithOtherProcesses()) << "an in-process board takes no turn among "
                                                      "processes";
  std::deque<CUSBChannel> links;
  for (std::size_t k = 0; k < kCommandKinds.size(); ++k) {
    links.emplace_back(opener_);
    handles_[system_.NextHandleNumber()] = k;
    ASSERT_EQ(links[k].OpenBoard(), 0);
  }
  NewlyTaken();
  std::vector<std::thread> threads;
  std::vector<std::string> not_queued;
  shared->Enter();  // held here, as by a slow command, while the links line up
  for (std::size_t k = 1; k < links.size(); ++k) {
    threads.emplace_back([&, k] { kCommandKinds[k].second(links[k]); });
    if (!WaitForWaiters(shared->Turn(), k)) not_queued.push_back(kCommandKinds[k].first);
  }
  // The first link's thread: its command was "the one holding the board"; it asks again now.
  threads.emplace_back([&] { kCommandKinds[0].second(links[0]); });
  if (!WaitForWaiters(shared->Turn(), links.size())) not_queued.push_back(kCommandKinds[0].first);
  shared->Leave();
  for (std::thread& t : threads) t.join();
  ASSERT_EQ(not_queued, std::vector<std::string>());

  std::vector<std::string> order;
  for (const platform::TakenReport& r : NewlyTaken()) {
    order.push_back(kCommandKinds[handles_.at(r.handle)].first);
  }
  EXPECT_EQ(order,
            (std::vector<std::string>{"i2c-speed", "eeprom-read", "sensor-data", "get-lines"}));
}

// With one link slow (its board answers every command of its kind late: each ends with an
// answer owed), a command waits at most for one command of every other link and its own: each
// at most an answer timeout plus an owed-answer grace. The host's own work on a command, beyond
// those waits, is given kHostWorkMs (generous: sanitizers, a loaded machine).
TEST_F(Turns, NoCommandWaitsLongerThanOneCommandOfEveryLinkAhead) {
  constexpr unsigned kHostWorkMs = 100;
  constexpr int kCommandsEach = 4;
  board_->SetCommandFate(CMD_GET_LINES, emulator::AnswerFate{300, false, false});
  std::deque<CUSBChannel> links;
  for (std::size_t k = 0; k < kCommandKinds.size(); ++k) {
    ASSERT_EQ(links.emplace_back(opener_).OpenBoard(), 0);
  }
  const auto bound = std::chrono::milliseconds(
      links.size() * (kAnswerTimeoutMs + kOwedAnswerGraceMs + kHostWorkMs));

  std::array<std::chrono::steady_clock::duration, kCommandKinds.size()> longest{};
  std::vector<std::thread> threads;
  for (std::size_t k = 0; k < links.size(); ++k) {
    threads.emplace_back([&, k] {
      for (int i = 0; i < kCommandsEach; ++i) {
        const auto asked = std::chrono::steady_clock::now();
        kCommandKinds[k].second(links[k]);
        longest[k] = std::max(longest[k], std::chrono::steady_clock::now() - asked);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  for (std::size_t k = 0; k < links.size(); ++k) {
    EXPECT_LE(longest[k], bound)
        << kCommandKinds[k].first << " waited "
        << std::chrono::duration_cast<std::chrono::milliseconds>(longest[k]).count() << " ms";
  }
  EXPECT_EQ(board_->CommandCount(CMD_GET_LINES), static_cast<std::size_t>(kCommandsEach));
  EXPECT_EQ(board_->CommandCount(), links.size() * kCommandsEach);
  board_->ClearCommandFates();
  system_.WaitUntilDelivered(id_, 2000);
}

// The turn is re-entrant for its holder and counts who waits.
TEST(FairTurn, ItsHolderTakesItAgainAndOthersWaitTheirTurn) {
  board::FairTurn turn;
  EXPECT_EQ(turn.HeldByMe(), 0u);
  turn.lock();
  turn.lock();
  EXPECT_EQ(turn.HeldByMe(), 2u);
  std::atomic<bool> got{false};
  std::thread other([&] {
    turn.lock();
    got = true;
    turn.unlock();
  });
  EXPECT_TRUE(WaitForWaiters(turn, 1));
  turn.unlock();
  EXPECT_FALSE(got.load()) << "given away while still held once";
  EXPECT_EQ(turn.HeldByMe(), 1u);
  turn.unlock();
  other.join();
  EXPECT_TRUE(got.load());
  EXPECT_EQ(turn.Waiting(), 0u);
  EXPECT_EQ(turn.HeldByMe(), 0u);
}

}  // namespace
