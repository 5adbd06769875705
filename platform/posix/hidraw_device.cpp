#include "platform/posix/hidraw_device.h"

#include <poll.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/posix/sysfs_identity.h"
#include "platform/posix/utf16_text.h"

namespace platform::posix {

namespace {

using Clock = std::chrono::steady_clock;

// The kernel queues at most 64 input reports per open hidraw node.
constexpr int kMaxDiscardedReports = 256;

// Waits until `fd` is ready for `events` or `deadline` passes. Returns 1 when ready, 0 on
// timeout, -1 when the node reports an error or hang-up.
int WaitReady(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd entry{fd, events, 0};
    const int ready = ::poll(&entry, 1, left > 0 ? static_cast<int>(left) : 0);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return -1;
    if (ready == 0) return 0;
    if (entry.revents & events) return 1;
    return -1;  // POLLERR, POLLHUP or POLLNVAL without data
  }
}

}  // namespace

HidrawDevice::HidrawDevice(int fd, std::string sysfs_root, std::string class_entry,
                           unsigned write_timeout_ms)
    : fd_(fd),
      write_timeout_ms_(write_timeout_ms),
      sysfs_root_(std::move(sysfs_root)),
      class_entry_(std::move(class_entry)) {}

HidrawDevice::~HidrawDevice() {
  ::close(fd_);
}

std::string HidrawDevice::CrossProcessKey() const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return std::string();
  if (S_ISCHR(st.st_mode)) {
    return "hidraw:c" + std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
  }
  return "hidraw:i" + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

bool HidrawDevice::WriteReport(const std::uint8_t (&report)[kReportSize]) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(write_timeout_ms_);
  for (;;) {
    // Ask before writing: a hidraw write blocks in the driver whatever O_NONBLOCK says, so
    // waiting for EAGAIN would never bound it.
    if (WaitReady(fd_, POLLOUT, deadline) != 1) return false;
    const ssize_t written = ::write(fd_, report, kReportSize);
    if (written >= 0) {
      // A write the driver held past the bound (its own limit for a stalled USB transfer is
      // longer) counts as failed, so the command ends instead of paying that for every report.
      return written == static_cast<ssize_t>(kReportSize) && Clock::now() <= deadline;
    }
    if (errno != EINTR && errno != EAGAIN) return false;
  }
}

ReadResult HidrawDevice::ReadReport(std::uint8_t (&report)[kReportSize], unsigned timeout_ms) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  std::uint8_t incoming[kReportSize];
  for (;;) {
    const ssize_t got = ::read(fd_, incoming, sizeof incoming);
    if (got > 0) {
      const auto size = static_cast<std::size_t>(got);
      if (size == kReportSize) {
        std::memcpy(report, incoming, kReportSize);  // a numbered report: its ID is byte 0
      } else {
        std::memset(report, 0, kReportSize);
        std::memcpy(report + 1, incoming, size);
      }
      return ReadResult::kOk;
    }
    if (got == 0) return ReadResult::kFailed;
    if (errno == EINTR) continue;
    if (errno != EAGAIN) return ReadResult::kFailed;
    const int ready = WaitReady(fd_, POLLIN, deadline);
    if (ready == 0) return ReadResult::kTimedOut;
    if (ready < 0) return ReadResult::kFailed;
  }
}

std::size_t HidrawDevice::DiscardPendingInput() {
  // Bounded, so a device that streams input reports without pause cannot hold us here.
  std::uint8_t sink[kReportSize];
  std::size_t dropped = 0;
  for (int reads = 0; reads < kMaxDiscardedReports; ++reads) {
    const ssize_t got = ::read(fd_, sink, sizeof sink);
    if (got > 0) ++dropped;
    if (got > 0 || (got < 0 && errno == EINTR)) continue;
    break;  // EAGAIN: the queue is empty; 0 or another error: nothing more will come
  }
  return dropped;
}

bool HidrawDevice::GetAttributes(HidAttributes* attributes) {
  SysfsIdentity identity;
  if (!ReadSysfsIdentity(sysfs_root_, class_entry_, &identity)) return false;
  attributes->vendor_id = identity.vendor_id;
  attributes->product_id = identity.product_id;
  attributes->version = identity.version;
  return true;
}

bool HidrawDevice::GetManufacturerString(char16_t* buffer, std::size_t bytes) {
  SysfsIdentity identity;
  return ReadSysfsIdentity(sysfs_root_, class_entry_, &identity) && identity.has_manufacturer &&
         Utf8ToUtf16(identity.manufacturer, buffer, bytes);
}

bool HidrawDevice::GetProductString(char16_t* buffer, std::size_t bytes) {
  SysfsIdentity identity;
  return ReadSysfsIdentity(sysfs_root_, class_entry_, &identity) && identity.has_product &&
         Utf8ToUtf16(identity.product, buffer, bytes);
}

}  // namespace platform::posix
