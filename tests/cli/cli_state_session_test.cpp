// A session of separate qvx runs sharing one state file drives one board that stays powered:
// what a run leaves on the board, the next run finds there.
#include "board/protocol.h"
#include "state_runner.h"
#include "tools/emulated_state_file.h"

namespace {

using qvx_test::Result;
using qvx_test::StateRunner;

class CliStateSession : public StateRunner {
 protected:
  // Runs and expects success with exactly `out`.
  void Step(const std::vector<std::string>& args, const std::string& out) {
    std::string shown;
    for (const std::string& a : args) shown += a + " ";
    SCOPED_TRACE(shown);
    const Result r = Stateful(args);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, out);
  }
  std::string LinesWith(const char* power, const char* buzzer) {
    return std::string("power  ") + power + "\nreset  0x00\nbuzzer " + buzzer +
           "\npass   0x00\nfail   0x00\nerror  0x00\nint    0x00\nkey1   0x00\nkey2   0x00\n"
           "key3   0x00\n";
  }
};

TEST_F(CliStateSession, EepromWrittenInOneRunIsReadInTheNext) {
  Step({"eeprom", "read", "0x0100", "4"}, "0100: FF FF FF FF\n");  // no file yet: a fresh board
  EXPECT_EQ(qvx_test::FileBytes(m_state).size(), qvx::kStateFileSize);
  Step({"eeprom", "write", "0x0100", "de", "ad", "be", "ef"}, "wrote 4 bytes at 0x0100\n");
  Step({"eeprom", "read", "0x00FE", "8"}, "00FE: FF FF DE AD BE EF FF FF\n");
  // Runs with a state file use a board of their own, never the one --emulated is given.
  EXPECT_EQ(m_board->CommandCount(), 0u);
  EXPECT_FALSE(qvx_test::FileExists(m_state + ".tmp"));
}

TEST_F(CliStateSession, SerialMemoryKeepsContentAndPointerBetweenRuns) {
  Step({"i2c", "write", "0x50", "00", "10", "11", "22", "33"}, "status 0x00\n");
  Step({"i2c", "write", "0x50", "00", "10"}, "status 0x00\n");
  Step({"i2c", "read", "0x50", "2"}, "status 0x00\n0000: 11 22\n");
  Step({"i2c", "read", "0x50", "1"}, "status 0x00\n0000: 33\n");  // on from where it stopped
}

TEST_F(CliStateSession, LinesSpeedAndChannelStayUntilAReset) {
  Step({"set", "power", "on"}, "power on\n");
  Step({"set", "buzzer", "on"}, "buzzer on\n");
  Step({"lines"}, LinesWith("0x01", "0x01"));
  Step({"speed", "1000"}, "speed 1000 kHz, board code 0x03\n");
  Step({"expander", "70", "2"}, "expander 0x70 channel 0x02\n");
  // No --channel: the sensor read goes to the channel selected in the run before.
  const Result sensor = Stateful({"sensor"});
  EXPECT_EQ(sensor.out.substr(0, 9), "00: 0200 ");
  std::optional<emulator::BoardState> saved = qvx::LoadStateFile(m_state);
  ASSERT_TRUE(saved);
  EXPECT_EQ(saved->speed_code, board::kSpeedCode1M);
  EXPECT_EQ(saved->channel, 2);

  Step({"eeprom", "write", "0", "5A"}, "wrote 1 bytes at 0x0000\n");
  Step({"i2c", "write", "0x50", "7F", "FF", "6B"}, "status 0x00\n");
  Step({"reset"}, "reset sent\n");
  Step({"lines"}, LinesWith("0x00", "0x00"));
  EXPECT_EQ(Stateful({"sensor"}).out.substr(0, 9), "00: A5A0 ");  // no channel selected
  Step({"eeprom", "read", "0", "1"}, "0000: 5A\n");
  Step({"i2c", "write", "0x50", "7F", "FF"}, "status 0x00\n");
  Step({"i2c", "read", "0x50", "1"}, "status 0x00\n0000: 6B\n");
  saved = qvx::LoadStateFile(m_state);
  ASSERT_TRUE(saved);
  EXPECT_EQ(saved->speed_code, 0);
  EXPECT_EQ(saved->channel, emulator::kNoChannel);
}

TEST_F(CliStateSession, ListShowsTheEmulatedBoardAndStartsTheFile) {
  Step({"list", "--all"}, "* 04B4:E006 \"Qelvantorix Ltd\" \"KovalmiretteV4\" " +
                              emulator::BoardData().path + "\n1 HID device, 1 board\n");
  EXPECT_EQ(qvx_test::FileBytes(m_state).size(), qvx::kStateFileSize);
}

TEST_F(CliStateSession, TheEnvironmentVariableNamesTheFileUnlessTheOptionDoes) {
  const std::string other = m_state + "_other";
  std::remove(other.c_str());
  m_environment_state = m_state;
  Result r = Run({"eeprom", "write", "0x20", "42"});
  EXPECT_EQ(r.code, 0);
  r = Run({"eeprom", "read", "0x20", "1"});
  EXPECT_EQ(r.out, "0020: 42\n");
  EXPECT_EQ(m_board->CommandCount(), 0u);

  r = Run({"--emulated-state", other, "eeprom", "read", "0x20", "1"});
  EXPECT_EQ(r.out, "0020: FF\n");
  EXPECT_TRUE(qvx_test::FileExists(other));
  std::remove(other.c_str());

  // Also after the command, as an option of the tool.
  r = Run({"eeprom", "read", "0x20", "1", "--emulated-state", m_state});
  EXPECT_EQ(r.out, "0020: 42\n");
}

TEST_F(CliStateSession, HelpNamesTheOptionAndTheVariable) {
  const Result r = Run({"--help"});
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(r.out.find("--emulated-state FILE"), std::string::npos);
  EXPECT_NE(r.out.find("QVX_EMULATED_STATE"), std::string::npos);
}

}  // namespace
