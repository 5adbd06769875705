// The emulated HID system on its own: enumeration, handles, input queues, plugging, and the
// failure switches as discovery meets them.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "link/discovery.h"
#include "platform/emulated/emulated_hid_system.h"
#include "tests/support/device_description.h"

namespace {

using platform::EmulatedDeviceDescription;
using platform::EmulatedHidSystem;
using platform::InputReport;
using platform::kReportSize;
using platform::ReadResult;
using Report = std::uint8_t[kReportSize];

// Answers every output report with a copy of it whose byte 1 is incremented, `copies` times,
// each `delay_ms` late.
class EchoDevice : public platform::SimulatedDevice {
 public:
  explicit EchoDevice(unsigned copies = 1, unsigned delay_ms = 0)
      : copies_(copies), delay_ms_(delay_ms) {}
  void OnOutputReport(const std::uint8_t (&report)[kReportSize],
                      std::vector<InputReport>* answers) override {
    InputReport in;
    std::memcpy(in.bytes.data(), report, kReportSize);
    in.bytes[1] = static_cast<std::uint8_t>(in.bytes[1] + 1);
    in.delay_ms = delay_ms_;
    for (unsigned i = 0; i < copies_; ++i) answers->push_back(in);
  }
  void OnPlugged() override { ++plugged; }
  int plugged = 0;

