// A board link whose device the caller puts in place directly, bypassing discovery. `path`
// names the board, as an opened one is named: links given the same path (or a device with the
// same cross-process key) take turns on it.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "board/usb_channel.h"

namespace testing_support {

class TestChannel : public CUSBChannel {
 public:
  void Attach(std::unique_ptr<platform::HidDevice> device, const std::string& path = {}) {
    platform::CsLock lock(m_csExchange);
    ReplaceDevice(std::move(device), path);
  }
};

}  // namespace testing_support
