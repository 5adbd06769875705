#include <gtest/gtest.h>

#include "recording_device.h"
#include "test_channel.h"

using testing_support::Bytes;
using testing_support::Event;
using testing_support::RecordingDevice;
using testing_support::ReportOf;

TEST(ReportSequence, GetLinesAnnounceIsExact) {
  std::vector<Event> log;
  auto device = std::make_unique<RecordingDevice>(&log);
  device->QueueAnswer(ReportOf({0, 1, 2, 3}));
  testing_support::TestChannel channel;
  channel.Attach(std::move(device));
  std::uint8_t record[64];
  channel.ReadLineState(record);
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].kind, Event::kDiscard);  // what arrived before the command is not its answer
  EXPECT_EQ(log[1].report, ReportOf({0x00, 0xAA, 0x55, 0x24}));
  EXPECT_EQ(record[0], 1);
  EXPECT_EQ(record[2], 3);
}
