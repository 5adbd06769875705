// How the board link finds its board. The search among the HID devices lives above the board
// link (link/): whoever builds a link hands it an opener, so that the board link builds and
// links without the search.
#pragma once

#include <memory>
#include <string>

#include "platform/hid_device.h"

namespace board {

class BoardOpener {
 public:
  virtual ~BoardOpener() = default;
  // Opens the board `selector` names ("" or "first": the first board found; otherwise a
  // selector text the opener understands, such as "serial:TEXT"), with the device path it was
  // opened by in `*path`; nullptr when no board matches (`*path` is then left alone).
  virtual std::unique_ptr<platform::HidDevice> Open(const std::string& selector,
                                                    std::string* path) = 0;
};

}  // namespace board
