#include <gtest/gtest.h>

#include "channel_fixtures.h"

using testing_support::Event;
using testing_support::RecordedChannel;
using testing_support::ReportOf;

class ReportSequence : public RecordedChannel {};

TEST_F(ReportSequence, GetLinesAnnounceIsExact) {
  device_->QueueAnswer(ReportOf({0, 1, 2, 3}));
  std::uint8_t record[64];
  channel_.ReadLineState(record);
  ASSERT_EQ(log_.size(), 3u);
  EXPECT_EQ(log_[0].kind, Event::kDiscard);  // what arrived before the command is not its answer
  EXPECT_EQ(log_[1].report, ReportOf({0x00, 0xAA, 0x55, 0x24}));
  EXPECT_EQ(record[0], 1);
  EXPECT_EQ(record[2], 3);
}
