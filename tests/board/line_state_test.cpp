// Line-state record (0x24, 0x25), the six line setters, the expander selection (0x50), the board
// reset (0xFD) and the sensor block (0x30), byte for byte.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "channel_fixtures.h"

namespace {

using namespace testing_support;

// Record byte i travels in report byte i + 1.
Bytes NumberedRecordReport() {
  Bytes report(platform::kReportSize, 0);
  for (std::size_t i = 1; i < report.size(); ++i) report[i] = static_cast<std::uint8_t>(0x80 + i);
  return report;
}

TEST_F(RecordedChannel, ReadLineStateCopiesTheWholeAnswer) {
  const Bytes answer = NumberedRecordReport();
  device_->QueueAnswer(answer);
  std::uint8_t record[64] = {};
  channel_.ReadLineState(record);
  EXPECT_EQ(Log(), Expected().Write({0x00, 0xAA, 0x55, 0x24}).Read().lines());
  EXPECT_EQ(Bytes(record, record + 64), Bytes(answer.begin() + 1, answer.end()));
}

TEST_F(RecordedChannel, WriteLineStateSendsTheRecordAndReadsOneAnswer) {
  std::uint8_t record[64];
  for (int i = 0; i < 64; ++i) record[i] = static_cast<std::uint8_t>(0xC0 ^ i);
  device_->QueueAnswer(ReportOf({0, 0x5A}));
  channel_.WriteLineState(record);
  Bytes data(platform::kReportSize, 0);
  for (int i = 0; i < 64; ++i) data[1 + i] = record[i];
  EXPECT_EQ(Log(), Expected().Write({0x00, 0xAA, 0x55, 0x25}).Write(data).Read().lines());
  EXPECT_EQ(log_[2].report[64], record[63]);  // after the discard and the announce
}

struct Setter {
  const char* name;
  void (CUSBChannel::*set)(int);
  std::size_t report_byte;
};

const Setter kSetters[] = {
    {"SetReset", &CUSBChannel::SetReset, 2},       {"SetLedFail", &CUSBChannel::SetLedFail, 6},
    {"SetLedError", &CUSBChannel::SetLedError, 7}, {"SetLedPass", &CUSBChannel::SetLedPass, 8},
    {"SetBuzzer", &CUSBChannel::SetBuzzer, 9},     {"SetPower", &CUSBChannel::SetPower, 10},
};

class LineSetter : public RecordedChannel, public ::testing::WithParamInterface<Setter> {
 protected:
  // One setter call against a board whose record is `current`; returns the data report sent.
  Bytes SetAgainst(const Bytes& current, int nStatus) {
    log_.clear();
    device_->QueueAnswer(current);
    device_->QueueAnswer(ReportOf({0, 0}));
    (channel_.*GetParam().set)(nStatus);
    Bytes expected_data = current;
    expected_data[GetParam().report_byte] = static_cast<std::uint8_t>(nStatus);
    EXPECT_EQ(Log(), Expected()
                         .Write({0x00, 0xAA, 0x55, 0x24})
                         .Read()
                         .Write({0x00, 0xAA, 0x55, 0x25})
                         .Write(expected_data)
                         .Read()
                         .lines());
    return log_.size() == 7 ? log_[5].report : Bytes();  // two discards are in the raw log
  }
};

TEST_P(LineSetter, ChangesOnlyItsOwnByteOfTheRecordRead) {
  const Bytes current = NumberedRecordReport();
  const Bytes sent = SetAgainst(current, 1);
  ASSERT_EQ(sent.size(), current.size());
  for (std::size_t i = 0; i < sent.size(); ++i) {
    EXPECT_EQ(sent[i], i == GetParam().report_byte ? 1 : current[i]) << "report byte " << i;
  }
}

TEST_P(LineSetter, WritesFalseAsZeroAndTheLowByteOfStatus) {
  Bytes current = NumberedRecordReport();
  EXPECT_EQ(SetAgainst(current, 0)[GetParam().report_byte], 0);
  EXPECT_EQ(SetAgainst(current, 0x102)[GetParam().report_byte], 0x02);
}

TEST_P(LineSetter, SettingTheValueALineAlreadyHasStillReadsAndWrites) {
  Bytes current = NumberedRecordReport();
  current[GetParam().report_byte] = 1;
  EXPECT_EQ(SetAgainst(current, 1), current);
}

INSTANTIATE_TEST_SUITE_P(AllLines, LineSetter, ::testing::ValuesIn(kSetters),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(RecordedChannel, SetPowerCarriesTheIntLineOver) {
  device_->QueueAnswer(ReportOf({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01}));
  device_->QueueAnswer(ReportOf({0, 0}));
  channel_.SetPower(1);
  EXPECT_EQ(Log(), Expected()
                       .Write({0x00, 0xAA, 0x55, 0x24})
                       .Read()
                       .Write({0x00, 0xAA, 0x55, 0x25})
                       .Write({0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x01})
                       .Read()
                       .lines());
}

TEST_F(RecordedChannel, ExpanderAndResetAreSingleReportsWithoutAnswer) {
  device_->QueueAnswer(ReportOf({0, 0x10, 0x20}));
  channel_.SelectExpandChannel(0x70, 0x03);
  channel_.SendHardwareReset();
  channel_.SelectExpandChannel(0xFF, 0x80);
  EXPECT_EQ(Log(), Expected()
                       .Write({0x00, 0xAA, 0x55, 0x50, 0x70, 0x03})
                       .Write({0x00, 0xAA, 0x55, 0xFD})
                       .Write({0x00, 0xAA, 0x55, 0x50, 0xFF, 0x80})
                       .lines());
  // The report the board sends next belongs to the next command that reads.
  std::uint8_t record[64] = {};
  channel_.ReadLineState(record);
  EXPECT_EQ(record[0], 0x10);
  EXPECT_EQ(record[1], 0x20);
}

TEST_F(RecordedChannel, SensorRequestAndValuesHighByteFirst) {
  Bytes answer = ReportOf({0x00, 0x12, 0x34, 0xAB, 0xCD});
  answer[63] = 0xFE;
  answer[64] = 0xFF;
  device_->QueueAnswer(answer);
  std::uint16_t values[32] = {};
  channel_.ReadSensorRawData(values);
  EXPECT_EQ(Log(), Expected().Write({0x00, 0xAA, 0x55, 0x30, 0x20}).Read().lines());
  EXPECT_EQ(values[0], 0x1234);
  EXPECT_EQ(values[1], 0xABCD);
  EXPECT_EQ(values[2], 0x0000);
  EXPECT_EQ(values[31], 0xFEFF);
}

TEST_F(RecordedChannel, SensorBlockIsTheAnswerPayload) {
  const Bytes answer = NumberedRecordReport();
  device_->QueueAnswer(answer);
  std::uint8_t raw[64] = {};
  channel_.ReadSensorBlock(raw);
  EXPECT_EQ(Bytes(raw, raw + 64), Bytes(answer.begin() + 1, answer.end()));
}

}  // namespace
