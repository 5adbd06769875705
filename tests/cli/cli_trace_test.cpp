// qvx --trace: the trace records the command the tool ran and changes nothing of what the tool
// prints or sends.
#include <cstdio>
#include <fstream>
#include <iterator>

#include "qvx_runner.h"
#include "tests/trace/trace_support.h"

namespace {

using qvx_test::QvxRunner;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class CliTrace : public QvxRunner {
 protected:
  std::string Path(const char* name) {
    const std::string path = ::testing::TempDir() + name;
    std::remove(path.c_str());
    made_.push_back(path);
    return path;
  }
  ~CliTrace() override {
    for (const std::string& p : made_) std::remove(p.c_str());
  }
  std::vector<std::string> made_;
};

struct Traced {
  std::vector<std::string> command;
  const char* name;   // of the command's line in the text trace
  std::size_t lines;  // lines after the header
};

const Traced kCommands[] = {
    {{"i2c", "write", "50", "00", "10"}, "i2c-write", 1},
    {{"i2c", "read", "50", "3"}, "i2c-read", 1},
    {{"eeprom", "write", "10", "aa", "bb"}, "eeprom-write", 1},
    {{"set", "power", "on"}, "get-lines", 2},  // read, then the write-back
    {{"sensor", "--channel", "2"}, "expander", 2},
    {{"speed", "400"}, "i2c-speed", 1},
};

TEST_F(CliTrace, TextOnStderrNamesEveryCommandAndLeavesStdoutAlone) {
  for (const Traced& t : kCommands) {
    SCOPED_TRACE(t.name);
    const qvx_test::Result plain = RunEmulated(t.command);
    std::vector<std::string> args = {"--trace", "-"};
    args.insert(args.end(), t.command.begin(), t.command.end());
    const qvx_test::Result traced = RunEmulated(args);
    EXPECT_EQ(traced.code, plain.code);
    EXPECT_EQ(traced.out, plain.out);
    const std::vector<std::string> lines = testing_support::Lines(traced.err);
    ASSERT_EQ(lines.size(), 1 + t.lines) << traced.err;
    EXPECT_EQ(lines[0].rfind("# qvx trace ", 0), 0u);
    EXPECT_NE(lines[0].find("program=qvx board="), std::string::npos) << lines[0];
    EXPECT_EQ(lines[0].find("board=(none)"), std::string::npos) << lines[0];
    EXPECT_EQ(testing_support::TextFields(lines[1])["name"], t.name) << lines[1];
  }
}

TEST_F(CliTrace, WritesANewPcapngFile) {
  const std::string path = Path("qvx_cli_trace.pcapng");
  const qvx_test::Result r = RunEmulated({"--trace", path, "i2c", "write", "50", "01", "02"});
  ASSERT_EQ(r.code, qvx::kExitOk) << r.err;
  const testing_support::Pcapng file = testing_support::ReadPcapng(ReadFile(path));
  EXPECT_EQ(file.problem, "");
  ASSERT_FALSE(file.packets.empty());
  const testing_support::PcapngPacket& i2c = file.packets.back();
  EXPECT_EQ(i2c.interface_id, 1u);
  EXPECT_EQ(testing_support::Bytes(i2c.data.begin() + 5, i2c.data.end()),
            (testing_support::Bytes{0xA0, 0x01, 0x02}));
  // Run again: the file is there now, and qvx sends nothing.
  const std::size_t commands = m_board->CommandCount();
  const qvx_test::Result again = RunEmulated({"--trace", path, "reset"});
  EXPECT_EQ(again.code, qvx::kExitUsage);
  EXPECT_EQ(m_board->CommandCount(), commands);
}

TEST_F(CliTrace, ShowsABoardThatIsNotThere) {
  const std::string path = Path("qvx_cli_trace_none.txt");
  const qvx_test::Result r = Run({"--trace", path, "reset"});
  EXPECT_EQ(r.code, qvx::kExitFailed);
  const std::vector<std::string> lines = testing_support::Lines(ReadFile(path));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("board=(none)"), std::string::npos) << lines[0];
}

}  // namespace
