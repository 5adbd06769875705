// A board whose answers arrive after the read gave up: the next command must not take them.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "channel_fixtures.h"

namespace {

using testing_support::FakeBoard;

class LateBoard : public testing_support::StrictChannel {};

TEST_F(LateBoard, TheCommandAfterATimeoutGetsItsOwnAnswers) {
  std::vector<std::uint8_t> first(130), second(130);
  board_->DelayNextAnswers();
  channel_.ReadI2CLongBytes(0x50, first.data(), 130, true, true);

  EXPECT_EQ(channel_.ReadI2CLongBytes(0x51, second.data(), 130, true, true), 0x51);
  for (std::uint32_t j = 0; j < second.size(); ++j) {
    ASSERT_EQ(second[j], FakeBoard::SlaveByte(0x51, j)) << "byte " << j;
  }
  EXPECT_EQ(channel_.SetI2CSpeed(1000), 3);
  EXPECT_EQ(board_->Discards(), 3u);  // one at the start of every command
  EXPECT_EQ(board_->Problems(), std::vector<std::string>());
}

TEST_F(LateBoard, ALateLineRecordIsNotTakenForTheNextOne) {
  std::vector<std::uint8_t> record(64, 0);
  record[9] = 1;
  board_->SetLineRecord(record);
  std::uint8_t got[64];
  board_->DelayNextAnswers();
  channel_.ReadLineState(got);  // times out; the record arrives late
  channel_.SetPower(0);
  channel_.ReadLineState(got);
  EXPECT_EQ(got[9], 0);
  EXPECT_EQ(board_->Problems(), std::vector<std::string>());
}

}  // namespace
