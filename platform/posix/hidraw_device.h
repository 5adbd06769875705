// One opened hidraw node. Reports follow the hidraw conventions: a write carries the report
// number in its first byte (0 for a device without numbered reports, which the kernel strips);
// a read of such a device returns the report without that byte, so 0 is put back in front to
// keep the 65-byte layout the board link works with.
#pragma once

#include <string>

#include "platform/hid_device.h"

namespace platform::posix {

class HidrawDevice final : public HidDevice {
 public:
  // Takes ownership of `fd`. `class_entry` is the node's <sysfs>/class/hidraw/hidrawN
  // directory, where its identity is looked up. `write_timeout_ms` bounds each report write.
  HidrawDevice(int fd, std::string sysfs_root, std::string class_entry,
               unsigned write_timeout_ms = kWriteTimeoutMs);
  ~HidrawDevice() override;

  bool WriteReport(const std::uint8_t (&report)[kReportSize]) override;
  ReadResult ReadReport(std::uint8_t (&report)[kReportSize], unsigned timeout_ms) override;
  std::size_t DiscardPendingInput() override;
  bool GetAttributes(HidAttributes* attributes) override;
  bool GetManufacturerString(char16_t* buffer, std::size_t bytes) override;
  bool GetProductString(char16_t* buffer, std::size_t bytes) override;
  // The node's device number ("hidraw:c<major>:<minor>"), so that two names of one node agree;
  // for a file that is not a character device, its file system and inode.
  std::string CrossProcessKey() const override;

 private:
  int fd_;
  unsigned write_timeout_ms_;
  std::string sysfs_root_;
  std::string class_entry_;
};

}  // namespace platform::posix
