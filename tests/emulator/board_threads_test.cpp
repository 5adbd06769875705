// Two host threads driving one emulated board through one board link.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <set>
#include <thread>
#include <vector>

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
      CUSBChannel link;
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

}  // namespace
