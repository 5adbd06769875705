// EEPROM pages, byte for byte: write (0x22) and read (0x23), the clamp to 64 bytes, the 16-bit
// address, and where the write's pause falls.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "channel_fixtures.h"
#include "platform/pause.h"

namespace {

using namespace testing_support;

struct Page {
  std::int32_t addr;
  unsigned cnt;
  int addr_high;
  int addr_low;
  int sent_count;
};

const Page kPages[] = {
    {0x0120, 3, 0x01, 0x20, 3},    {0x0120, 100, 0x01, 0x20, 64}, {0x0120, 0, 0x01, 0x20, 0},
    {0x12345, 3, 0x23, 0x45, 3},   {0xFFFF, 64, 0xFF, 0xFF, 64},  {0x0000, 65, 0x00, 0x00, 64},
    {0x00FF, 255, 0x00, 0xFF, 64}, {-1, 1, 0xFF, 0xFF, 1},
};

// Records every pause the board link takes, with how many reports had been written by then.
struct PauseRecord {
  const std::vector<Event>* log = nullptr;
  std::vector<unsigned> ms;
  std::vector<std::size_t> events_before;
};

void RecordPause(unsigned ms, void* context) {
  auto* record = static_cast<PauseRecord*>(context);
  record->ms.push_back(ms);
  record->events_before.push_back(record->log->size());
}

class EepromWrite : public RecordedChannel, public ::testing::WithParamInterface<Page> {
 protected:
  void SetUp() override {
    pauses_.log = &log_;
    platform::SetPauseHook(&RecordPause, &pauses_);
  }
  void TearDown() override { platform::SetPauseHook(nullptr, nullptr); }
  PauseRecord pauses_;
};

TEST_P(EepromWrite, SendsAnnounceParametersAndOneDataReportThenPauses) {
  const Page& p = GetParam();
  const Bytes data = Pattern(std::max(p.cnt, 1u), 0x40);
  device_->QueueAnswer(ReportOf({0, 0x99}));  // must stay unread: the write expects no answer

  channel_.WriteEEPROMPage(p.addr, data.data(), static_cast<std::uint8_t>(p.cnt));

  EXPECT_EQ(Log(),
            Expected()
                .Write({0x00, 0xAA, 0x55, 0x22})
                .Write({0x00, p.addr_high, p.addr_low, p.sent_count})
                .Write(ReportWithPayload(data.data(), static_cast<std::size_t>(p.sent_count)))
                .lines());
  EXPECT_EQ(device_->pending_answers(), 1u);
  // One pause of 10 ms, after the data report.
  EXPECT_EQ(pauses_.ms, std::vector<unsigned>{10});
  EXPECT_EQ(pauses_.events_before, std::vector<std::size_t>{4});  // discard and three writes
}

std::string PageName(const ::testing::TestParamInfo<Page>& row) {
  const std::string addr = row.param.addr < 0 ? "minus" + std::to_string(-row.param.addr)
                                              : std::to_string(row.param.addr);
  return "addr" + addr + "_cnt" + std::to_string(row.param.cnt);
}

INSTANTIATE_TEST_SUITE_P(Pages, EepromWrite, ::testing::ValuesIn(kPages), PageName);

class EepromRead : public RecordedChannel, public ::testing::WithParamInterface<Page> {};

TEST_P(EepromRead, SendsAnnounceAndParametersThenCopiesOneAnswer) {
  const Page& p = GetParam();
  const Bytes page = Pattern(64, 0x21);
  device_->QueueAnswer(ReportWithPayload(page.data(), page.size()));

  const std::size_t room = 300;
  std::vector<std::uint8_t> buffer(room, 0xCC);
  channel_.ReadEEPROMPage(p.addr, buffer.data(), static_cast<std::uint8_t>(p.cnt));

  EXPECT_EQ(Log(), Expected()
                       .Write({0x00, 0xAA, 0x55, 0x23})
                       .Write({0x00, p.addr_high, p.addr_low, p.sent_count})
                       .Read()
                       .lines());
  const auto n = static_cast<std::size_t>(p.sent_count);
  EXPECT_TRUE(std::equal(page.begin(), page.begin() + n, buffer.begin()));
  EXPECT_TRUE(std::all_of(buffer.begin() + n, buffer.end(), [](auto b) { return b == 0xCC; }))
      << "more than " << n << " bytes copied";
}

INSTANTIATE_TEST_SUITE_P(Pages, EepromRead, ::testing::ValuesIn(kPages), PageName);

// A command that expects no answer leaves the next report to the next command.
TEST_F(RecordedChannel, EepromReadAfterWriteTakesTheNextReport) {
  const std::uint8_t abc[] = {1, 2, 3};
  device_->QueueAnswer(ReportOf({0, 0x61, 0x62, 0x63}));
  channel_.WriteEEPROMPage(0x0120, abc, 3);
  std::uint8_t back[3] = {};
  channel_.ReadEEPROMPage(0x0120, back, 3);
  EXPECT_EQ(back[0], 0x61);
  EXPECT_EQ(back[2], 0x63);
}

}  // namespace