 private:
  unsigned copies_;
  unsigned delay_ms_;
};

EmulatedDeviceDescription Describe(const std::string& path, std::uint16_t vid = 0x04B4,
                                   std::uint16_t pid = 0xE006) {
  return testing_support::DeviceDescription(path, vid, pid, u"Qelvantorix Ltd", u"KovalmiretteV4");
}

void Fill(Report& r, std::uint8_t b1) {
  std::memset(r, 0, kReportSize);
  r[1] = b1;
}

std::vector<std::string> Paths(EmulatedHidSystem& system) {
  std::vector<std::string> out;
  auto e = system.Enumerate();
  std::string path;
  for (unsigned i = 0;; ++i) {
    const platform::InterfaceStatus s = e->InterfacePath(i, &path);
    if (s == platform::InterfaceStatus::kEnd) break;
    out.push_back(s == platform::InterfaceStatus::kFound ? path : "<unreadable>");
  }
  return out;
}

TEST(EmulatedHidSystem, EnumeratesPluggedDevicesInInsertionOrder) {
  EmulatedHidSystem system;
  const auto a = system.AddDevice(Describe("a"));
  system.AddDevice(Describe("b"));
  EmulatedDeviceDescription c = Describe("c");
  c.detail_fails = true;
  system.AddDevice(c);
  EXPECT_EQ(Paths(system), (std::vector<std::string>{"a", "b", "<unreadable>"}));

  system.Unplug(a);
  EXPECT_EQ(Paths(system), (std::vector<std::string>{"b", "<unreadable>"}));
  EXPECT_EQ(system.Open("a"), nullptr);
  system.Plug(a);  // back in its place: order is insertion order, not plug order
  EXPECT_EQ(Paths(system), (std::vector<std::string>{"a", "b", "<unreadable>"}));
}

TEST(EmulatedHidSystem, EnumerationIsASnapshot) {
  EmulatedHidSystem system;
  const auto a = system.AddDevice(Describe("a"));
  auto e = system.Enumerate();
  system.Unplug(a);
  system.AddDevice(Describe("b"));
  std::string path;
  EXPECT_EQ(e->InterfacePath(0, &path), platform::InterfaceStatus::kFound);
  EXPECT_EQ(path, "a");
  EXPECT_EQ(e->InterfacePath(1, &path), platform::InterfaceStatus::kEnd);
}

TEST(EmulatedHidSystem, QueriesReportTheDescription) {
  EmulatedHidSystem system;
  EmulatedDeviceDescription d = Describe("x", 0x1234, 0xABCD);
  d.manufacturer = u"M\u0141aker";  // a unit of 256 or above survives up to the narrowing
  system.AddDevice(d);
  auto dev = system.Open("x");
  ASSERT_NE(dev, nullptr);
  platform::HidAttributes attributes;
  ASSERT_TRUE(dev->GetAttributes(&attributes));
  EXPECT_EQ(attributes.vendor_id, 0x1234);
  EXPECT_EQ(attributes.product_id, 0xABCD);
  char16_t buffer[256];
  ASSERT_TRUE(dev->GetManufacturerString(buffer, sizeof buffer));
  EXPECT_EQ(std::u16string(buffer), u"M\u0141aker");
  ASSERT_TRUE(dev->GetProductString(buffer, sizeof buffer));
  EXPECT_EQ(std::u16string(buffer), u"KovalmiretteV4");
  // A small buffer gets a cut, still terminated string.
  char16_t small[4];
  ASSERT_TRUE(dev->GetProductString(small, sizeof small));
  EXPECT_EQ(std::u16string(small), u"Kov");
}

// Each failure switch makes discovery skip the device the way the real system does.
TEST(EmulatedHidSystem, FailureSwitchesAsDiscoverySeesThem) {
  struct Case {
    const char* name;
    void (*apply)(EmulatedDeviceDescription*);
    int expected;
  };
  const Case cases[] = {
      {"none", [](EmulatedDeviceDescription*) {}, kFindFound},
      {"detail", [](EmulatedDeviceDescription* d) { d->detail_fails = true; }, kFindNotFound},
      {"open", [](EmulatedDeviceDescription* d) { d->open_fails = true; }, kFindNotFound},
      {"attributes", [](EmulatedDeviceDescription* d) { d->attributes_fail = true; },
       kFindNotFound},
      {"manufacturer", [](EmulatedDeviceDescription* d) { d->manufacturer_fails = true; },
       kFindStringFailed},
      {"product", [](EmulatedDeviceDescription* d) { d->product_fails = true; }, kFindStringFailed},
      {"wide char", [](EmulatedDeviceDescription* d) { d->product = u"Kovalmirette\u0156"; },
       kFindNotFound},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EmulatedHidSystem system;
    EmulatedDeviceDescription d = Describe("board");
    c.apply(&d);
    system.AddDevice(d);
    std::unique_ptr<platform::HidDevice> out;
    EXPECT_EQ(FindHidDevice(system, &out, 0x04B4, "Qelvantorix Ltd", 0xE006, "KovalmiretteV4"),
              c.expected);
    EXPECT_EQ(out != nullptr, c.expected == kFindFound);
    EXPECT_EQ(system.OpenHandleCount(), out != nullptr ? 1u : 0u);  // nothing else left open
  }
}

TEST(EmulatedHidSystem, CountsOpenHandlesPerDeviceAndTellsWhetherOneIsInUse) {
  EmulatedHidSystem system;
  const auto a = system.AddDevice(Describe("a"));
  const auto b = system.AddDevice(Describe("b"));
  auto h1 = system.Open("a");
  auto h2 = system.Open("a");
  auto h3 = system.Open("b");
  EXPECT_EQ(system.OpenHandleCount(), 3u);
  EXPECT_EQ(system.OpenHandleCount(a), 2u);
  EXPECT_EQ(system.OpenHandleCount(b), 1u);
  // In use elsewhere: while any handle of the plugged device is open.
  EXPECT_EQ(system.InUseElsewhere("a"), platform::InUse::kYes);
  h3.reset();
  EXPECT_EQ(system.InUseElsewhere("b"), platform::InUse::kNo);
  EXPECT_EQ(system.InUseElsewhere("c"), platform::InUse::kCannotTell);
  system.Unplug(a);  // failed handles stay open until closed
  EXPECT_EQ(system.OpenHandleCount(a), 2u);
  EXPECT_EQ(system.InUseElsewhere("a"), platform::InUse::kCannotTell);  // not there
  h1.reset();
  h2.reset();
  EXPECT_EQ(system.OpenHandleCount(a), 0u);
  EXPECT_EQ(system.OpenHandleCount(), 0u);
  system.Plug(a);
  EXPECT_EQ(system.InUseElsewhere("a"), platform::InUse::kNo);
}

TEST(EmulatedHidSystem, ForeignDeviceAcceptsWritesAndNeverAnswers) {
  EmulatedHidSystem system;
  system.AddDevice(Describe("foreign", 0x1111, 0x2222));
  auto h = system.Open("foreign");
  Report r;
  Fill(r, 7);
  EXPECT_TRUE(h->WriteReport(r));
  EXPECT_EQ(h->ReadReport(r, 20), ReadResult::kTimedOut);
  EXPECT_EQ(r[1], 7);  // untouched
}

TEST(EmulatedHidSystem, EveryOpenHandleGetsItsOwnCopy) {
  EmulatedHidSystem system;
  system.AddDevice(Describe("d"), std::make_shared<EchoDevice>());
  auto h1 = system.Open("d");
  auto h2 = system.Open("d");
  Report r;
  Fill(r, 10);
  ASSERT_TRUE(h1->WriteReport(r));
  auto late = system.Open("d");  // opened after the report was sent: gets nothing of it
  Report in;
  ASSERT_EQ(h1->ReadReport(in, 0), ReadResult::kOk);
  EXPECT_EQ(in[1], 11);
  ASSERT_EQ(h2->ReadReport(in, 0), ReadResult::kOk);
  EXPECT_EQ(in[1], 11);
  EXPECT_EQ(late->ReadReport(in, 0), ReadResult::kTimedOut);
  EXPECT_EQ(h1->ReadReport(in, 0), ReadResult::kTimedOut);
}

TEST(EmulatedHidSystem, DelayedReportsKeepTheirOrder) {
  EmulatedHidSystem system;
  auto slow = std::make_shared<EchoDevice>(1, 80);
  const auto id = system.AddDevice(Describe("d"), slow);
  auto h = system.Open("d");
  Report r;
  Fill(r, 1);
  h->WriteReport(r);
  Report in;
  EXPECT_EQ(h->ReadReport(in, 0), ReadResult::kTimedOut);  // not yet arrived
  EXPECT_EQ(system.ScheduledInputCount(id), 1u);
  h->DiscardPendingInput();  // drops only what has arrived: the late report survives
  ASSERT_EQ(h->ReadReport(in, 5000), ReadResult::kOk);
  EXPECT_EQ(in[1], 2);
  EXPECT_EQ(system.ScheduledInputCount(id), 0u);
}

TEST(EmulatedHidSystem, WaitUntilDeliveredThenDiscardEmptiesTheQueue) {
  EmulatedHidSystem system;
  const auto id = system.AddDevice(Describe("d"), std::make_shared<EchoDevice>(3, 30));
  auto h = system.Open("d");
  Report r;
  Fill(r, 1);
  h->WriteReport(r);
  EXPECT_TRUE(system.WaitUntilDelivered(id, 5000));
  h->DiscardPendingInput();
  Report in;
  EXPECT_EQ(h->ReadReport(in, 0), ReadResult::kTimedOut);
}

TEST(EmulatedHidSystem, UnpluggedHandleFailsForGoodAndNewOpenWorks) {
  EmulatedHidSystem system;
  auto echo = std::make_shared<EchoDevice>();
  const auto id = system.AddDevice(Describe("d"), echo);
  auto h = system.Open("d");
  Report r;
  Fill(r, 1);
  h->WriteReport(r);  // an answer is waiting when the device goes
  system.Unplug(id);
  Report in;
  EXPECT_FALSE(h->WriteReport(r));
  EXPECT_EQ(h->ReadReport(in, 5000), ReadResult::kFailed);
  platform::HidAttributes attributes;
  EXPECT_FALSE(h->GetAttributes(&attributes));

  system.Plug(id);
  EXPECT_EQ(echo->plugged, 1);
  EXPECT_FALSE(h->WriteReport(r));
  EXPECT_EQ(h->ReadReport(in, 0), ReadResult::kFailed);

  auto fresh = system.Open("d");
  ASSERT_NE(fresh, nullptr);
  EXPECT_TRUE(fresh->WriteReport(r));
  EXPECT_EQ(fresh->ReadReport(in, 1000), ReadResult::kOk);
}

TEST(EmulatedHidSystem, UnplugWakesABlockedRead) {
  EmulatedHidSystem system;
  const auto id = system.AddDevice(Describe("d"));
  auto h = system.Open("d");
  ReadResult result = ReadResult::kOk;
  std::thread reader([&] {
    Report in;
    result = h->ReadReport(in, 60000);
  });
  // Give the reader time to block; if it has not yet, its read fails at once, which is the
  // same outcome.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const auto start = std::chrono::steady_clock::now();
  system.Unplug(id);
  reader.join();
  EXPECT_EQ(result, ReadResult::kFailed);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

// Taken reports are recorded only while recording is on: a system left running keeps nothing
// of what it delivered, and switching recording off forgets the record.
TEST(EmulatedHidSystem, RecordsTakenReportsOnlyWhileSwitchedOn) {
  EmulatedHidSystem system;
  const auto id = system.AddDevice(Describe("d"), std::make_shared<EchoDevice>());
  auto h = system.Open("d");
  Report r;
  Report in;
  const auto send_and_read = [&](std::uint8_t b1) {
    Fill(r, b1);
    ASSERT_TRUE(h->WriteReport(r));
    ASSERT_EQ(h->ReadReport(in, 0), ReadResult::kOk);
  };
  struct Step {
    bool recording;
    std::size_t reads;
    std::size_t listed_after;
  };
  const Step steps[] = {{false, 3, 0}, {true, 2, 2}, {true, 1, 3}, {false, 2, 0}, {true, 1, 1}};
  for (const Step& step : steps) {
    system.RecordTakenReports(step.recording);
    for (std::size_t i = 0; i < step.reads; ++i) send_and_read(static_cast<std::uint8_t>(i));
    EXPECT_EQ(system.TakenReports(id).size(), step.listed_after)
        << "recording " << step.recording << ", " << step.reads << " reads";
  }
}

}  // namespace
