// An in-process HID system: any number of simulated devices that can be plugged and unplugged
// at any time, enumerated and opened like real HID interfaces.
//
// Semantics that tests and the emulated builds rely on:
// - Enumeration lists the plugged devices in the order they were added; an enumeration is a
//   snapshot (like a SetupAPI device information set).
// - Every Open() gives a new handle with its own input queue, fed with the device's input
//   reports from the moment it is opened (a real HID driver gives each open handle its own copy).
// - Unplugging a device fails all its open handles for good: every write and read on them fails
//   at once (a blocked read wakes up and fails), also after the device is plugged in again; only
//   a new Open() reaches the device again.
// - A device added without a simulated side (a foreign HID device) accepts writes and never
//   sends a report.
// - No thread is started: a delayed input report becomes readable when a read looks at the
//   clock after its delivery time.
// - Time is real by default. On a simulated time base every wait returns at once with the clock
//   moved on to the moment the wait would have ended, so long timeouts cost nothing; that base
//   is for a single thread driving the system.
// Thread-safe throughout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/emulated/simulated_device.h"
#include "platform/hid_backend.h"

namespace platform {

struct EmulatedDeviceDescription {
  std::string path;
  std::uint16_t vendor_id = 0;
  std::uint16_t product_id = 0;
  std::uint16_t version = 0x0100;
  std::u16string manufacturer;
  std::u16string product;
  // The serial number string and the USB port location (e.g. "1-2.3"), empty when none.
  std::u16string serial;
  std::string location;
  // Failure switches: each makes the corresponding query of discovery fail for this device.
  bool detail_fails = false;  // the enumeration reports the interface as unreadable
  bool open_fails = false;
  bool attributes_fail = false;
  bool manufacturer_fails = false;
  bool product_fails = false;
  // The words the system gives for a refused open.
  std::string open_failure = "Permission denied";
};

enum class TimeBase { kReal, kSimulated };

// One input report a handle read: which handle (numbered from 1 in the order opened, across
// the system), the tag the simulated device gave it, and how long after it was produced it
// became readable (its own delay, or longer behind an earlier report).
struct TakenReport {
  std::uint64_t handle = 0;
  std::uint64_t tag = 0;
  unsigned late_ms = 0;
};

class EmulatedHidSystem : public HidBackend {
 public:
  using DeviceId = unsigned;

  explicit EmulatedHidSystem(TimeBase base = TimeBase::kReal);
  ~EmulatedHidSystem() override;
  EmulatedHidSystem(const EmulatedHidSystem&) = delete;
  EmulatedHidSystem& operator=(const EmulatedHidSystem&) = delete;

  // Adds a device, plugged in. `device` may be nullptr for a foreign device that never answers.
  DeviceId AddDevice(const EmulatedDeviceDescription& description,
                     std::shared_ptr<SimulatedDevice> device = nullptr);

  // Plugging a plugged device or unplugging an unplugged one does nothing. Plug() tells the
  // simulated side (OnPlugged) when the device was unplugged before. Unknown ids are ignored.
  void Plug(DeviceId id);
  void Unplug(DeviceId id);
  bool IsPlugged(DeviceId id) const;

  // Open handles, in total and of one device; a destroyed handle no longer counts (also a
  // failed one).
  std::size_t OpenHandleCount() const;
  std::size_t OpenHandleCount(DeviceId id) const;
  // The most handles open at the same time since creation or the last reset, which starts the
  // count again from the handles open at that moment.
  std::size_t PeakOpenHandleCount() const;
  void ResetPeakOpenHandleCount();

  // Manufacturer and product string queries made on any handle of `id`, failed ones included.
  std::size_t ManufacturerQueryCount(DeviceId id) const;
  std::size_t ProductQueryCount(DeviceId id) const;

  // Input reports produced for the open handles of `id` whose delivery time has not come yet.
  std::size_t ScheduledInputCount(DeviceId id) const;
  // Waits until ScheduledInputCount(id) is 0 or `timeout_ms` has passed; true when it is 0.
  bool WaitUntilDelivered(DeviceId id, unsigned timeout_ms) const;

  // Every input report read from a handle of `id` while recording was on, in the order read.
  // Recording is off from creation: a system that runs for hours (the emulated builds) keeps
  // no record of what it delivered. Switching it off forgets what was recorded.
  void RecordTakenReports(bool on);
  std::vector<TakenReport> TakenReports(DeviceId id) const;
  // The number the next handle opened will get.
  std::uint64_t NextHandleNumber() const;

  // With true, every write to an open handle of `id` fails (a stalled or broken device).
  void SetWritesFail(DeviceId id, bool fail);

  // The system's clock (the time base of its handles), and on a simulated base: move it on.
  HidDevice::TimePoint Now() const;
  void AdvanceClock(unsigned ms);

  // HidBackend.
  std::unique_ptr<HidEnumeration> Enumerate() override;
  std::unique_ptr<HidDevice> Open(const std::string& path) override;
  std::unique_ptr<HidDevice> OpenExplained(const std::string& path, std::string* reason) override;
  bool PeekIds(const std::string& path, HidAttributes* ids) override;
  // What SetupFailure() tells (the emulated builds: a model or state file that was refused).
  void SetSetupFailure(const std::string& why);
  std::string SetupFailure() const override;
  // The description's serial (units above 255 become '?') and location.
  bool PeekPlacement(const std::string& path, std::string* serial, std::string* location) override;
  // kYes while any handle of the plugged device at `path` is open (every user of this system
  // is another program to whoever asks), kCannotTell for a path no plugged device has.
  InUse InUseElsewhere(const std::string& path) override;

  struct State;  // shared with the handles, which may outlive the system

 private:
  std::shared_ptr<State> state_;
};

}  // namespace platform
