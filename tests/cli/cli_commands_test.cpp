// Each board command's output and its effect on an emulated board in a known state.
#include "board/protocol.h"
#include "emulator/i2c_bus.h"
#include "emulator/serial_memory.h"
#include "qvx_runner.h"
#include "tools/qvx_actions.h"

namespace {

using qvx_test::QvxRunner;
using qvx_test::Result;

emulator::BoardData StartingBoard() {
  emulator::BoardData data;
  data.power_up_lines[board::kLinePower] = 1;
  data.power_up_lines[board::kLineLedFail] = 1;
  return data;
}

class CliCommands : public QvxRunner {
 protected:
  CliCommands() : QvxRunner(StartingBoard()) {}

  void ExpectOk(const Result& r, const std::string& out) {
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, out);
  }
};

TEST_F(CliCommands, LinesShowEveryLineAndKey) {
  m_board->SetKey(2, true);
  m_board->SetInt(true);
  ExpectOk(RunEmulated({"lines"}),
           "power  0x01\n"
           "reset  0x00\n"
           "buzzer 0x00\n"
           "pass   0x00\n"
           "fail   0x01\n"
           "error  0x00\n"
           "int    0x01\n"
           "key1   0x00\n"
           "key2   0x01\n"
           "key3   0x00\n");
}

TEST_F(CliCommands, SetSwitchesExactlyOneLine) {
  struct Case {
    const char* line;
    std::size_t record_byte;
  };
  const Case cases[] = {{"power", board::kLinePower},   {"reset", board::kLineReset},
                        {"buzzer", board::kLineBuzzer}, {"pass", board::kLineLedPass},
                        {"fail", board::kLineLedFail},  {"error", board::kLineLedError}};
  for (const Case& c : cases) {
    for (const char* state : {"on", "off"}) {
      SCOPED_TRACE(std::string(c.line) + " " + state);
      emulator::LineRecord expected = m_board->Lines();
      expected[c.record_byte] = std::string(state) == "on" ? 1 : 0;
      ExpectOk(RunEmulated({"set", c.line, state}), std::string(c.line) + " " + state + "\n");
      EXPECT_EQ(m_board->Lines(), expected);
    }
  }
}

TEST_F(CliCommands, SpeedSetsTheBoardCode) {
  ExpectOk(RunEmulated({"speed", "1000"}), "speed 1000 kHz, board code 0x03\n");
  EXPECT_EQ(m_board->SpeedCode(), board::kSpeedCode1M);
  ExpectOk(RunEmulated({"speed", "400"}), "speed 400 kHz, board code 0x01\n");
  EXPECT_EQ(m_board->SpeedCode(), board::kSpeedCode400k);
  ExpectOk(RunEmulated({"speed", "50"}), "speed 50 kHz, board code 0x00\n");
}

TEST_F(CliCommands, I2cWriteThenReadThroughTheSerialMemory) {
  ExpectOk(RunEmulated({"i2c", "write", "0x50", "01", "00", "de", "0xAD", "BE", "EF"}),
           "status 0x00\n");
  EXPECT_EQ(m_board->Memory()->Peek(0x100, 4), (std::vector<std::uint8_t>{0xDE, 0xAD, 0xBE, 0xEF}));

  // Set the pointer without data and without STOP, then read with a repeated START.
  ExpectOk(RunEmulated({"i2c", "write", "50", "01", "01", "--no-stop"}), "status 0x00\n");
  ExpectOk(RunEmulated({"i2c", "read", "50", "3"}), "status 0x00\n0000: AD BE EF\n");
}

