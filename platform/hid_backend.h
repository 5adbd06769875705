// The narrow HID back end that board discovery runs over: enumerate the present HID interfaces
// by index, tell an interface's path, open it. Queries on an opened device are on HidDevice.
//
// Back ends: Win32 (SetupAPI + HidD_*), Linux hidraw, and the emulated HID system.
#pragma once

#include <memory>
#include <string>

#include "platform/hid_device.h"

namespace platform {

// Whether a program other than this one has an interface open.
enum class InUse {
  kCannotTell,  // the system does not say (or not to this process)
  kNo,
  kYes,
};

enum class InterfaceStatus {
  kFound,       // *path holds the interface's device path
  kUnreadable,  // the interface exists but its detail could not be read: skip it
  kEnd,         // `index` is past the last interface
};

// One pass over the present HID interfaces (a SetupAPI device information set on Windows).
// Destroying it releases the set.
class HidEnumeration {
 public:
  virtual ~HidEnumeration() = default;
  virtual InterfaceStatus InterfacePath(unsigned index, std::string* path) = 0;
};

class HidBackend {
 public:
  virtual ~HidBackend() = default;
  // Starts an enumeration; nullptr when the system gives no device information set.
  virtual std::unique_ptr<HidEnumeration> Enumerate() = 0;
  // Opens a device path for reading and writing; nullptr when the open fails.
  virtual std::unique_ptr<HidDevice> Open(const std::string& path) = 0;

  // Open() that also tells why it failed, in the system's words (errno or GetLastError text)
  // where there are such words.
  virtual std::unique_ptr<HidDevice> OpenExplained(const std::string& path, std::string* reason);

  // The vendor and product ID of an interface, found without opening it (so also for a device
  // that cannot be opened); false when they cannot be told (the default).
  virtual bool PeekIds(const std::string& path, HidAttributes* ids);

  // Where an interface is: its serial number string and its USB port location (e.g. "1-2.3"),
  // found without opening it; false when the back end cannot tell (the default).
  virtual bool PeekPlacement(const std::string& path, std::string* serial, std::string* location);

  // Whether another program has the interface open, found without opening it for use (a probe
  // may open and close it at once); kCannotTell when the back end cannot tell (the default).
  virtual InUse InUseElsewhere(const std::string& path);

  // Why this back end could not be set up as asked (e.g. a bad emulated board model), in one
  // line; empty when it was (the default).
  virtual std::string SetupFailure() const;
};

// The build's own back end (Win32, hidraw, or the emulated HID system in the emulated builds),
// defined by exactly one of the back-end libraries linked into a program. A board link opens
// through whatever back end its builder hands it; link/board_link.h's DefaultBoardOpener() is
// the one over this.
HidBackend& DefaultHidBackend();

}  // namespace platform
