// One program on a served board, for the tests that run two of them at once
// (served_board_test.cpp). Usage:
//   served_board_client NAME work COUNT ROLE   COUNT commands of every kind, each checked
//   served_board_client NAME hold              stops for good inside its third command
// ROLE 0 or 1 keeps the two programs' data apart: each has its own EEPROM and I2C memory area and
// its own output lines, so each knows every right result whatever the other does.
// Prints "opened" once it has the board open, "first <ns>" (the steady clock when its first command
// ended), one "wrong: ..." line per wrong result, and "done <n>" at the end; exits 0 when every
// result was right, 1 otherwise. Board reset is left out: it would reset the other program's lines.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "board/protocol.h"
#include "board/usb_channel.h"
#include "link/board_link.h"
#include "platform/emulated/served_hid_system.h"
#include "platform/pause.h"
#include "tests/support/child_lines.h"
#include "tests/support/forwarding_device.h"

namespace {

using testing_support::NowNs;

// A device that stops for good, holding the board, when its `stall_at`th report is written.
class StallingDevice : public testing_support::ForwardingDevice {
 public:
  StallingDevice(std::unique_ptr<platform::HidDevice> inner, int stall_at)
      : ForwardingDevice(std::move(inner)), stall_at_(stall_at) {}
  bool WriteReport(const std::uint8_t (&report)[platform::kReportSize]) override {
    if (++writes_ == stall_at_) {
      std::printf("holding\n");
      std::fflush(stdout);
      for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
    }
    return ForwardingDevice::WriteReport(report);
  }

 private:
  const int stall_at_;
  int writes_ = 0;
};

class StallingBackend : public platform::HidBackend {
 public:
  StallingBackend(platform::HidBackend& inner, int stall_at) : inner_(inner), stall_at_(stall_at) {}
  std::unique_ptr<platform::HidEnumeration> Enumerate() override { return inner_.Enumerate(); }
  std::unique_ptr<platform::HidDevice> Open(const std::string& path) override {
    std::unique_ptr<platform::HidDevice> device = inner_.Open(path);
    if (!device) return nullptr;
    return std::make_unique<StallingDevice>(std::move(device), stall_at_);
  }
  bool PeekIds(const std::string& path, platform::HidAttributes* ids) override {
    return inner_.PeekIds(path, ids);
  }

 private:
  platform::HidBackend& inner_;
  const int stall_at_;
};

using Bytes = std::vector<std::uint8_t>;

Bytes Pattern(std::size_t n, unsigned seed) {
  Bytes bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(seed * 31 + i * 7);
  return bytes;
}

class Workload {
 public:
  Workload(CUSBChannel& link, int role) : link_(link), role_(role) {}

