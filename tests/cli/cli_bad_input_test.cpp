// Bad input: one message on stderr, a usage exit code, nothing on stdout, nothing sent.
#include <fstream>
#include <iterator>

#include "qvx_runner.h"

namespace {

using qvx_test::QvxRunner;

struct BadCase {
  std::vector<std::string> args;
  const char* message;  // must appear in the one line written to stderr
};

class CliBadInput : public QvxRunner {};

TEST_F(CliBadInput, IsRefusedBeforeAnythingIsOpenedOrSent) {
  const std::string dir = ::testing::TempDir();
  const std::string short_image = dir + "qvx_short_image.bin";
  std::ofstream(short_image, std::ios::binary) << std::string(100, 'x');
  std::vector<std::string> too_many{"i2c", "write", "50"};
  too_many.insert(too_many.end(), 65536, "00");
  const std::string old_trace = dir + "qvx_old_trace.txt";
  std::ofstream(old_trace) << "an earlier trace\n";

  const BadCase cases[] = {
      {{}, "A subcommand is required"},
      {{"frob"}, "unknown command or argument 'frob'"},
      {{"i2c"}, "A subcommand is required"},
      {{"i2c", "read", "zz", "3"}, "bad I2C address 'zz'"},
      {{"i2c", "read", "80", "3"}, "bad I2C address '80': expected hex 00..7F"},
      {{"i2c", "read", "0x", "3"}, "bad I2C address '0x'"},
      {{"i2c", "read", "50", "0"}, "bad count '0': expected 1..65535"},
      {{"i2c", "read", "50", "65536"}, "bad count '65536'"},
      {{"i2c", "read", "50", "1f"}, "bad count '1f'"},
      {{"i2c", "read", "50"}, "COUNT is required"},
      {{"i2c", "read", "50", "3", "4"}, "unknown command or argument '4'"},
      {{"i2c", "read", "50", "3", "--stop"}, "--stop"},
      {{"i2c", "write", "50", "1G"}, "bad byte '1G'"},
      {{"i2c", "write", "50", "100"}, "bad byte '100': expected hex 00..FF"},
      {{"i2c", "write", "50", "-1"}, "-1"},
      {too_many, "too many bytes: 65536 given, at most 65535"},
      {{"eeprom", "read", "10000", "1"}, "bad EEPROM address '10000'"},
      {{"eeprom", "read", "FFFF", "2"}, "2 bytes at 0xFFFF run past the end"},
      {{"eeprom", "read", "0", "65537"}, "bad count '65537'"},
      {{"eeprom", "write", "0"}, "BYTES is required"},
      {{"eeprom", "write", "FFFF", "1", "2"}, "2 bytes at 0xFFFF run past the end"},
      {{"eeprom", "load", dir + "qvx_no_such_file"}, "cannot read"},
      {{"eeprom", "load", short_image}, "holds 100 bytes; an EEPROM image holds exactly 65536"},
      {{"eeprom", "dump", dir + "no_such_dir/image.bin"}, "cannot create"},
      {{"speed", "100"}, "bad speed '100': expected 50, 400 or 1000"},
      {{"speed", "0x32x"}, "bad speed"},
      {{"set", "int", "on"}, "bad line 'int'"},
      {{"set", "power", "1"}, "bad state '1': expected on or off"},
      {{"expander", "80", "1"}, "bad expander address '80'"},
      {{"expander", "70", "100"}, "bad channel '100'"},
      {{"sensor", "--channel", "1FF"}, "bad channel '1FF'"},
      {{"sensor", "--channel"}, "--channel"},
      {{"i2c", "wr", "50", "00"}, "--read is required"},
      {{"i2c", "wr", "50", "00", "--read", "0"}, "bad count '0': expected 1..65535"},
      {{"i2c", "wr", "50", "1G", "--read", "2"}, "bad byte '1G'"},
      {{"i2c", "wr", "80", "--read", "2"}, "bad I2C address '80'"},
      {{"i2c", "scan", "50"}, "unknown command or argument '50'"},
      {{"--trace", old_trace, "lines"}, "cannot create the trace file"},
      {{"--trace", dir + "qvx_trace.pcap", "lines"}, "does not end in .pcapng, .txt or .log"},
      {{"--trace", "\\\\.\\COM3.txt", "lines"}, "device or network path"},
      {{"--trace", "\\\\server\\share\\t.log", "reset"}, "device or network path"},
      {{"--trace", dir + "no_such_dir/t.pcapng", "reset"}, "cannot create the trace file"},
      {{"--trace", "", "reset"}, "bad --trace: the trace file name is empty"},
      {{"--trace", dir + "qvx_bad_arg.txt", "speed", "100"}, "bad speed '100'"},
      {{"serve", "--boards", "0"}, "bad --boards '0': expected 1..64"},
      {{"serve", "--boards", "65"}, "bad --boards '65'"},
      {{"serve", "--boards", "2x"}, "bad --boards '2x'"},
      {{"serve", "--name", ""}, "bad --name: empty name"},
      {{"--board", "first", "serve"}, "serve holds fresh boards of its own: --board does not"},
      {{"--trace", "-", "serve"}, "--trace does not apply"},
      {{"--emulated-state", dir + "s.state", "serve"}, "--emulated-state does not apply"},
      {{"--emulated-boards", "0", "lines"}, "bad --emulated-boards '0': expected 1..16 ("},
      {{"--emulated-boards", "17", "list"}, "bad --emulated-boards '17': expected 1..16"},
      {{"--emulated-boards", "x", "lines"}, "bad --emulated-boards 'x'"},
      {{"--emulated-boards", "", "lines"}, "bad --emulated-boards ''"},
      {{"--emulated-boards", "2", "--emulated-model", dir + "m.json", "lines"},
       "--emulated-boards and --emulated-model both say which emulated boards there are"},
      {{"--emulated-boards", "2", "--board", "serial", "lines"}, "bad board selector 'serial'"},
      {{"--board", "index:", "list"}, "bad board selector 'index:'"},
      // Several boards: the note on the first board is not said for a run that is refused.
      {{"--emulated-boards", "2", "--trace", old_trace, "lines"}, "cannot create the trace file"},
  };
  for (const BadCase& c : cases) {
    std::string shown;
    for (const std::string& a : c.args) shown += (a.size() > 20 ? "..." : a) + " ";
    SCOPED_TRACE(shown.substr(0, 80));
    for (bool emulated : {true, false}) {
      const qvx_test::Result r = emulated ? RunEmulated(c.args) : Run(c.args);
      EXPECT_EQ(r.code, qvx::kExitUsage);
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(r.err.rfind("qvx: ", 0), 0u) << r.err;
      EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
      EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
  }
  EXPECT_EQ(m_board->CommandCount(), 0u);
  EXPECT_EQ(m_board->IgnoredReportCount(), 0u);
  std::ifstream old(old_trace);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(old), {}), "an earlier trace\n");
  // A trace is created only once every other argument is good.
  EXPECT_FALSE(std::ifstream(dir + "qvx_bad_arg.txt").good());
  std::remove(short_image.c_str());
  std::remove(old_trace.c_str());
}

}  // namespace
