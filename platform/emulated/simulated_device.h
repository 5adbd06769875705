// The device side of an emulated HID device: what the board (or any other simulated gadget)
// sees of the host. The emulated HID system hands it every output report written to any open
// handle of the device, one at a time and in the order written, and delivers the input reports
// it produces to every handle that is open at that moment.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "platform/hid_device.h"

namespace platform {

// One input report from the device. It becomes readable `delay_ms` after it was produced, and
// never before an input report produced earlier (the device sends its reports in order).
struct InputReport {
  std::array<std::uint8_t, kReportSize> bytes{};
  unsigned delay_ms = 0;
  // What the report answers, in the device's own numbering (the emulated board: the number of
  // the command it answers); the system records it for every report a handle reads.
  std::uint64_t tag = 0;
};

class SimulatedDevice {
 public:
  virtual ~SimulatedDevice() = default;

  // Receives one 65-byte output report and appends the input reports it causes (possibly none)
  // to `answers`. Called with the emulated HID system's lock held: it must not call back into
  // the system.
  virtual void OnOutputReport(const std::uint8_t (&report)[kReportSize],
                              std::vector<InputReport>* answers) = 0;

  // The device has been plugged in again after an unplug (it lost power meanwhile).
  virtual void OnPlugged() {}
};

}  // namespace platform
