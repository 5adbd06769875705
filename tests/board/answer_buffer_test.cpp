// What the operations return when the board does not answer: with no board open they take every
// result from the unchanged answer buffer; with a board that stays silent each command waits for
// one bounded read only, and the next command first drops any answer that arrived too late.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "channel_fixtures.h"
#include "platform/pause.h"

namespace {

using namespace testing_support;

// Byte 1 is 0x2C: bits 2 and 3 give a speed code of 3.
Bytes LastAnswer() {
  Bytes report = Pattern(platform::kReportSize, 0x55);
  report[0] = 0;
  report[1] = 0x2C;
  return report;
}

Bytes Payload(const Bytes& report) {
  return Bytes(report.begin() + 1, report.end());
}

// Every 64-byte run of `buffer` (the last one shorter) equals the start of `payload`.
void ExpectRunsOf(const Bytes& payload, const std::uint8_t* buffer, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    ASSERT_EQ(buffer[i], payload[i % 64]) << "byte " << i;
  }
}

TEST(NoBoard, BeforeAnyAnswerResultsComeFromTheZeroedBuffer) {
  TestChannel channel;
  EXPECT_FALSE(channel.HasDevice());
  std::uint8_t data[70];
  std::fill(std::begin(data), std::end(data), 0xCC);
  EXPECT_EQ(channel.SetI2CSpeed(400), 0);
  EXPECT_EQ(channel.ReadI2CLongBytes(0x50, data, 70, true, true), 0);
  EXPECT_TRUE(std::all_of(std::begin(data), std::end(data), [](auto b) { return b == 0; }));
}

// A board that has answered one command with LastAnswer(): the answer buffer holds it.
class AnsweredOnce : public RecordedChannel {
 protected:
  void SetUp() override {
    device_->QueueAnswer(LastAnswer());
    std::uint8_t record[64];
    channel_.ReadLineState(record);
  }
};

// A board was open, answered once, and has been closed: the answer buffer keeps that answer.
class BoardClosed : public AnsweredOnce {
 protected:
  void SetUp() override {
    AnsweredOnce::SetUp();
    channel_.Attach(nullptr);
    device_ = nullptr;
  }
};

TEST_F(BoardClosed, EveryReadingCommandReturnsTheSameStaleValuesTwice) {
  const Bytes payload = Payload(LastAnswer());
  for (int call = 0; call < 2; ++call) {
    SCOPED_TRACE(call);
    EXPECT_EQ(channel_.SetI2CSpeed(50), 3);

    std::vector<std::uint8_t> run(130, 0xCC);
    EXPECT_EQ(channel_.ReadI2CLongBytes(0x50, run.data(), 130, true, true), 0x2C);
    ExpectRunsOf(payload, run.data(), run.size());

    const std::uint8_t out[3] = {1, 2, 3};
    EXPECT_EQ(channel_.WriteI2CLongBytes(0x50, out, 3, true, true), 0x2C);

    std::vector<std::uint8_t> page(100, 0xCC);
    channel_.ReadEEPROMPage(0x0120, page.data(), 100);
    EXPECT_EQ(Bytes(page.begin(), page.begin() + 64), payload);
    EXPECT_TRUE(std::all_of(page.begin() + 64, page.end(), [](auto b) { return b == 0xCC; }));

    std::uint8_t record[64] = {};
    channel_.ReadLineState(record);
    EXPECT_EQ(Bytes(record, record + 64), payload);

    std::uint16_t values[32] = {};
    channel_.ReadSensorRawData(values);
    EXPECT_EQ(values[0], 0x2C00 | payload[1]);
    EXPECT_EQ(values[31], (payload[62] << 8) | payload[63]);

    channel_.SetPower(1);
    channel_.SelectExpandChannel(0x70, 1);
    channel_.SendHardwareReset();
    EXPECT_EQ(Bytes(channel_.Answer(), channel_.Answer() + platform::kReportSize), LastAnswer());
  }
}

void CountPause(unsigned ms, void* context) {
  static_cast<std::vector<unsigned>*>(context)->push_back(ms);
}

TEST_F(BoardClosed, EepromWriteStillPauses) {
  std::vector<unsigned> pauses;
  platform::SetPauseHook(&CountPause, &pauses);
  const std::uint8_t data[3] = {1, 2, 3};
  channel_.WriteEEPROMPage(0x0120, data, 3);
  platform::SetPauseHook(nullptr, nullptr);
  EXPECT_EQ(pauses, std::vector<unsigned>{10});
}

