// One opened HID device, as the board link sees it: 65-byte reports out and in.
//
// Every back end (Win32 file handle, Linux hidraw, the emulated HID system) implements this
// interface. Destroying the object closes the device: that is the only way a handle is closed.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// Report ID byte plus 64 payload bytes; the board uses report ID 0 only.
inline constexpr std::size_t kReportSize = 65;

// How long every back end's report write may wait for the device to take it.
inline constexpr unsigned kWriteTimeoutMs = 1000;

enum class ReadResult {
  kOk,        // a whole input report was stored
  kFailed,    // the read failed at once (no device, device gone, I/O error)
  kTimedOut,  // no report arrived within the bound
};

struct HidAttributes {
  std::uint16_t vendor_id = 0;
  std::uint16_t product_id = 0;
  std::uint16_t version = 0;
};

class HidDevice {
 public:
  virtual ~HidDevice() = default;

  // Writes one output report, waiting a bounded time for the device to take it. Returns false
  // when the write failed or ran out of time; the board link then ends the command.
  virtual bool WriteReport(const std::uint8_t (&report)[kReportSize]) = 0;

  // Reads one input report into `report`, waiting at most `timeout_ms` milliseconds.
  // `report` is written only when the result is kOk. A timeout of 0 takes a report that is
  // already waiting and otherwise returns kTimedOut at once.
  virtual ReadResult ReadReport(std::uint8_t (&report)[kReportSize], unsigned timeout_ms) = 0;

  // Waits up to `timeout_ms` for one input report and drops it: kOk when one was dropped.
  virtual ReadResult SkipReport(unsigned timeout_ms) {
    std::uint8_t sink[kReportSize];
    return ReadReport(sink, timeout_ms);
  }

  // Drops every input report that has arrived and not yet been read. Never waits. Returns how
  // many it dropped, or kUncounted when the back end cannot tell (Win32's queue flush).
  static constexpr std::size_t kUncounted = static_cast<std::size_t>(-1);
  virtual std::size_t DiscardPendingInput() = 0;

  // The time base that this device's read timeouts run on. Real devices use the monotonic
  // clock; an emulated device may run on a simulated one, and whoever computes deadlines for
  // its reads must use the same base.
  using TimePoint = std::chrono::steady_clock::time_point;
  virtual TimePoint Now() const { return std::chrono::steady_clock::now(); }

  // The name under which every process that opens this same device takes turns with the others
  // (a real device: its device path or node; a board served to several processes: the server's
  // name and the board's path). Empty when no other process can reach the device (a board
  // emulated inside this process): the process's own turns are then enough.
  virtual std::string CrossProcessKey() const { return std::string(); }

  // Device queries made during discovery (HidD_GetAttributes, HidD_GetManufacturerString,
  // HidD_GetProductString). The strings are zero-terminated UTF-16 written into `buffer` of
  // `bytes` bytes (512 in discovery); false when the query fails.
  virtual bool GetAttributes(HidAttributes* attributes) = 0;
  virtual bool GetManufacturerString(char16_t* buffer, std::size_t bytes) = 0;
  virtual bool GetProductString(char16_t* buffer, std::size_t bytes) = 0;

 protected:
  HidDevice() = default;
  HidDevice(const HidDevice&) = delete;
  HidDevice& operator=(const HidDevice&) = delete;
};

}  // namespace platform
