// Fixture: a channel whose device records every report and answers from a script.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "recording_device.h"
#include "report_text.h"
#include "test_channel.h"
#include "tests/support/byte_pattern.h"

namespace testing_support {

// A 65-byte report: byte 0 is 0, `payload` from byte 1 on, the rest 0.
inline Bytes ReportWithPayload(const std::uint8_t* payload, std::size_t n) {
  Bytes report(platform::kReportSize, 0);
  for (std::size_t i = 0; i < n; ++i) report[1 + i] = payload[i];
  return report;
}

class RecordedChannel : public ::testing::Test {
 protected:
  RecordedChannel() {
    auto device = std::make_unique<RecordingDevice>(&log_);
    device_ = device.get();
    channel_.Attach(std::move(device));
  }

  std::vector<std::string> Log() const { return Describe(log_); }

  std::vector<Event> log_;  // outlives the device, which the channel owns
  RecordingDevice* device_ = nullptr;
  TestChannel channel_;
};

}  // namespace testing_support
