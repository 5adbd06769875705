// A script of every kind of command against the strict board, traced in both formats: the text
// trace has one line per command with the right fields, the pcapng trace has exactly the
// reports that crossed the device and exactly the I2C transfers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "board/trace_pcapng.h"
#include "platform/pause.h"
#include "tests/board/fake_board.h"
#include "traced_link.h"

namespace {

using testing_support::Bytes;
using testing_support::FakeBoard;
using testing_support::HexRun;
using testing_support::TracedLink;

Bytes SlaveRun(std::uint8_t slave, std::size_t n) {
  Bytes b(n);
  for (std::size_t j = 0; j < n; ++j) b[j] = FakeBoard::SlaveByte(slave, static_cast<uint32_t>(j));
  return b;
}

Bytes SensorRun() {
  Bytes b(64);
  for (std::size_t j = 0; j < b.size(); ++j) b[j] = FakeBoard::SensorByte(j);
  return b;
}

Bytes LineRecord() {
  Bytes record(64, 0);
  record[board::kLinePower] = 1;
  record[board::kLineLedPass] = 1;
  return record;
}

const Bytes kPage = testing_support::Pattern(8, 0x40);

// One command of the script and what its line must say. Empty expectations are not checked;
// "-" means the field must be absent.
struct Step {
  const char* name;
  std::function<void(CUSBChannel&)> run;
  std::string parameters;  // "key=value ..." fields that must be present
  std::string wrote;
  std::string read;
  std::string status;
};

std::vector<Step> Script() {
  return {
      {"i2c-speed", [](CUSBChannel& c) { c.SetI2CSpeed(400); }, "code=1", "-", "-", ""},
      {"i2c-write",
       [](CUSBChannel& c) {
         const Bytes data = SlaveRun(0x51, 3);
         c.WriteI2CLongBytes(0x51, data.data(), 3, true, true);
       },
       "slave=0x51 count=3 start=1 stop=1", HexRun(SlaveRun(0x51, 3)), "-", "0x51"},
      {"i2c-read",
       [](CUSBChannel& c) {
         Bytes data(130);
         c.ReadI2CLongBytes(0x50, data.data(), 130, true, false);
       },
       "slave=0x50 count=130 start=1 stop=0", "-", HexRun(SlaveRun(0x50, 130)), "0x50"},
      {"eeprom-write", [](CUSBChannel& c) { c.WriteEEPROMPage(0x1234, kPage.data(), 8); },
       "address=0x1234 count=8", HexRun(kPage), "-", "-"},
      {"eeprom-read",
       [](CUSBChannel& c) {
         std::uint8_t page[8];
         c.ReadEEPROMPage(0x1234, page, 8);
       },
       "address=0x1234 count=8", "-", HexRun(kPage), "-"},
      {"set-lines",
       [](CUSBChannel& c) {
         std::uint8_t record[64];
         const Bytes want = LineRecord();
         std::copy(want.begin(), want.end(), record);
         c.WriteLineState(record);
       },
       "", HexRun(LineRecord()), "-", "-"},
      {"get-lines",
       [](CUSBChannel& c) {
         std::uint8_t record[64];
         c.ReadLineState(record);
       },
       "", "-", HexRun(LineRecord()), "-"},
      {"expander", [](CUSBChannel& c) { c.SelectExpandChannel(0x70, 0x02); },
       "address=0x70 channel=0x02", "-", "-", "-"},
      {"sensor-data",
       [](CUSBChannel& c) {
         std::uint8_t raw[64];
         c.ReadSensorBlock(raw);
       },
       "arg=0x20", "-", HexRun(SensorRun()), "-"},
      {"hardware-reset", [](CUSBChannel& c) { c.SendHardwareReset(); }, "", "-", "-", "-"},
  };
}

std::unique_ptr<platform::HidDevice> Board() {
  return std::make_unique<FakeBoard>();
}

void RunScript(CUSBChannel& channel) {
  platform::SetPauseSleeps(false);
  for (const Step& step : Script()) step.run(channel);
  platform::SetPauseSleeps(true);
}

// The pcapng trace of the script; `crossed` (when given) receives the reports that crossed the
// device meanwhile.
testing_support::Pcapng ScriptInPcapng(std::vector<testing_support::Crossed>* crossed = nullptr) {
  TracedLink link(Board(), board::TraceFileKind::kPcapng);
  RunScript(link.channel);
  testing_support::Pcapng file = testing_support::ReadPcapng(link.Finish());
  if (crossed != nullptr) *crossed = link.crossed;
  return file;
}

double Ms(const std::string& field) {
  return std::stod(field.substr(field[0] == '+' ? 1 : 0));
}

TEST(TextTrace, OneLinePerCommandWithItsFields) {
  TracedLink link(Board(), board::TraceFileKind::kText);
  RunScript(link.channel);
  const std::vector<std::string> lines = testing_support::Lines(link.Finish());
  const std::vector<Step> script = Script();
  ASSERT_EQ(lines.size(), 1 + script.size()) << link.file;
  EXPECT_EQ(lines[0].rfind("# qvx trace ", 0), 0u) << lines[0];
  EXPECT_NE(lines[0].find(" program=trace_tests board="), std::string::npos) << lines[0];

  double previous_end = 0;
  for (std::size_t i = 0; i < script.size(); ++i) {
    const Step& step = script[i];
    SCOPED_TRACE(step.name);
    auto fields = testing_support::TextFields(lines[1 + i]);
    EXPECT_EQ(fields["name"], step.name) << lines[1 + i];
    EXPECT_EQ(fields["verdict"], "answered");
    EXPECT_EQ(fields["drained"], "0");
    EXPECT_EQ(fields["owed"], "0");
    for (const auto& [key, want] : {std::pair<std::string, std::string>{"wrote", step.wrote},
                                    {"read", step.read},
                                    {"status", step.status}}) {
      if (want == "-") {
        EXPECT_EQ(fields.count(key), 0u) << key << " in " << lines[1 + i];
      } else if (!want.empty()) {
        EXPECT_EQ(fields[key], want) << key;
      }
    }
    for (const auto& [key, want] : testing_support::TextFields("t d n " + step.parameters)) {
      if (key == "time" || key == "duration" || key == "name") continue;
      EXPECT_EQ(fields[key], want) << key;
    }
    // Times ascend, durations are not negative, and a command starts after the last ended.
    const double start = Ms(fields["time"]);
    const double took = Ms(fields["duration"]);
    EXPECT_GE(took, 0.0);
    EXPECT_GE(start, previous_end - 0.002);  // printed to the microsecond
    previous_end = start + took;
  }
  // The speed answer carries the code the board took in bits 2 and 3.
  const auto speed = testing_support::TextFields(lines[1]);
  EXPECT_EQ((std::stoul(speed.at("status"), nullptr, 16) >> 2) & 3, 1u);
}

TEST(PcapngTrace, HoldsExactlyTheReportsThatCrossedTheDeviceInOrder) {
  std::vector<testing_support::Crossed> crossed;
  const testing_support::Pcapng file = ScriptInPcapng(&crossed);
  ASSERT_EQ(file.problem, "");
  EXPECT_EQ(file.link_types, (std::vector<std::uint16_t>{249, 209}));

  std::vector<testing_support::Crossed> usb;
  std::uint64_t previous = 0;
  for (const auto& packet : file.packets) {
    EXPECT_GE(packet.micros, previous);
    previous = packet.micros;
    if (packet.interface_id != 0) continue;
    const auto view = testing_support::ViewUsb(packet);
    EXPECT_EQ(view.status, 0u);
    EXPECT_EQ(view.transfer, 1u);  // interrupt
    usb.push_back({(view.endpoint & 0x80) == 0, view.report});
  }
  EXPECT_TRUE(usb == crossed) << usb.size() << " packets, " << crossed.size() << " reports crossed";
}

TEST(PcapngTrace, HoldsExactlyTheI2cTransfersAsTheyTravelled) {
  const testing_support::Pcapng file = ScriptInPcapng();
  std::vector<testing_support::PcapngPacket> i2c;
  for (const auto& packet : file.packets) {
    if (packet.interface_id == 1) i2c.push_back(packet);
  }
  struct Want {
    std::uint8_t flags_low;
    Bytes bus;  // address byte, then data
    const char* comment;
  };
  Bytes write_bus = {0xA2};  // 0x51 << 1, write
  const Bytes wrote = SlaveRun(0x51, 3);
  write_bus.insert(write_bus.end(), wrote.begin(), wrote.end());
  Bytes read_bus = {0xA1};  // 0x50 << 1 | read
  const Bytes read = SlaveRun(0x50, 130);
  read_bus.insert(read_bus.end(), read.begin(), read.end());
  const Want want[] = {{0, write_bus, "status 0x51"}, {1, read_bus, "status 0x50"}};
  ASSERT_EQ(i2c.size(), std::size(want));
  for (std::size_t k = 0; k < i2c.size(); ++k) {
    SCOPED_TRACE(k);
    const Bytes& d = i2c[k].data;
    ASSERT_GE(d.size(), 5u);
    EXPECT_EQ(d[0], 0);  // bus 0, a data packet
    EXPECT_EQ(Bytes(d.begin() + 1, d.begin() + 5), (Bytes{0, 0, 0, want[k].flags_low}));
    EXPECT_EQ(Bytes(d.begin() + 5, d.end()), want[k].bus);
    EXPECT_EQ(i2c[k].comment, want[k].comment);
  }
}

TEST(PcapngTrace, FirstPacketOfEveryCommandNamesIt) {
  const testing_support::Pcapng file = ScriptInPcapng();
  std::vector<std::string> names;
  for (const auto& packet : file.packets) {
    if (packet.interface_id != 0 || packet.comment.empty()) continue;
    names.push_back(packet.comment.substr(0, packet.comment.find(' ')));
  }
  std::vector<std::string> want;
  for (const Step& step : Script()) want.push_back(step.name);
  EXPECT_EQ(names, want);
}

TEST(TraceRecorder, FlushesOnceForEveryCommand) {
  TracedLink link(Board(), board::TraceFileKind::kText);
  RunScript(link.channel);
  const int after_script = link.flushes;
  link.Finish();
  // The header goes with the first command.
  EXPECT_EQ(after_script, static_cast<int>(Script().size()) + 1);
}

}  // namespace
