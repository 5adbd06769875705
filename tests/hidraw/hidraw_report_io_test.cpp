// Report I/O of the hidraw back end. A FIFO stands in for /dev/hidrawN when the device is opened
// through the back end; a SOCK_SEQPACKET pair keeps report boundaries the way hidraw does, for
// the report-ID handling.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fake_sysfs.h"
#include "platform/posix/hidraw_backend.h"
#include "platform/posix/hidraw_device.h"

namespace {

using platform::kReportSize;
using platform::ReadResult;

class HidrawFifo : public ::testing::Test {
 protected:
  void SetUp() override {
    m_tree.AddUsbNode({0, "04b4", "e006", {}, {}, {}}, /*fifo=*/true);
    platform::posix::HidrawBackend backend(m_tree.SysRoot(), m_tree.DevRoot());
    m_device = backend.Open(m_tree.DevPath(0));
    ASSERT_NE(m_device, nullptr);
    m_board = ::open(m_tree.DevPath(0).c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(m_board, 0);
  }
  void TearDown() override {
    if (m_board >= 0) ::close(m_board);
  }

  hidraw_test::FakeSysfs m_tree;
  std::unique_ptr<platform::HidDevice> m_device;
  int m_board = -1;
};

// Two names of one node give one key (processes share the node, whatever name they opened it
// by); a character device is told by its device number.
TEST_F(HidrawFifo, TheCrossProcessKeyNamesTheNodeNotThePath) {
  const std::string alias = m_tree.DevRoot() + "/alias";
  ASSERT_EQ(::symlink(m_tree.DevPath(0).c_str(), alias.c_str()), 0);
  platform::posix::HidrawBackend backend(m_tree.SysRoot(), m_tree.DevRoot());
  const std::unique_ptr<platform::HidDevice> again = backend.Open(alias);
  ::unlink(alias.c_str());
  ASSERT_NE(again, nullptr);
  EXPECT_NE(m_device->CrossProcessKey(), "");
  EXPECT_EQ(again->CrossProcessKey(), m_device->CrossProcessKey());
  platform::posix::HidrawDevice null(::open("/dev/null", O_RDWR | O_CLOEXEC), "/nonexistent",
                                     "/nonexistent/hidraw0");
  EXPECT_EQ(null.CrossProcessKey(), "hidraw:c1:3");
}

TEST_F(HidrawFifo, ReadWaitsForItsBoundAndLeavesTheBufferAlone) {
  std::uint8_t report[kReportSize];
  std::memset(report, 0xEE, sizeof report);
  EXPECT_EQ(m_device->ReadReport(report, 30), ReadResult::kTimedOut);
  EXPECT_EQ(m_device->ReadReport(report, 0), ReadResult::kTimedOut);
  for (std::uint8_t b : report) ASSERT_EQ(b, 0xEE);
}

TEST_F(HidrawFifo, UnnumberedAnswerGetsReportIdZeroInFront) {
  std::uint8_t payload[kReportSize - 1];
  for (std::size_t i = 0; i < sizeof payload; ++i) payload[i] = static_cast<std::uint8_t>(i + 1);
  ASSERT_EQ(::write(m_board, payload, sizeof payload), static_cast<ssize_t>(sizeof payload));
  std::uint8_t report[kReportSize];
  ASSERT_EQ(m_device->ReadReport(report, 1000), ReadResult::kOk);
  EXPECT_EQ(report[0], 0);
  EXPECT_EQ(std::memcmp(report + 1, payload, sizeof payload), 0);
}

TEST_F(HidrawFifo, WriteHandsTheWholeReportWithItsIdByteToTheNode) {
  std::uint8_t report[kReportSize] = {0x00, 0xAA, 0x55, 0x1C};
  report[64] = 0x42;
  ASSERT_TRUE(m_device->WriteReport(report));
  std::uint8_t seen[kReportSize + 1] = {};
  ASSERT_EQ(::read(m_board, seen, sizeof seen), static_cast<ssize_t>(kReportSize));
  EXPECT_EQ(std::memcmp(seen, report, kReportSize), 0);
}

class HidrawPacket : public ::testing::Test {
 protected:
  void SetUp() override {
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair), 0);
    m_device = std::make_unique<platform::posix::HidrawDevice>(pair[0], "/nonexistent",
                                                               "/nonexistent/hidraw0");
    m_board = pair[1];
  }
  void TearDown() override {
    if (m_board >= 0) ::close(m_board);
  }
  void BoardSends(const std::vector<std::uint8_t>& bytes) {
    ASSERT_EQ(::send(m_board, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
  }

  std::unique_ptr<platform::posix::HidrawDevice> m_device;
  int m_board = -1;
};

TEST_F(HidrawPacket, ReportLayoutByLengthOfWhatTheNodeReturns) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> sent;
    std::vector<std::uint8_t> head;  // expected first bytes; the rest must be 0
  };
  std::vector<std::uint8_t> numbered(kReportSize, 0x11);
  numbered[0] = 0x05;
  const Case cases[] = {
      {"numbered report keeps its ID", numbered, numbered},
      {"one byte", {0x7F}, {0x00, 0x7F}},
      {"short report", {0xA1, 0xA2, 0xA3}, {0x00, 0xA1, 0xA2, 0xA3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BoardSends(c.sent);
    std::uint8_t report[kReportSize];
    std::memset(report, 0xEE, sizeof report);
    ASSERT_EQ(m_device->ReadReport(report, 1000), ReadResult::kOk);
    for (std::size_t i = 0; i < kReportSize; ++i) {
      ASSERT_EQ(report[i], i < c.head.size() ? c.head[i] : 0) << "byte " << i;
    }
  }
}

TEST_F(HidrawPacket, DiscardDropsEveryWaitingReportAndNoLaterOne) {
  for (std::uint8_t tag = 1; tag <= 3; ++tag) BoardSends(std::vector<std::uint8_t>(64, tag));
  m_device->DiscardPendingInput();
  std::uint8_t report[kReportSize];
  EXPECT_EQ(m_device->ReadReport(report, 0), ReadResult::kTimedOut);
  BoardSends(std::vector<std::uint8_t>(64, 9));
  ASSERT_EQ(m_device->ReadReport(report, 1000), ReadResult::kOk);
  EXPECT_EQ(report[1], 9);
}

// A node that takes no report: the write gives up at its bound instead of blocking in write(),
// even on a blocking descriptor (a hidraw write blocks in the driver whatever the flags say).
TEST(HidrawWrite, ANodeThatTakesNothingFailsAtTheBound) {
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair), 0);
  const int sndbuf = 4096;
  ASSERT_EQ(::setsockopt(pair[0], SOL_SOCKET, SO_SNDBUF, &sndbuf, sizeof sndbuf), 0);
  platform::posix::HidrawDevice device(pair[0], "/nonexistent", "/nonexistent/hidraw0", 50);
  std::uint8_t report[kReportSize] = {};
  int written = 0;
  while (device.WriteReport(report) && written < 100000) ++written;
  EXPECT_GT(written, 0);
  EXPECT_LT(written, 100000);
  EXPECT_FALSE(device.WriteReport(report));
  ::close(pair[1]);
}

TEST_F(HidrawPacket, GoneNodeFailsAtOnceAndHasNoIdentity) {
  ::close(m_board);
  m_board = -1;
  std::uint8_t report[kReportSize];
  EXPECT_EQ(m_device->ReadReport(report, 5000), ReadResult::kFailed);
  platform::HidAttributes attributes;
  EXPECT_FALSE(m_device->GetAttributes(&attributes));
}

}  // namespace
