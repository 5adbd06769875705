// Several threads on one board link: the exchange lock keeps every command's reports together,
// the board-state lock keeps a line setter's read-modify-write whole, the exchange lock can be
// taken in advance by a caller, and an EEPROM write's pause keeps the board to itself.
//
// Worker threads do not use gtest assertions (not thread-safe in every build of gtest); they
// count what went wrong and the test thread checks the counts.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "board/protocol.h"
#include "board/trace_open.h"
#include "platform/pause.h"
#include "recording_device.h"
#include "report_text.h"
#include "strict_channel.h"
#include "tests/trace/trace_support.h"

namespace {

using namespace testing_support;

class SharedBoard : public StrictChannel {};

struct Worker {
  std::uint8_t slave;
  std::uint16_t khz;
  int speedCode;
  std::int32_t eepromBase;
  int rounds;
  int commands = 0;
  int wrongResults = 0;
};

// A mix of every kind of command; each result must be the one the board gave this thread.
void RunCommands(TestChannel& channel, Worker& w) {
  std::vector<std::uint8_t> in(300), out(300);
  for (int i = 0; i < w.rounds; ++i) {
    w.wrongResults += channel.SetI2CSpeed(w.khz) != w.speedCode;

    const auto n = static_cast<std::uint32_t>((i * 37) % 300);
    w.wrongResults += channel.ReadI2CLongBytes(w.slave, in.data(), n, true, true) != w.slave;
    for (std::uint32_t j = 0; j < n; ++j) {
      if (in[j] != FakeBoard::SlaveByte(w.slave, j)) {
        ++w.wrongResults;
        break;
      }
    }
    for (std::uint32_t j = 0; j < n; ++j) out[j] = FakeBoard::SlaveByte(w.slave, j);
    w.wrongResults += channel.WriteI2CLongBytes(w.slave, out.data(), n, i & 1, true) != w.slave;

    std::uint16_t values[board::kSensorValueCount] = {};
    channel.ReadSensorRawData(values);
    w.wrongResults += values[0] != (FakeBoard::SensorByte(0) << 8 | FakeBoard::SensorByte(1));

    channel.SelectExpandChannel(board::kExpanderAddress, static_cast<std::uint8_t>(i & 7));
    w.commands += 5;

    if (i % 25 == 0) {
      std::uint8_t page[8], back[8] = {};
      for (std::uint8_t k = 0; k < 8; ++k) page[k] = static_cast<std::uint8_t>(w.slave + i + k);
      channel.WriteEEPROMPage(w.eepromBase + i, page, 8);
      channel.ReadEEPROMPage(w.eepromBase + i, back, 8);
      for (int k = 0; k < 8; ++k) w.wrongResults += back[k] != page[k];
      w.commands += 2;
    }
  }
}

TEST_F(SharedBoard, TwoThreadsGiveTwoCompleteUninterleavedSequences) {
  Worker a{0x50, 400, 1, 0x0000, 200};
  Worker b{0x51, 1000, 3, 0x8000, 200};
  std::thread ta(RunCommands, std::ref(channel_), std::ref(a));
  std::thread tb(RunCommands, std::ref(channel_), std::ref(b));
  ta.join();
  tb.join();

  EXPECT_EQ(board_->Problems(), std::vector<std::string>());
  EXPECT_EQ(a.wrongResults, 0);
  EXPECT_EQ(b.wrongResults, 0);
  EXPECT_EQ(board_->Commands().size(), static_cast<std::size_t>(a.commands + b.commands));
  EXPECT_EQ(board_->Discards(), board_->Commands().size());
}

// A trace switched on and off while two threads run commands: every line it holds is a whole
// command of one thread (an I2C transfer's status is its own slave's), and the commands'
// results are what they are untraced.
TEST_F(SharedBoard, ATraceSwitchedOnAndOffDuringCommandsRecordsWholeCommands) {
  std::string text;
  int flushes = 0;
  auto trace = board::MakeTraceRecorder(board::TraceFileKind::kText,
                                        std::make_unique<MemoryOutput>(&text, SIZE_MAX, &flushes),
                                        "concurrency_tests");
  Worker a{0x50, 400, 1, 0x0000, 100};
  Worker b{0x51, 1000, 3, 0x8000, 100};
  std::atomic<int> running{2};
  auto run = [&](Worker& w) {
    RunCommands(channel_, w);
    --running;
  };
  std::thread ta(run, std::ref(a));
  std::thread tb(run, std::ref(b));
  for (int k = 0; running > 0; ++k) {
    channel_.AttachTrace(k % 2 == 0 ? trace.get() : nullptr);
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  ta.join();
  tb.join();
  channel_.AttachTrace(nullptr);
  trace.reset();

  EXPECT_EQ(board_->Problems(), std::vector<std::string>());
  EXPECT_EQ(a.wrongResults, 0);
  EXPECT_EQ(b.wrongResults, 0);
  const std::vector<std::string> lines = Lines(text);
  ASSERT_GT(lines.size(), 1u);
  std::size_t transfers = 0;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    auto fields = TextFields(lines[i]);
    ASSERT_EQ(fields["verdict"], "answered") << lines[i];
    if (fields.count("slave")) {
      ++transfers;
      EXPECT_EQ(fields["status"], fields["slave"]) << lines[i];
    }
  }
  EXPECT_GT(transfers, 0u);
}

TEST_F(SharedBoard, LineChangesNeverSplitAnotherSettersReadModifyWrite) {
  std::vector<std::uint8_t> initial(board::kLineRecordSize);
  for (std::size_t i = 0; i < initial.size(); ++i) initial[i] = static_cast<std::uint8_t>(0x30 + i);
  for (std::size_t input : {board::kLineKey1, board::kLineKey2, board::kLineKey3, board::kLineInt})
    initial[input] = 1;  // the board drives these: 0 or 1
  initial[board::kLinePower] = 0;
  initial[board::kLineLedPass] = 0;
  board_->SetLineRecord(initial);

  const int rounds = 301;  // odd: each setter ends on 1
  auto toggle = [&](void (CUSBChannel::*set)(int)) {
    for (int i = 0; i < rounds; ++i) (channel_.*set)(i % 2 == 0 ? 1 : 0);
  };
  // A reader that takes the locks the line getters take; it must never see another byte move.
  std::atomic<bool> done{false};
  int readerMismatches = 0;
  auto reader = [&] {
    while (!done.load()) {
      std::uint8_t record[board::kLineRecordSize];
      {
        platform::CsLock state(channel_.m_csBoardState);
        platform::CsLock exchange(channel_.m_csExchange);
        channel_.ReadLineState(record);
      }
      for (std::size_t i = 0; i < initial.size(); ++i) {
        if (i != board::kLinePower && i != board::kLineLedPass)
          readerMismatches += record[i] != initial[i];
      }
    }
  };
  std::thread tr(reader);
  std::thread tp(toggle, &CUSBChannel::SetPower);
  std::thread tl(toggle, &CUSBChannel::SetLedPass);
  tp.join();
  tl.join();
  done = true;
  tr.join();

  EXPECT_EQ(board_->Problems(), std::vector<std::string>());
  EXPECT_EQ(board_->StaleLineWrites(), 0);
  EXPECT_EQ(board_->LineWrites(), 2u * rounds);
  EXPECT_EQ(readerMismatches, 0);
  std::vector<std::uint8_t> expected = initial;
  expected[board::kLinePower] = 1;
  expected[board::kLineLedPass] = 1;
  EXPECT_EQ(board_->LineRecord(), expected);
}

TEST_F(SharedBoard, ACallerHoldingTheExchangeLockIssuesCommandsAndKeepsOthersOut) {
  std::mutex m;
  std::condition_variable cv;
  bool otherStarting = false;
  std::thread other;
  {
    platform::CsLock exchange(channel_.m_csExchange);
    other = std::thread([&] {
      {
        std::lock_guard<std::mutex> g(m);
        otherStarting = true;
      }
      cv.notify_all();
      channel_.SendHardwareReset();
    });
    {
      std::unique_lock<std::mutex> lk(m);
      cv.wait(lk, [&] { return otherStarting; });
    }
    EXPECT_EQ(channel_.SetI2CSpeed(400), 1);
    std::uint8_t record[board::kLineRecordSize];
    channel_.ReadLineState(record);
    channel_.SelectExpandChannel(board::kExpanderAddress, 1);
  }
  other.join();
  EXPECT_EQ(board_->Commands(), (std::vector<std::uint8_t>{0x1C, 0x24, 0x50, 0xFD}));
  EXPECT_EQ(board_->Problems(), std::vector<std::string>());
}

TEST_F(SharedBoard, ALineSetterRunsInsideAHeldBoardStateLock) {
  platform::CsLock state(channel_.m_csBoardState);
  platform::CsLock exchange(channel_.m_csExchange);
  channel_.SetBuzzer(1);
  std::uint8_t record[board::kLineRecordSize];
  channel_.ReadLineState(record);
  EXPECT_EQ(record[board::kLineBuzzer], 1);
  EXPECT_EQ(board_->Commands(), (std::vector<std::uint8_t>{0x24, 0x25, 0x24}));
}

// The pause after an EEPROM write belongs to the write: a command from another thread that is
// ready to go during the pause reaches the board only after it.
struct PauseProbe {
  RecordingDevice* device = nullptr;
  const std::vector<Event>* log = nullptr;
  std::mutex* logMutex = nullptr;
  std::mutex m;
  std::condition_variable cv;
  bool pausing = false;
  bool otherReady = false;
  std::vector<unsigned> pauses;
};

void ProbePause(unsigned ms, void* context) {
  auto* p = static_cast<PauseProbe*>(context);
  p->pauses.push_back(ms);
  std::size_t eventsAtPause;
  {
    std::lock_guard<std::mutex> g(*p->logMutex);
    eventsAtPause = p->log->size();
  }
  {
    std::unique_lock<std::mutex> lk(p->m);
    p->pausing = true;
    p->cv.notify_all();
    p->cv.wait(lk, [&] { return p->otherReady; });
  }
  // Give the other command every chance to reach the board, were the exchange lock free. This
  // wait only widens the window; the check is the order of the reports.
  for (int i = 0; i < 100; ++i) {
    {
      std::lock_guard<std::mutex> g(*p->logMutex);
      if (p->log->size() != eventsAtPause) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  p->device->Mark();
}

TEST(EepromPause, NoOtherReportReachesTheBoardBeforeThePauseIsOver) {
  std::vector<Event> log;
  std::mutex logMutex;
  TestChannel channel;
  auto device = std::make_unique<RecordingDevice>(&log, &logMutex);
  PauseProbe probe;
  probe.device = device.get();
  probe.log = &log;
  probe.logMutex = &logMutex;
  channel.Attach(std::move(device));
  platform::SetPauseHook(&ProbePause, &probe);

  std::thread other([&] {
    {
      std::unique_lock<std::mutex> lk(probe.m);
      probe.cv.wait(lk, [&] { return probe.pausing; });
      probe.otherReady = true;
    }
    probe.cv.notify_all();
    channel.SendHardwareReset();
  });
  const std::uint8_t data[3] = {0x0A, 0x0B, 0x0C};
  channel.WriteEEPROMPage(0x0120, data, 3);
  {
    std::lock_guard<std::mutex> g(probe.m);
    probe.pausing = true;  // releases the other thread even if no pause was taken
  }
  probe.cv.notify_all();
  other.join();
  platform::SetPauseHook(nullptr, nullptr);

  EXPECT_EQ(probe.pauses, std::vector<unsigned>{10});
  EXPECT_EQ(Describe(log), Expected()
                               .Write({0x00, 0xAA, 0x55, 0x22})
                               .Write({0x00, 0x01, 0x20, 0x03})
                               .Write({0x00, 0x0A, 0x0B, 0x0C})
                               .Mark()
                               .Write({0x00, 0xAA, 0x55, 0xFD})
                               .lines());
}

}  // namespace
