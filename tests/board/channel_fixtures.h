// Fixtures: a board link with the test's device in place. StrictChannel's device is the strict
// board; RecordedChannel's records every report and answers from the test's script.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "fake_board.h"
#include "recording_device.h"
#include "tests/support/test_channel.h"

namespace testing_support {

class StrictChannel : public ::testing::Test {
 protected:
  StrictChannel() {
    auto device = std::make_unique<FakeBoard>();
    board_ = device.get();
    channel_.Attach(std::move(device));
  }

  FakeBoard* board_ = nullptr;  // owned by the channel
  TestChannel channel_;
};

class RecordedChannel : public ::testing::Test {
 protected:
  RecordedChannel() {
    auto device = std::make_unique<RecordingDevice>(&log_);
    device_ = device.get();
    channel_.Attach(std::move(device));
  }

  std::vector<std::string> Log() const { return Describe(log_); }

  std::vector<Event> log_;  // outlives the device, which the channel owns
  RecordingDevice* device_ = nullptr;
  TestChannel channel_;
};

}  // namespace testing_support