  // Runs command `i` (of a cycle of every kind) and checks what it returned.
  void Step(unsigned i) {
    const unsigned page = i % 32;
    const unsigned seed = i + static_cast<unsigned>(role_) * 1000;
    switch (i % 9) {
      case 0: {  // EEPROM page write, then read back
        const Bytes data = Pattern(64, seed);
        link_.WriteEEPROMPage(EepromAt(page), data.data(), 64);
        Bytes got(64, 0);
        link_.ReadEEPROMPage(EepromAt(page), got.data(), 64);
        Check(got == data, i, "EEPROM page read back");
        break;
      }
      case 1: {  // I2C speed: the answer tells the code of this command's speed
        const std::uint16_t khz[] = {50, 400, 1000};
        const int codes[] = {0, 1, 3};
        const unsigned k = (i / 9 + static_cast<unsigned>(role_)) % 3;
        Check(link_.SetI2CSpeed(khz[k]) == codes[k], i, "I2C speed code");
        break;
      }
      case 2: {  // I2C write to the memory at 0x50, then the register read of what was written
        const Bytes data = Pattern(20, seed);
        Bytes write(2 + data.size());
        write[0] = static_cast<std::uint8_t>(MemoryAt(page) >> 8);
        write[1] = static_cast<std::uint8_t>(MemoryAt(page));
        std::copy(data.begin(), data.end(), write.begin() + 2);
        Check(link_.WriteI2CLongBytes(0x50, write.data(), static_cast<std::uint32_t>(write.size()),
                                      true, true) == 0,
              i, "I2C write status");
        Bytes got(data.size(), 0);
        const auto result = link_.WriteReadI2C(0x50, write.data(), 2, got.data(),
                                               static_cast<std::uint32_t>(got.size()));
        Check(result.answered && result.write_status == 0 && result.read_status == 0 && got == data,
              i, "I2C register read");
        break;
      }
      case 3: {  // I2C read where no slave answers: 0xFF bytes and the no-ack status
        Bytes got(70, 0);
        Check(
            link_.ReadI2CLongBytes(0x40, got.data(), 70, true, true) == 1 && got == Bytes(70, 0xFF),
            i, "I2C read without a slave");
        break;
      }
      case 4: {  // this program's output lines, set and read back
        const int on = static_cast<int>((i / 9) % 2);
        if (role_ == 0) {
          link_.SetLedPass(on);
          link_.SetBuzzer(1 - on);
        } else {
          link_.SetLedFail(on);
          link_.SetLedError(1 - on);
        }
        std::uint8_t record[board::kLineRecordSize] = {};
        link_.ReadLineState(record);
        const bool right =
            role_ == 0
                ? record[board::kLineLedPass] == on && record[board::kLineBuzzer] == 1 - on
                : record[board::kLineLedFail] == on && record[board::kLineLedError] == 1 - on;
        Check(right && link_.LastCommandAnswered(), i, "own lines");
        break;
      }
      case 5: {  // the sensor block (no expander channel is ever selected)
        std::uint16_t values[board::kSensorValueCount] = {};
        link_.ReadSensorRawData(values);
        bool right = link_.LastCommandAnswered();
        for (unsigned k = 0; k < board::kSensorValueCount; ++k) right &= values[k] == 0xA5A0 + k;
        Check(right, i, "sensor block");
        break;
      }
      case 6:  // an expander address that reaches no expander: no answer, nothing changes
        link_.SelectExpandChannel(0x71, static_cast<std::uint8_t>(i));
        break;
      case 7: {  // a whole line-state record written: the answer echoes it
        std::uint8_t record[board::kLineRecordSize] = {};
        link_.ReadLineState(record);
        Check(link_.LastCommandAnswered(), i, "line record read");
        break;
      }
      default: {  // an EEPROM page read of the other program's area: answered, any content
        Bytes got(64, 0);
        link_.ReadEEPROMPage(EepromAt(page) ^ 0x8000, got.data(), 64);
        Check(link_.LastCommandAnswered(), i, "EEPROM read answered");
        break;
      }
    }
  }

  int wrong = 0;

 private:
  std::int32_t EepromAt(unsigned page) const {
    return static_cast<std::int32_t>((role_ == 0 ? 0x0000 : 0x8000) + page * 64);
  }
  unsigned MemoryAt(unsigned page) const { return (role_ == 0 ? 0x0000 : 0x4000) + page * 32; }
  void Check(bool right, unsigned i, const char* what) {
    if (right) return;
    ++wrong;
    std::printf("wrong: %s at command %u\n", what, i);
  }

  CUSBChannel& link_;
  const int role_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: served_board_client NAME work COUNT ROLE | NAME hold\n");
    return 2;
  }
  platform::SetPauseSleeps(false);  // the EEPROM write pause means nothing to an emulated board
  platform::ServedHidSystem served(argv[1]);
  const std::string mode = argv[2];
  StallingBackend stalling(served, 3);  // in the third command (one report each)
  HidBoardOpener opener(mode == "hold" ? static_cast<platform::HidBackend&>(stalling) : served);
  CUSBChannel link(opener);
  if (link.OpenBoard() != 0) {
    std::printf("wrong: no board\n");
    return 1;
  }
  if (mode == "hold") {
    std::uint8_t record[board::kLineRecordSize];
    for (;;) link.ReadLineState(record);
  }
  std::printf("opened\n");
  std::fflush(stdout);
  const unsigned count = argc > 3 ? static_cast<unsigned>(std::atoi(argv[3])) : 100;
  const int role = argc > 4 ? std::atoi(argv[4]) : 0;
  Workload work(link, role);
  // A program whose commands go wrong at every turn gives up early: the test has its answer.
  constexpr int kEnoughWrong = 20;
  for (unsigned i = 0; i < count && work.wrong < kEnoughWrong; ++i) {
    work.Step(i);
    if (i == 0) {
      std::printf("first %lld\n", NowNs());
      std::fflush(stdout);
    }
  }
  if (work.wrong < kEnoughWrong) std::printf("done %u\n", count);
  return work.wrong == 0 ? 0 : 1;
}