TEST_F(CliCommands, I2cReadOfALongRunDumpsEveryByte) {
  std::vector<std::uint8_t> pattern(40);
  for (std::size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<std::uint8_t>(i);
  m_board->Memory()->Poke(0, pattern);
  ExpectOk(RunEmulated({"i2c", "read", "50", "0x28"}),
           "status 0x00\n"
           "0000: 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\n"
           "0010: 10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F\n"
           "0020: 20 21 22 23 24 25 26 27\n");
}

// What the board got is printed, and the status has an exit code of its own.
TEST_F(CliCommands, AbsentSlaveGivesTheNoAckStatusAndItsExitCode) {
  struct Case {
    std::vector<std::string> args;
    std::string out;
  };
  const Case cases[] = {
      {{"i2c", "write", "23", "00"}, "status 0x01\n"},
      {{"i2c", "read", "23", "2", "--no-start"}, "status 0x01\n0000: FF FF\n"},
      {{"i2c", "wr", "23", "05", "--read", "2"},
       "write status 0x01, read status 0x01\n0000: FF FF\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1]);
    const Result r = RunEmulated(c.args);
    EXPECT_EQ(r.code, qvx::kExitI2cStatus);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "qvx: I2C slave 0x23 answered with status 0x01\n");
  }
}

TEST_F(CliCommands, WriteReadSetsThePointerAndReadsAfterARepeatedStart) {
  m_board->Memory()->Poke(0x0120, {0x11, 0x22, 0x33, 0x44});
  ExpectOk(RunEmulated({"i2c", "wr", "50", "01", "21", "--read", "3"}),
           "write status 0x00, read status 0x00\n0000: 22 33 44\n");
  EXPECT_EQ(m_board->CommandCount(board::CMD_I2C_WRITE), 1u);
  EXPECT_EQ(m_board->CommandCount(board::CMD_I2C_READ), 1u);
}

// Every scanned address is probed once, by the chosen transfer; only the slaves show.
TEST_F(CliCommands, ScanShowsTheAddressesThatAnswer) {
  m_board->AttachI2cSlave(0x1D, m_board->Memory());
  const std::string grid =
      "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f\n"
      "00:                         -- -- -- -- -- -- -- --\n"
      "10: -- -- -- -- -- -- -- -- -- -- -- -- -- 1d -- --\n"
      "20: -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- --\n"
      "30: -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- --\n"
      "40: -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- --\n"
      "50: 50 -- -- -- -- -- -- -- -- -- -- -- -- -- -- --\n"
      "60: -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- --\n"
      "70: -- -- -- -- -- -- -- --                        \n";
  const std::size_t scanned = qvx::kLastScannedAddress - qvx::kFirstScannedAddress + 1;
  ExpectOk(RunEmulated({"i2c", "scan"}), grid);
  EXPECT_EQ(m_board->CommandCount(board::CMD_I2C_WRITE), scanned);
  EXPECT_EQ(m_board->CommandCount(board::CMD_I2C_READ), 0u);
  ExpectOk(RunEmulated({"i2c", "scan", "--read"}), grid);
  EXPECT_EQ(m_board->CommandCount(board::CMD_I2C_READ), scanned);
}

TEST_F(CliCommands, EepromReadDumpsFromTheGivenAddress) {
  m_board->SetEeprom(0xFFEE, {0x10, 0x20, 0x30, 0x40, 0x50});
  ExpectOk(RunEmulated({"eeprom", "read", "ffee", "18"}),
           "FFEE: 10 20 30 40 50 FF FF FF FF FF FF FF FF FF FF FF\n"
           "FFFE: FF FF\n");
}

TEST_F(CliCommands, EepromWriteIsSplitAtPageBoundaries) {
  std::vector<std::string> args{"eeprom", "write", "0x3E"};
  std::vector<std::uint8_t> bytes;
  for (unsigned i = 0; i < 70; ++i) {
    bytes.push_back(static_cast<std::uint8_t>(0x80 + i));
    char text[4];
    std::snprintf(text, sizeof text, "%02X", 0x80 + i);
    args.push_back(text);
  }
  ExpectOk(RunEmulated(args), "wrote 70 bytes at 0x003E\n");
  EXPECT_EQ(m_board->Eeprom(0x3E, 70), bytes);
  EXPECT_EQ(m_board->Eeprom(0x3D, 1), std::vector<std::uint8_t>{0xFF});
  EXPECT_EQ(m_board->Eeprom(0x84, 1), std::vector<std::uint8_t>{0xFF});
  // 0x3E..0x3F, 0x40..0x7F, 0x80..0x83.
  EXPECT_EQ(m_board->CommandCount(board::CMD_EEPROM_WRITE), 3u);
}

TEST_F(CliCommands, SensorReadsTheOwnBlockOrASelectedChannel) {
  emulator::SensorBlock block{};
  block[0] = 0x12, block[1] = 0x34, block[62] = 0xAB, block[63] = 0xCD;
  m_board->SetSensor(emulator::kOwnSensorBlock, block);
  const Result own = RunEmulated({"sensor"});
  EXPECT_EQ(own.code, 0);
  EXPECT_EQ(own.out.substr(0, 9), "00: 1234 ");
  EXPECT_EQ(own.out.substr(own.out.size() - 5), "ABCD\n");
  EXPECT_EQ(m_board->CommandCount(board::CMD_EXPAND_CHANNEL), 0u);

  ExpectOk(RunEmulated({"sensor", "--channel", "2"}),
           "00: 0200 0201 0202 0203 0204 0205 0206 0207\n"
           "08: 0208 0209 020A 020B 020C 020D 020E 020F\n"
           "10: 0210 0211 0212 0213 0214 0215 0216 0217\n"
           "18: 0218 0219 021A 021B 021C 021D 021E 021F\n");
  EXPECT_EQ(m_board->ExpanderChannel(), 2);
}

TEST_F(CliCommands, ExpanderSendsTheGivenAddressAndChannel) {
  ExpectOk(RunEmulated({"expander", "0x70", "1F"}), "expander 0x70 channel 0x1F\n");
  EXPECT_EQ(m_board->ExpanderChannel(), 0x1F);
  // An address with no expander behind it: sent, and the selection stays.
  ExpectOk(RunEmulated({"expander", "71", "5"}), "expander 0x71 channel 0x05\n");
  EXPECT_EQ(m_board->CommandCount(board::CMD_EXPAND_CHANNEL), 2u);
  EXPECT_EQ(m_board->ExpanderChannel(), 0x1F);
}

TEST_F(CliCommands, ResetReturnsTheLinesToPowerUp) {
  ASSERT_EQ(RunEmulated({"set", "buzzer", "on"}).code, 0);
  ExpectOk(RunEmulated({"reset"}), "reset sent\n");
  EXPECT_EQ(m_board->CommandCount(board::CMD_HARDWARE_RESET), 1u);
  EXPECT_EQ(m_board->Lines()[board::kLineBuzzer], 0);
  EXPECT_EQ(m_board->Lines()[board::kLinePower], 1);
}

TEST_F(CliCommands, WithoutEmulatedTheHardwareIsUsedAndNoBoardIsAnError) {
  const Result r = Run({"lines"});
  EXPECT_EQ(r.code, qvx::kExitFailed);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "qvx: no board found (04B4:E006 \"Qelvantorix Ltd\" \"KovalmiretteV4\")\n");
  EXPECT_EQ(m_board->CommandCount(), 0u);

  // The same command finds a board plugged into the hardware system.
  auto hardware_board = std::make_shared<emulator::BoardEmulator>();
  m_hardware.AddDevice(emulator::HidDescriptionOf(emulator::BoardData()), hardware_board);
  EXPECT_EQ(Run({"lines"}).code, 0);
  EXPECT_EQ(hardware_board->CommandCount(board::CMD_GET_LINES), 1u);
  EXPECT_EQ(m_board->CommandCount(), 0u);
}