// A board that answers nothing: every read waits for its bound and times out.
class SilentBoard : public AnsweredOnce {
 protected:
  void SetUp() override {
    AnsweredOnce::SetUp();
    device_->SetWhenEmpty(RecordingDevice::WhenEmpty::kTimeOut);
    log_.clear();
  }
  std::size_t ReadCalls() const { return device_->read_timeouts().size(); }
};

TEST_F(SilentBoard, OnlyTheFirstReadOfACommandWaits) {
  const std::size_t before = ReadCalls();
  std::vector<std::uint8_t> run(130, 0xCC);
  // Three data reports and the status report are due; only the first read is made.
  EXPECT_EQ(channel_.ReadI2CLongBytes(0x50, run.data(), 130, true, true), 0x2C);
  EXPECT_EQ(Log(), Expected()
                       .Write({0x00, 0xAA, 0x55, 0x1A})
                       .Write({0x00, 0x50, 0x00, 0x82, 0x01, 0x01})
                       .ReadNone()
                       .lines());
  EXPECT_EQ(ReadCalls() - before, 1u);
  EXPECT_EQ(device_->last_timeout_ms(), 200u);
  ExpectRunsOf(Payload(LastAnswer()), run.data(), run.size());
  EXPECT_EQ(Bytes(channel_.Answer(), channel_.Answer() + platform::kReportSize), LastAnswer());
}

TEST_F(SilentBoard, ATransferStillSendsAllItsReports) {
  const Bytes out = Pattern(130, 9);
  EXPECT_EQ(channel_.WriteI2CLongBytes(0x50, out.data(), 130, false, true), 0x2C);
  EXPECT_EQ(Log(), Expected()
                       .Write({0x00, 0xAA, 0x55, 0x1B})
                       .Write({0x00, 0x50, 0x00, 0x82, 0x00, 0x01})
                       .Write(ReportWithPayload(out.data(), 64))
                       .Write(ReportWithPayload(out.data() + 64, 64))
                       .Write(ReportWithPayload(out.data() + 128, 2))
                       .ReadNone()
                       .lines());
}

TEST_F(SilentBoard, AReadAfterSomeAnswersStopsAtTheFirstTimeout) {
  const Bytes first = ReportWithPayload(Pattern(64, 1).data(), 64);
  const Bytes second = ReportWithPayload(Pattern(64, 2).data(), 64);
  device_->QueueAnswer(first);
  device_->QueueAnswer(second);
  std::vector<std::uint8_t> run(130, 0xCC);
  EXPECT_EQ(channel_.ReadI2CLongBytes(0x50, run.data(), 130, true, true), second[1]);
  EXPECT_EQ(Log(), Expected()
                       .Write({0x00, 0xAA, 0x55, 0x1A})
                       .Write({0x00, 0x50, 0x00, 0x82, 0x01, 0x01})
                       .Read(2)
                       .ReadNone()
                       .lines());
  // The third run is filled from what the buffer last held: the second answer.
  EXPECT_EQ(Bytes(run.begin(), run.begin() + 64), Payload(first));
  EXPECT_EQ(Bytes(run.begin() + 64, run.begin() + 128), Payload(second));
  EXPECT_EQ(run[128], second[1]);
  EXPECT_EQ(run[129], second[2]);
}

TEST_F(SilentBoard, TheNextCommandWaitsOnceForTheOwedAnswerBeforeItsAnnounce) {
  EXPECT_EQ(channel_.SetI2CSpeed(400), 3);           // times out, keeps the stale answer
  device_->QueueArrivedAnswer(ReportOf({0, 0x04}));  // the late answer: dropped at the start
  device_->QueueAnswerAfterWrites(ReportOf({0, 0x08}));
  EXPECT_EQ(channel_.SetI2CSpeed(400), 2);
  device_->QueueAnswerAfterWrites(ReportOf({0, 0x0C}));
  EXPECT_EQ(channel_.SetI2CSpeed(1000), 3);
  EXPECT_EQ(Log(), Expected()
                       .Write({0x00, 0xAA, 0x55, 0x1C})
                       .Write({0x00, 0x01})
                       .ReadNone()
                       .ReadNone()  // the wait for the owed answer, within the grace period
                       .Write({0x00, 0xAA, 0x55, 0x1C})
                       .Write({0x00, 0x01})
                       .Read()
                       // back in step: no further wait
                       .Write({0x00, 0xAA, 0x55, 0x1C})
                       .Write({0x00, 0x03})
                       .Read()
                       .lines());
  const std::vector<unsigned>& waits = device_->read_timeouts();
  ASSERT_GE(waits.size(), 3u);
  EXPECT_GT(waits[waits.size() - 3], 0u);
  EXPECT_LE(waits[waits.size() - 3], 200u);
}

