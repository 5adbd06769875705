// A CUSBChannel whose device the test puts in place directly, bypassing discovery.
#pragma once

#include <memory>
#include <utility>

#include "board/usb_channel.h"

namespace testing_support {

class TestChannel : public CUSBChannel {
 public:
  void Attach(std::unique_ptr<platform::HidDevice> device) {
    platform::CsLock lock(m_csExchange);
    ReplaceDevice(std::move(device));
  }
};

}  // namespace testing_support
