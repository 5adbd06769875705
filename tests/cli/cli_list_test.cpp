// `qvx list` (the boards, one line each), `qvx list --all` (every HID device), choosing one of
// several boards with --board, and what a command says when it picks the first by itself.
#include <cstdio>
#include <memory>

#include "board/protocol.h"
#include "qvx_runner.h"
#include "tests/support/device_description.h"

namespace {

using qvx_test::QvxRunner;
using qvx_test::Result;

using testing_support::DeviceDescription;

class CliList : public QvxRunner {
 protected:
  // A board in the "hardware" system, with its own emulator the test can look into.
  std::shared_ptr<emulator::BoardEmulator> AddBoard(const std::string& path,
                                                    const std::u16string& serial,
                                                    const std::string& location) {
    emulator::BoardData data;
    data.path = path;
    data.serial = serial;
    data.location = location;
    auto board = std::make_shared<emulator::BoardEmulator>(data);
    m_hardware.AddDevice(emulator::HidDescriptionOf(data), board);
    return board;
  }
};

TEST_F(CliList, AllShowsEveryDeviceAndMarksOnlyExactBoards) {
  const std::u16string maker = u"Qelvantorix Ltd";
  m_hardware.AddDevice(
      DeviceDescription("/dev/hidraw0", 0x046D, 0xC52B, u"Logitech", u"USB Receiver"));
  m_hardware.AddDevice(DeviceDescription("/dev/hidraw1", 0x04B4, 0xE006, maker, u"KovalmiretteV4"));
  m_hardware.AddDevice(DeviceDescription("/dev/hidraw2", 0x04B4, 0xE006, maker, u"kovalmiretteV4"));
  auto stringless = DeviceDescription("/dev/hidraw3", 0x04B4, 0xE006, maker, u"KovalmiretteV4");
  stringless.manufacturer_fails = true;
  m_hardware.AddDevice(stringless);
  auto closed = DeviceDescription("/dev/hidraw4", 0x04B4, 0xE006, maker, u"KovalmiretteV4");
  closed.open_fails = true;
  m_hardware.AddDevice(closed);
  auto hidden = DeviceDescription("/dev/hidraw5", 1, 2, u"", u"");
  hidden.detail_fails = true;
  m_hardware.AddDevice(hidden);
  auto mute = DeviceDescription("/dev/hidraw6", 1, 2, u"", u"");
  mute.attributes_fail = true;
  m_hardware.AddDevice(mute);
  m_hardware.AddDevice(
      DeviceDescription("/dev/hidraw7", 0x1234, 0xABCD, u"Gr\u00FC\u00DFe", u"\u20AC"));
  m_hardware.AddDevice(DeviceDescription("/dev/hidraw8", 0x04B4, 0xE006, maker, u"KovalmiretteV4"));

  Result r = Run({"list", "--all"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "  046D:C52B \"Logitech\" \"USB Receiver\" /dev/hidraw0\n"
            "* 04B4:E006 \"Qelvantorix Ltd\" \"KovalmiretteV4\" /dev/hidraw1\n"
            "  04B4:E006 \"Qelvantorix Ltd\" \"kovalmiretteV4\" /dev/hidraw2\n"
            "  04B4:E006 - \"KovalmiretteV4\" /dev/hidraw3\n"
            "  ????:???? (cannot open) /dev/hidraw4\n"
            "  ????:???? (interface detail unreadable)\n"
            "  ????:???? (attributes unreadable) /dev/hidraw6\n"
            "  1234:ABCD \"Gr\xC3\xBC\xC3\x9F"
            "e\" \"\xE2\x82\xAC\" /dev/hidraw7\n"
            "* 04B4:E006 \"Qelvantorix Ltd\" \"KovalmiretteV4\" /dev/hidraw8\n"
            "9 HID devices, 2 boards\n");

  // Without --all: the boards only (all four marks, what --board chooses among), numbered
  // among themselves; a look-alike with other strings or none, or one that cannot be opened to
  // tell, never.
  r = Run({"list"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "0 - - /dev/hidraw1 open elsewhere: no\n"
            "1 - - /dev/hidraw8 open elsewhere: no\n");
}

TEST_F(CliList, EmptySystemAndTheEmulatedBoard) {
  Result r = Run({"list", "--all"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "0 HID devices, 0 boards\n");

  r = RunEmulated({"list", "--all"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "* 04B4:E006 \"Qelvantorix Ltd\" \"KovalmiretteV4\" " +
                       emulator::BoardData().path + "\n1 HID device, 1 board\n");

  r = Run({"list"});
  EXPECT_EQ(r.code, qvx::kExitFailed);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "qvx: no board found (04B4:E006 \"Qelvantorix Ltd\" \"KovalmiretteV4\")\n");

  r = RunEmulated({"list"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "0 - - " + emulator::BoardData().path + " open elsewhere: no\n");
}

// Serial and location as the back end tells them, "-" where it cannot; a board another user
// of the HID system holds open is shown so, and is free again once closed.
TEST_F(CliList, OneLinePerBoardWithSerialLocationPathAndUse) {
  AddBoard("/dev/hidraw3", u"QVX-A", "1-2.1");
  AddBoard("/dev/hidraw5", u"", "1-2.2");
  AddBoard("/dev/hidraw9", u"QVX-C", "");
  m_hardware.AddDevice(DeviceDescription("/dev/hidraw4", 0x046D, 0xC52B, u"Logitech", u"Mouse"));
  std::unique_ptr<platform::HidDevice> held = m_hardware.Open("/dev/hidraw5");
  ASSERT_NE(held, nullptr);

  Result r = Run({"list"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "0 QVX-A 1-2.1 /dev/hidraw3 open elsewhere: no\n"
            "1 - 1-2.2 /dev/hidraw5 open elsewhere: yes\n"
            "2 QVX-C - /dev/hidraw9 open elsewhere: no\n");

  // --board shows the one board it names, under its own index.
  r = Run({"--board", "serial:QVX-C", "list"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "2 QVX-C - /dev/hidraw9 open elsewhere: no\n");
  r = Run({"--board", "serial:QVX-D", "list"});
  EXPECT_EQ(r.code, qvx::kExitFailed);
  EXPECT_EQ(r.err, "qvx: no board matches serial:QVX-D (3 boards found)\n");

  held.reset();
  r = Run({"list"});
  EXPECT_NE(r.out.find("1 - 1-2.2 /dev/hidraw5 open elsewhere: no\n"), std::string::npos) << r.out;
}

// Each selector kind reaches its board and only that one; a bad selector and one that matches
// nothing are refused before anything is sent.
TEST_F(CliList, BoardSelectorsReachTheirBoardAmongSeveral) {
  const auto a = AddBoard("/dev/hidraw1", u"QVX-A", "3-1");
  const auto b = AddBoard("/dev/hidraw2", u"QVX-B", "3-2");
  const auto blank = AddBoard("/dev/hidraw3", u"", "3-4.1");
  const std::shared_ptr<emulator::BoardEmulator> boards[] = {a, b, blank};

  struct Case {
    const char* selector;
    int board;  // index into `boards` that must get the write; -1: none
    int code;
    const char* err;
  };
  const Case cases[] = {
      {"first", 0, 0, ""},
      {"index:0", 0, 0, ""},
      {"index:2", 2, 0, ""},
      {"serial:QVX-B", 1, 0, ""},
      {"location:3-4.1", 2, 0, ""},
      {"location:3-1", 0, 0, ""},
      {"path:/dev/hidraw2", 1, 0, ""},
      {"index:3", -1, qvx::kExitFailed, "qvx: no board matches index:3 (3 boards found)\n"},
      {"serial:QVX-b", -1, qvx::kExitFailed,
       "qvx: no board matches serial:QVX-b (3 boards found)\n"},
      {"location:3-4", -1, qvx::kExitFailed,
       "qvx: no board matches location:3-4 (3 boards found)\n"},
      {"serial", -1, qvx::kExitUsage,
       "qvx: bad board selector 'serial': expected first, index:N, serial:TEXT, location:TEXT "
       "or path:TEXT\n"},
  };
  unsigned value = 0x10;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.selector);
    ++value;  // a byte of its own for each case
    char byte[4];
    std::snprintf(byte, sizeof byte, "%02X", value);
    const Result r = Run({"--board", c.selector, "eeprom", "write", "40", byte});
    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(r.err, c.err);
    for (int i = 0; i < 3; ++i) {
      const unsigned now = boards[i]->Eeprom(0x40, 1)[0];
      if (i == c.board) {
        EXPECT_EQ(now, value) << "board " << i;
      } else {
        EXPECT_NE(now, value) << "board " << i << " was written too";
      }
    }
  }
}

// With several boards and no --board a command goes to the first and says so on stderr, once;
// with one board, or with --board, nothing is said.
TEST_F(CliList, SeveralBoardsWithoutBoardUseTheFirstAndSaySo) {
  const auto first = AddBoard("/dev/hidraw1", u"", "");
  Result r = Run({"set", "buzzer", "on"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.err, "");

  const auto second = AddBoard("/dev/hidraw2", u"QVX-2", "1-2");
  r = Run({"set", "pass", "on"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "pass on\n");
  EXPECT_EQ(r.err,
            "qvx: 2 boards found, using the first (index:0, path:/dev/hidraw1); choose one with "
            "--board\n");
  EXPECT_EQ(first->Lines()[board::kLineLedPass], 1);
  EXPECT_EQ(second->Lines()[board::kLineLedPass], 0);

  r = Run({"--board", "first", "set", "fail", "on"});
  EXPECT_EQ(r.err, "");
  r = Run({"list"});
  EXPECT_EQ(r.err, "");

  r = Run({"--emulated-boards", "3", "lines"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.err,
            "qvx: 3 boards found, using the first (index:0, serial:EMU0001, location:1-1); choose "
            "one with --board\n");
}

// --emulated-boards N: N boards, serials EMU0001... at locations 1-1..., each of its own.
TEST_F(CliList, EmulatedBoardsAreNumberedAndKeepTheirOwnState) {
  struct Case {
    const char* count;
    std::size_t lines;
    const char* last;  // the last line's start
  };
  const Case cases[] = {
      {"1", 1, "0 EMU0001 1-1 "}, {"3", 3, "2 EMU0003 1-3 "}, {"16", 16, "15 EMU0016 1-16 "}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count);
    const Result r = Run({"--emulated-boards", c.count, "list"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, "");
    std::size_t lines = 0;
    for (char ch : r.out) lines += ch == '\n';
    EXPECT_EQ(lines, c.lines);
    const std::size_t last = r.out.rfind('\n', r.out.size() - 2);
    const std::string tail = last == std::string::npos ? r.out : r.out.substr(last + 1);
    EXPECT_EQ(tail.rfind(c.last, 0), 0u) << tail;
    EXPECT_NE(tail.find(" open elsewhere: no\n"), std::string::npos) << tail;
  }
  // With a state file, the chosen board's state is what is kept between runs.
  const std::string state = ::testing::TempDir() + "qvx_numbered_boards.state";
  std::remove(state.c_str());
  const std::vector<std::string> kept{"--emulated-boards", "2",           "--emulated-state", state,
                                      "--board",           "location:1-2"};
  auto with = [&](std::vector<std::string> args) {
    args.insert(args.begin(), kept.begin(), kept.end());
    return Run(args);
  };
  EXPECT_EQ(with({"eeprom", "write", "10", "5A"}).code, 0);
  EXPECT_EQ(with({"eeprom", "read", "10", "1"}).out, "0010: 5A\n");
  std::remove(state.c_str());
  // The model the environment names gives way to the numbered boards.
  m_environment_model = ::testing::TempDir() + "qvx_no_such_model.json";
  EXPECT_EQ(Run({"--emulated-boards", "2", "list"}).code, 0);
  EXPECT_EQ(m_board->CommandCount(), 0u);
}

}  // namespace
