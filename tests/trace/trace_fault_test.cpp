// Each way a command can go wrong shows in both formats as what it was; a trace whose file
// fails stops, and the commands go on exactly as without it.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "board/trace_pcapng.h"
#include "platform/pause.h"
#include "tests/board/fake_board.h"
#include "tests/board/recording_device.h"
#include "traced_link.h"

namespace {

using testing_support::Bytes;
using testing_support::RecordingDevice;
using testing_support::ReportOf;
using testing_support::TracedLink;

struct Fault {
  const char* name;
  bool board;  // false: no board open
  std::function<void(RecordingDevice&)> arrange;
  // Runs the commands; the last one is the one the fault shows in.
  std::function<void(CUSBChannel&, RecordingDevice*)> run;
  std::string verdict;
  std::string drained, owed;
  std::uint32_t usb_status;    // carried by one packet of the command; 0: every packet is 0
  std::string packet_comment;  // in that packet's comment (or the first one's)
  std::string i2c_comment;     // the I2C packet's; empty: the command put none on the bus
};

void ReadTwo(CUSBChannel& c) {
  std::uint8_t data[2];
  c.ReadI2CLongBytes(0x50, data, 2, true, true);
}

const Bytes kLines = ReportOf({0, 0, 0, 0, 0, 0, 0, 0, 0, 1});

std::vector<Fault> Faults() {
  using WhenEmpty = RecordingDevice::WhenEmpty;
  return {
      {"silent board", true, [](RecordingDevice& d) { d.SetWhenEmpty(WhenEmpty::kTimeOut); },
       [](CUSBChannel& c, RecordingDevice*) { ReadTwo(c); }, "read-timed-out", "0", "0",
       board::kUsbdStatusCanceled, "no answer within 200 ms", "no answer"},
      {"late answer, dropped in the owed-answer wait", true,
       [](RecordingDevice& d) { d.SetWhenEmpty(WhenEmpty::kTimeOut); },
       [](CUSBChannel& c, RecordingDevice* d) {
         std::uint8_t record[64];
         c.ReadLineState(record);  // times out: its answer is owed
         d->QueueAnswer(kLines);   // ... and arrives during the next command's wait
         d->QueueAnswerAfterWrites(kLines, 1);
         c.ReadLineState(record);
       },
       "answered", "0", "1", 0, "get-lines", ""},
      {"duplicated answer, dropped in the drain", true,
       [](RecordingDevice& d) {
         d.QueueArrivedAnswer(ReportOf({0, 0x50}));  // a second copy of an earlier answer
         d.QueueAnswerAfterWrites(ReportOf({0, 7, 8}), 2);
         d.QueueAnswerAfterWrites(ReportOf({0, 0x50}), 2);
       },
       [](CUSBChannel& c, RecordingDevice*) { ReadTwo(c); }, "answered", "1", "0", 0, "i2c-read",
       "status 0x50"},
      {"failed write", true, [](RecordingDevice& d) { d.FailWritesFrom(1); },
       [](CUSBChannel& c, RecordingDevice*) {
         const std::uint8_t data[2] = {1, 2};
         c.WriteI2CLongBytes(0x50, data, 2, true, true);
       },
       "write-failed", "0", "0", board::kUsbdStatusRequestFailed, "write failed", ""},
      {"no board open", false, nullptr, [](CUSBChannel& c, RecordingDevice*) { ReadTwo(c); },
       "no-board", "0", "0", board::kUsbdStatusDeviceGone, "no-board", ""},
  };
}

// Runs `fault` against a fresh link traced in `kind`; returns the finished trace.
std::string RunFault(const Fault& fault, board::TraceFileKind kind) {
  std::unique_ptr<RecordingDevice> device;
  RecordingDevice* raw = nullptr;
  static std::vector<testing_support::Event> unused;
  if (fault.board) {
    device = std::make_unique<RecordingDevice>(&unused);
    raw = device.get();
    if (fault.arrange) fault.arrange(*raw);
  }
  TracedLink link(std::move(device), kind);
  fault.run(link.channel, raw);
  return link.Finish();
}

class TraceFault : public ::testing::TestWithParam<Fault> {};

TEST_P(TraceFault, ShowsInTheTextTrace) {
  const Fault& fault = GetParam();
  const std::vector<std::string> lines =
      testing_support::Lines(RunFault(fault, board::TraceFileKind::kText));
  ASSERT_GE(lines.size(), 2u);
  auto fields = testing_support::TextFields(lines.back());
  EXPECT_EQ(fields["verdict"], fault.verdict) << lines.back();
  EXPECT_EQ(fields["drained"], fault.drained);
  EXPECT_EQ(fields["owed"], fault.owed);
  if (fault.verdict != "answered") {
    EXPECT_EQ(fields.count("status"), 0u) << lines.back();
  }
}

TEST_P(TraceFault, ShowsInThePcapngTrace) {
  const Fault& fault = GetParam();
  const testing_support::Pcapng file =
      testing_support::ReadPcapng(RunFault(fault, board::TraceFileKind::kPcapng));
  ASSERT_EQ(file.problem, "");
  // The last command's packets: from the last packet whose comment names a command.
  std::size_t first = 0;
  for (std::size_t i = 0; i < file.packets.size(); ++i) {
    const auto& p = file.packets[i];
    if (p.interface_id == 0 && p.comment.find(" drained=") != std::string::npos) first = i;
  }
  ASSERT_LT(first, file.packets.size());
  const std::string summary = file.packets[first].comment;
  EXPECT_NE(summary.find(" " + fault.verdict + " drained=" + fault.drained + " owed=" + fault.owed),
            std::string::npos)
      << summary;

  bool status_seen = fault.usb_status == 0;
  bool comment_seen = false;
  std::string i2c_comment;
  for (std::size_t i = first; i < file.packets.size(); ++i) {
    const auto& p = file.packets[i];
    if (p.interface_id == 1) {
      i2c_comment = p.comment;
      continue;
    }
    const std::uint32_t status = testing_support::ViewUsb(p).status;
    if (fault.usb_status == 0) {
      EXPECT_EQ(status, 0u) << "packet " << i;
    }
    if (status == fault.usb_status && status != 0) status_seen = true;
    if (p.comment.find(fault.packet_comment) != std::string::npos) comment_seen = true;
  }
  EXPECT_TRUE(status_seen) << "no packet with status " << std::hex << fault.usb_status;
  EXPECT_TRUE(comment_seen) << "no comment with '" << fault.packet_comment << "'";
  EXPECT_EQ(i2c_comment, fault.i2c_comment);
}

INSTANTIATE_TEST_SUITE_P(Faults, TraceFault, ::testing::ValuesIn(Faults()),
                         [](const ::testing::TestParamInfo<Fault>& param) {
                           std::string name;
                           for (const char* c = param.param.name; *c; ++c) {
                             if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
                           }
                           return name;
                         });

// ---- a trace whose file fails: the commands go on exactly as without it ----

struct Outcome {
  std::vector<testing_support::Crossed> crossed;
  std::vector<int> results;
  std::string file;
  bool stopped = false;
};

Outcome RunMixed(board::TraceFileKind kind, std::size_t capacity, std::size_t room_after) {
  TracedLink link(std::make_unique<testing_support::FakeBoard>(), kind, capacity, room_after);
  Outcome o;
  std::vector<std::uint8_t> big(65535), small(4, 0x11);
  platform::SetPauseSleeps(false);
  for (int round = 0; round < 3; ++round) {
    o.results.push_back(link.channel.WriteI2CLongBytes(0x21, small.data(), 4, true, true));
    o.results.push_back(link.channel.ReadI2CLongBytes(0x52, big.data(), 65535, true, true));
    o.results.push_back(big[65534]);
    o.results.push_back(link.channel.SetI2CSpeed(1000));
  }
  platform::SetPauseSleeps(true);
  o.stopped = link.recorder && link.recorder->stopped();
  o.crossed = link.crossed;
  o.file = link.Finish();
  return o;
}

struct Disk {
  board::TraceFileKind kind;
  std::size_t room;        // the disk fills up after this many bytes ...
  std::size_t room_after;  // ... and then has this much more
};

class FullDisk : public ::testing::TestWithParam<Disk> {};

TEST_P(FullDisk, StopsTheTraceAndChangesNoReportOrResult) {
  const Disk disk = GetParam();
  const Outcome untraced = RunMixed(board::TraceFileKind::kRefused, 0, 0);
  const Outcome traced = RunMixed(disk.kind, disk.room, disk.room_after);
  EXPECT_TRUE(traced.stopped);
  EXPECT_EQ(traced.results, untraced.results);
  EXPECT_TRUE(traced.crossed == untraced.crossed);
  EXPECT_LE(traced.file.size(), disk.room + disk.room_after);
  const bool noted = disk.room_after > 0;
  if (disk.kind == board::TraceFileKind::kText) {
    const auto lines = testing_support::Lines(traced.file);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(traced.file.back(), '\n');  // whole lines only
    EXPECT_EQ(testing_support::TextFields(lines[1])["name"], "i2c-write");
    EXPECT_EQ(lines.back().find("trace stopped") != std::string::npos, noted) << lines.back();
  } else {
    const testing_support::Pcapng file = testing_support::ReadPcapng(traced.file);
    EXPECT_EQ(file.problem, "");  // whole blocks only: readers open it
    ASSERT_EQ(file.section_comments.size(), noted ? 2u : 1u);
    if (noted) {
      EXPECT_NE(file.section_comments.back().find("trace stopped"), std::string::npos);
    }
  }
}

// Text: the first lines fit; pcapng: the header and the first write fit, the 64 KiB read not.
INSTANTIATE_TEST_SUITE_P(Disks, FullDisk,
                         ::testing::Values(Disk{board::TraceFileKind::kText, 400, 0},
                                           Disk{board::TraceFileKind::kText, 400, 100},
                                           Disk{board::TraceFileKind::kPcapng, 4096, 0},
                                           Disk{board::TraceFileKind::kPcapng, 4096, 200}));

}  // namespace
