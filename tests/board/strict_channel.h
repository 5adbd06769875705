// Fixture: a channel whose device is the strict board.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "fake_board.h"
#include "test_channel.h"

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

}  // namespace testing_support
