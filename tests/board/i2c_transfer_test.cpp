// I2C master commands, byte for byte: the clock (0x1C), read runs (0x1A), write runs (0x1B).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "channel_fixtures.h"

namespace {

using namespace testing_support;

class I2cSpeed : public RecordedChannel {};

TEST_F(I2cSpeed, SendsTheCodeOfTheRequestedClock) {
  struct Row {
    std::uint16_t khz;
    int code;
  };
  const Row rows[] = {{50, 0}, {400, 1}, {1000, 3}, {100, 0}, {0, 0}, {401, 0}, {65535, 0}};
  Expected expected;
  for (const Row& row : rows) {
    device_->QueueAnswer(ReportOf({0, 0}));
    channel_.SetI2CSpeed(row.khz);
    expected.Write({0x00, 0xAA, 0x55, 0x1C}).Write({0x00, row.code}).Read();
  }
  EXPECT_EQ(Log(), expected.lines());
}

TEST_F(I2cSpeed, ReturnsBitsTwoAndThreeOfTheAnswer) {
  struct Row {
    int answer;
    int result;
  };
  const Row rows[] = {{0x00, 0}, {0x04, 1}, {0x08, 2}, {0x0C, 3},
                      {0xF3, 0}, {0xFF, 3}, {0x07, 1}, {0xB8, 2}};
  for (const Row& row : rows) {
    device_->QueueAnswer(ReportOf({0, row.answer, 0xFF, 0xFF}));
    EXPECT_EQ(channel_.SetI2CSpeed(400), row.result) << "answer byte 1 = " << row.answer;
  }
}

// One transfer of the table: the parameter report, the number of data reports and what the last
// one carries.
struct Transfer {
  std::uint32_t count;
  bool start;
  bool stop;
  int slave;
  int count_high;
  int count_low;
  std::uint32_t data_reports;
  std::uint32_t last_payload;
};

const Transfer kTransfers[] = {
    {0, true, true, 0x50, 0x00, 0x00, 1, 0},         {63, true, false, 0x51, 0x00, 0x3F, 1, 63},
    {64, false, true, 0xA0, 0x00, 0x40, 2, 0},       {65, false, false, 0x7F, 0x00, 0x41, 2, 1},
    {128, true, true, 0x50, 0x00, 0x80, 3, 0},       {300, true, true, 0x00, 0x01, 0x2C, 5, 44},
    {65535, true, true, 0xFF, 0xFF, 0xFF, 1024, 63},
};

class I2cRead : public RecordedChannel, public ::testing::WithParamInterface<Transfer> {};

TEST_P(I2cRead, ReadsEveryDataReportThenTheStatusReport) {
  const Transfer& t = GetParam();
  const Bytes run = Pattern(t.count, 3);
  // Each data answer carries its piece of the run followed by filler that must not be copied.
  for (std::uint32_t k = 0; k < t.data_reports; ++k) {
    Bytes answer(platform::kReportSize, 0xE0 | (k & 0x0F));
    answer[0] = 0;
    for (std::uint32_t j = 0; j < 64 && 64 * k + j < t.count; ++j) answer[1 + j] = run[64 * k + j];
    device_->QueueAnswer(answer);
  }
  device_->QueueAnswer(ReportOf({0, 0x5A, 0x11}));

  const std::size_t guard = 70;
  std::vector<std::uint8_t> buffer(t.count + guard, 0xCC);
  const int status = channel_.ReadI2CLongBytes(static_cast<std::uint8_t>(t.slave), buffer.data(),
                                               t.count, t.start, t.stop);

  EXPECT_EQ(status, 0x5A);
  Expected expected;
  expected.Write({0x00, 0xAA, 0x55, 0x1A})
      .Write({0x00, t.slave, t.count_high, t.count_low, t.start ? 1 : 0, t.stop ? 1 : 0})
      .Read(static_cast<int>(t.data_reports))
      .Read();  // status report
  EXPECT_EQ(Log(), expected.lines());
  EXPECT_EQ(device_->pending_answers(), 0u);
  EXPECT_TRUE(std::equal(run.begin(), run.end(), buffer.begin())) << "run placement";
  EXPECT_TRUE(std::all_of(buffer.begin() + t.count, buffer.end(), [](auto b) { return b == 0xCC; }))
      << "bytes after the run were written";
}

class I2cWrite : public RecordedChannel, public ::testing::WithParamInterface<Transfer> {};

TEST_P(I2cWrite, SendsEveryDataReportThenReadsTheStatusReport) {
  const Transfer& t = GetParam();
  const Bytes run = Pattern(t.count, 11);
  device_->QueueAnswer(ReportOf({0, 0xA5, 0x33}));

  const int status = channel_.WriteI2CLongBytes(static_cast<std::uint8_t>(t.slave), run.data(),
                                                t.count, t.start, t.stop);

  EXPECT_EQ(status, 0xA5);
  Expected expected;
  expected.Write({0x00, 0xAA, 0x55, 0x1B})
      .Write({0x00, t.slave, t.count_high, t.count_low, t.start ? 1 : 0, t.stop ? 1 : 0});
  for (std::uint32_t k = 0; k < t.data_reports; ++k) {
    const std::uint32_t n = k + 1 == t.data_reports ? t.last_payload : 64;
    expected.Write(ReportWithPayload(run.data() + 64 * k, n));
  }
  expected.Read();
  EXPECT_EQ(Log(), expected.lines());
  // The last data report carries nothing beyond its share of the run.
  ASSERT_GE(log_.size(), 3u);
  const Bytes& last = log_[log_.size() - 2].report;
  ASSERT_EQ(last.size(), platform::kReportSize);
  EXPECT_TRUE(
      std::all_of(last.begin() + 1 + t.last_payload, last.end(), [](auto b) { return b == 0; }));
}

std::string TransferName(const ::testing::TestParamInfo<Transfer>& row) {
  return "count" + std::to_string(row.param.count);
}

INSTANTIATE_TEST_SUITE_P(Counts, I2cRead, ::testing::ValuesIn(kTransfers), TransferName);
INSTANTIATE_TEST_SUITE_P(Counts, I2cWrite, ::testing::ValuesIn(kTransfers), TransferName);

class I2cCountRefused : public RecordedChannel,
                        public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(I2cCountRefused, NothingIsSentAndTheBufferIsUntouched) {
  std::uint8_t buffer[8];
  std::fill(std::begin(buffer), std::end(buffer), 0xCC);
  device_->QueueAnswer(ReportOf({0, 0x00}));
  EXPECT_EQ(channel_.ReadI2CLongBytes(0x50, buffer, GetParam(), true, true),
            CUSBHardWare::kCountRefused);
  EXPECT_EQ(channel_.WriteI2CLongBytes(0x50, buffer, GetParam(), true, true),
            CUSBHardWare::kCountRefused);
  EXPECT_TRUE(Log().empty()) << ::testing::PrintToString(Log());
  EXPECT_TRUE(std::all_of(std::begin(buffer), std::end(buffer), [](auto b) { return b == 0xCC; }));
  EXPECT_EQ(device_->pending_answers(), 1u);
}

INSTANTIATE_TEST_SUITE_P(AboveSixteenBits, I2cCountRefused,
                         ::testing::Values(65536u, 65600u, 100000u, 0xFFFFFFFFu));

// The status byte comes from the report after the last data report, not from a data report.
TEST_F(RecordedChannel, I2cReadStatusIsTakenFromTheStatusReport) {
  device_->QueueAnswer(ReportOf({0, 0x01, 0x02, 0x03}));
  device_->QueueAnswer(ReportOf({0, 0x00}));
  std::uint8_t data[3] = {};
  EXPECT_EQ(channel_.ReadI2CLongBytes(0x50, data, 3, true, true), 0x00);
  EXPECT_EQ(data[0], 0x01);
  EXPECT_EQ(data[2], 0x03);
}

TEST_F(RecordedChannel, I2cWriteOfThreeBytes) {
  const std::uint8_t abc[] = {0x41, 0x42, 0x43};
  device_->QueueAnswer(ReportOf({0, 0x07}));
  EXPECT_EQ(channel_.WriteI2CLongBytes(0x50, abc, 3, true, true), 0x07);
  EXPECT_EQ(Log(), Expected()
                       .Write({0x00, 0xAA, 0x55, 0x1B})
                       .Write({0x00, 0x50, 0x00, 0x03, 0x01, 0x01})
                       .Write({0x00, 0x41, 0x42, 0x43})
                       .Read()
                       .lines());
}

// A register read: the write without STOP, then the read with a repeated START and STOP, byte
// for byte; the read is made whatever the write's status, so that the bus ends with a STOP.
TEST_F(RecordedChannel, WriteReadSendsBothTransfersWithTheirStartAndStopFlags) {
  struct Row {
    int write_status;
    int read_status;
  };
  for (const Row& row : {Row{0x00, 0x00}, Row{0x01, 0x00}, Row{0x00, 0x02}}) {
    SCOPED_TRACE(row.write_status * 16 + row.read_status);
    log_.clear();
    const std::uint8_t reg[] = {0x05};
    std::uint8_t value[3] = {0xCC, 0xCC, 0xCC};
    device_->QueueAnswer(ReportOf({0, row.write_status, 0xEE}));
    device_->QueueAnswer(ReportOf({0, 0x12, 0x34, 0x56}));
    device_->QueueAnswer(ReportOf({0, row.read_status, 0xEE}));
    const CUSBHardWare::WriteReadResult r = channel_.WriteReadI2C(0x48, reg, 1, value, 2);
    EXPECT_EQ(r.write_status, row.write_status);
    EXPECT_EQ(r.read_status, row.read_status);
    EXPECT_TRUE(r.answered);
    EXPECT_EQ(Log(), Expected()
                         .Write({0x00, 0xAA, 0x55, 0x1B})
                         .Write({0x00, 0x48, 0x00, 0x01, 0x01, 0x00})
                         .Write({0x00, 0x05})
                         .Read()
                         .Write({0x00, 0xAA, 0x55, 0x1A})
                         .Write({0x00, 0x48, 0x00, 0x02, 0x01, 0x01})
                         .Read()
                         .Read()
                         .lines());
    EXPECT_EQ(value[0], 0x12);
    EXPECT_EQ(value[1], 0x34);
    EXPECT_EQ(value[2], 0xCC) << "a byte beyond the read count was written";
  }
}

TEST_F(RecordedChannel, WriteReadIsUnansweredWhenEitherTransferIs) {
  const std::uint8_t reg[] = {0x00};
  std::uint8_t value[1] = {};
  // The write's status only: the read times out.
  device_->QueueAnswer(ReportOf({0, 0x00}));
  EXPECT_FALSE(channel_.WriteReadI2C(0x48, reg, 1, value, 1).answered);
  // Writes that fail end each transfer before anything is logged.
  log_.clear();
  device_->FailWritesFrom(0);
  EXPECT_FALSE(channel_.WriteReadI2C(0x48, reg, 1, value, 1).answered);
  device_->FailWritesFrom(-1);
  EXPECT_TRUE(Log().empty()) << ::testing::PrintToString(Log());
  // Counts above 16 bits send nothing.
  for (std::uint32_t big : {65536u, 0xFFFFFFFFu}) {
    EXPECT_EQ(channel_.WriteReadI2C(0x48, reg, big, value, 1).write_status,
              CUSBHardWare::kCountRefused);
    EXPECT_EQ(channel_.WriteReadI2C(0x48, reg, 1, value, big).read_status,
              CUSBHardWare::kCountRefused);
  }
  EXPECT_TRUE(Log().empty()) << ::testing::PrintToString(Log());
}

}  // namespace
