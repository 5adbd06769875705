// A device in front of another one: every call goes through to the device it wraps, so that a
// double overrides only the calls it changes (a stall, a log, a key) and keeps the rest of the
// real, emulated or recording device behind it. Header-only: the benchmarks use it too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "platform/hid_device.h"

namespace testing_support {

class ForwardingDevice : public platform::HidDevice {
 public:
  explicit ForwardingDevice(std::unique_ptr<platform::HidDevice> inner)
      : inner_(std::move(inner)) {}

  bool WriteReport(const std::uint8_t (&report)[platform::kReportSize]) override {
    return inner_->WriteReport(report);
  }
  platform::ReadResult ReadReport(std::uint8_t (&report)[platform::kReportSize],
                                  unsigned timeout_ms) override {
    return inner_->ReadReport(report, timeout_ms);
  }
  platform::ReadResult SkipReport(unsigned timeout_ms) override {
    return inner_->SkipReport(timeout_ms);
  }
  std::size_t DiscardPendingInput() override { return inner_->DiscardPendingInput(); }
  TimePoint Now() const override { return inner_->Now(); }
  std::string CrossProcessKey() const override { return inner_->CrossProcessKey(); }
  bool GetAttributes(platform::HidAttributes* attributes) override {
    return inner_->GetAttributes(attributes);
  }
  bool GetManufacturerString(char16_t* buffer, std::size_t bytes) override {
    return inner_->GetManufacturerString(buffer, bytes);
  }
  bool GetProductString(char16_t* buffer, std::size_t bytes) override {
    return inner_->GetProductString(buffer, bytes);
  }

 private:
  std::unique_ptr<platform::HidDevice> inner_;
};

// The device it wraps, reached by other processes under `key` (as a real device is under its
// path): links on it take the turn among processes.
class KeyedDevice : public ForwardingDevice {
 public:
  KeyedDevice(std::unique_ptr<platform::HidDevice> inner, std::string key)
      : ForwardingDevice(std::move(inner)), key_(std::move(key)) {}
  std::string CrossProcessKey() const override { return key_; }

 private:
  std::string key_;
};

}  // namespace testing_support