TEST_F(SilentBoard, ACommandWithoutAnswerAlsoResynchronises) {
  channel_.SetI2CSpeed(400);
  channel_.SendHardwareReset();
  channel_.SendHardwareReset();
  EXPECT_EQ(Log(), Expected()
                       .Write({0x00, 0xAA, 0x55, 0x1C})
                       .Write({0x00, 0x01})
                       .ReadNone()
                       .ReadNone()
                       .Write({0x00, 0xAA, 0x55, 0xFD})
                       .Write({0x00, 0xAA, 0x55, 0xFD})
                       .lines());
}

// Without a fresh record in the same command the setter writes nothing back: the answer buffer
// holds bytes of some other answer, and writing them would switch every line.
TEST_F(SilentBoard, ALineSetterWithoutAFreshRecordWritesNothingBack) {
  for (auto when : {RecordingDevice::WhenEmpty::kTimeOut, RecordingDevice::WhenEmpty::kFail}) {
    device_->SetWhenEmpty(when);
    log_.clear();
    channel_.SetBuzzer(1);
    EXPECT_FALSE(channel_.LastCommandAnswered());
    const auto write = [](const Event& e) { return e.kind == Event::kWrite; };
    EXPECT_EQ(std::count_if(log_.begin(), log_.end(), write), 1);
    EXPECT_EQ(Describe(*std::find_if(log_.begin(), log_.end(), write)), "W 00 AA 55 24");
  }
}

// A write the device does not take ends the command at once: no further report, no wait for an
// answer the board cannot owe, and the next command runs normally.
TEST_F(RecordedChannel, AFailedWriteEndsTheCommand) {
  const Bytes out = Pattern(65535, 3);
  device_->FailWritesFrom(2);
  EXPECT_EQ(channel_.WriteI2CLongBytes(0x50, out.data(), 65535, true, true), 0);
  EXPECT_FALSE(channel_.LastCommandAnswered());
  EXPECT_EQ(
      Log(),
      Expected().Write({0x00, 0xAA, 0x55, 0x1B}).Write({0x00, 0x50, 0xFF, 0xFF, 1, 1}).lines());
  device_->FailWritesFrom(-1);
  log_.clear();
  device_->QueueAnswer(ReportOf({0, 0x04}));
  EXPECT_EQ(channel_.SetI2CSpeed(400), 1);
  EXPECT_TRUE(channel_.LastCommandAnswered());
  EXPECT_EQ(Log(), Expected().Write({0x00, 0xAA, 0x55, 0x1C}).Write({0x00, 0x01}).Read().lines());
}

// On the normal path every command drops what is queued once, without waiting, and reads only
// its own answers.
TEST_F(RecordedChannel, OneDiscardPerCommandAndNoExtraReadWhileEveryAnswerArrives) {
  std::uint8_t buffer[200] = {};
  std::uint8_t record[64] = {};
  std::uint16_t values[32] = {};
  for (int round = 0; round < 3; ++round) {
    device_->QueueAnswer(ReportOf({0, 0x04}));
    channel_.SetI2CSpeed(400);
    for (int k = 0; k < 5; ++k) device_->QueueAnswer(ReportOf({0, k}));
    channel_.ReadI2CLongBytes(0x50, buffer, 200, true, true);
    device_->QueueAnswer(ReportOf({0, 0}));
    channel_.WriteI2CLongBytes(0x50, buffer, 200, true, true);
    channel_.SendHardwareReset();
    channel_.SelectExpandChannel(0x70, 2);
    device_->QueueAnswer(ReportOf({0, 0}));
    channel_.ReadEEPROMPage(0, buffer, 64);
    device_->QueueAnswer(ReportOf({0, 0}));
    device_->QueueAnswer(ReportOf({0, 0}));
    channel_.SetLedFail(1);
    device_->QueueAnswer(ReportOf({0, 0}));
    channel_.ReadLineState(record);
    device_->QueueAnswer(ReportOf({0, 0}));
    channel_.ReadSensorRawData(values);
  }
  EXPECT_EQ(device_->pending_answers(), 0u);
  EXPECT_EQ(std::count_if(log_.begin(), log_.end(),
                          [](const Event& e) { return e.kind == Event::kDiscard; }),
            3 * 10);
  EXPECT_TRUE(channel_.LastCommandAnswered());
  const auto& timeouts = device_->read_timeouts();
  EXPECT_EQ(timeouts.size(), 3u * 12u);
  EXPECT_TRUE(std::all_of(timeouts.begin(), timeouts.end(), [](unsigned t) { return t == 200; }));
}

}  // namespace