// A board that does not answer (silent, or later than the bound): one line on stderr, exit 3,
// no result presented; a multi-page command says how far it got.
TEST_F(CliCommands, UnansweredCommandsSayTheBoardDidNotAnswer) {
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const Case cases[] = {
      {{"i2c", "write", "50", "00", "00", "AA"},
       "qvx: board did not answer the I2C write: its status is unknown\n"},
      {{"i2c", "read", "50", "4"}, "qvx: board did not answer the I2C read\n"},
      {{"i2c", "wr", "50", "00", "--read", "4"}, "qvx: board did not answer the I2C write-read\n"},
      {{"i2c", "scan"}, "qvx: board did not answer the scan at 0x08\n"},
      {{"lines"}, "qvx: board did not answer the line-state read\n"},
      {{"sensor"}, "qvx: board did not answer the sensor read\n"},
      {{"speed", "400"}, "qvx: board did not answer the speed command\n"},
      {{"set", "power", "off"}, "qvx: board did not answer while switching power\n"},
      {{"eeprom", "read", "0010", "100"},
       "qvx: board did not answer at 0x0010: read 0 of 100 bytes\n"},
  };
  for (const emulator::AnswerMode mode :
       {emulator::AnswerMode::kSilent, emulator::AnswerMode::kLate}) {
    m_board->SetAnswerMode(mode);
    for (const Case& c : cases) {
      SCOPED_TRACE(c.args.front() + (mode == emulator::AnswerMode::kLate ? " late" : " silent"));
      const Result r = RunEmulated(c.args);
      EXPECT_EQ(r.code, qvx::kExitNoAnswer);
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(r.err, c.err);
    }
  }
  EXPECT_EQ(m_board->Lines()[board::kLinePower], 1);  // never switched without a fresh record
}

TEST_F(CliCommands, APresentBoardThatCannotBeOpenedIsToldFromNoBoard) {
  struct Case {
    const char* name;
    void (*spoil)(platform::EmulatedDeviceDescription*);
    std::string err;
  };
  const Case cases[] = {
      {"refused", [](platform::EmulatedDeviceDescription* d) { d->open_fails = true; },
       "qvx: board found but cannot be opened: Permission denied\n"},
      {"no product string", [](platform::EmulatedDeviceDescription* d) { d->product_fails = true; },
       "qvx: board found but cannot be opened: its product string cannot be read\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    platform::EmulatedHidSystem hardware;
    platform::EmulatedDeviceDescription description =
        emulator::HidDescriptionOf(emulator::BoardData());
    c.spoil(&description);
    hardware.AddDevice(description, std::make_shared<emulator::BoardEmulator>());
    std::ostringstream out, err;
    qvx::Environment env;
    env.out = &out;
    env.err = &err;
    env.hardware = &hardware;
    EXPECT_EQ(qvx::RunQvx({"lines"}, env), qvx::kExitFailed);
    EXPECT_EQ(err.str(), c.err);
  }
}

TEST_F(CliCommands, HelpGoesToStandardOutput) {
  const Result r = Run({"--help"});
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(r.out.find("Usage: qvx"), std::string::npos);
  EXPECT_NE(r.out.find("eeprom"), std::string::npos);
  EXPECT_NE(r.out.find("4 an I2C transfer ended with a status byte other than 0"),
            std::string::npos);
  EXPECT_EQ(r.err, "");
}

}  // namespace
