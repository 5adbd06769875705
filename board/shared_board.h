// What every board link in the process that has the same board open shares. Every open handle
// of a HID device receives every input report, so two links on one board would otherwise read
// each other's answers: their commands must take turns, and an answer that one link gave up on
// must be dropped by whichever link sends the next command.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

#include "platform/hid_device.h"

namespace board {

struct SharedBoard {
  // Held by every command from its announce report to its last answer (re-entrant, as a line
  // setter holds it across its read and its write-back). Taken after the link's own locks.
  std::recursive_mutex exchange;
  // A command gave up waiting for answers that the board may still send: the next command on
  // the board drops everything that arrives until `owed_until` (on the device's time base).
  bool owing = false;
  platform::HidDevice::TimePoint owed_until{};
  // The device path the board is filed under (empty for one of its own).
  std::string path;
};

// The shared state of the board opened by `path`: links that opened the same path get the same
// object while any of them holds it. An empty path gives an object of its own. The process keeps
// nothing of a board once no link holds it.
std::shared_ptr<SharedBoard> SharedBoardFor(const std::string& path);

}  // namespace board
