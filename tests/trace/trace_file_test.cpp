// Trace files: what names are refused, that an existing file is never touched, the names of a
// control's own traces, and what Wireshark's dissectors (tshark) read from a pcapng trace.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "board/trace_open.h"
#include "board/trace_text.h"
#include "tests/board/fake_board.h"
#include "traced_link.h"

namespace {

using board::TraceFileKind;

struct Name {
  const char* path;
  TraceFileKind kind;
  const char* why_contains;  // for a refusal
};

const Name kNames[] = {
    {"run.pcapng", TraceFileKind::kPcapng, ""},
    {"C:\\traces\\Run.PCAPNG", TraceFileKind::kPcapng, ""},
    {"run.txt", TraceFileKind::kText, ""},
    {"logs/run.log", TraceFileKind::kText, ""},
    {"", TraceFileKind::kRefused, "empty"},
    {"run.pcap", TraceFileKind::kRefused, "does not end in .pcapng, .txt or .log"},
    {"run.txt.exe", TraceFileKind::kRefused, "does not end in"},
    {".txt", TraceFileKind::kRefused, "does not end in"},
    {"\\\\.\\PhysicalDrive0.txt", TraceFileKind::kRefused, "device or network path"},
    {"\\\\?\\C:\\run.txt", TraceFileKind::kRefused, "device or network path"},
    {"\\\\server\\share\\run.pcapng", TraceFileKind::kRefused, "device or network path"},
    {"//server/share/run.log", TraceFileKind::kRefused, "device or network path"},
    {"NUL.txt", TraceFileKind::kRefused, "names a device"},
    {"C:\\x\\com1.log", TraceFileKind::kRefused, "names a device"},
    {"lpt9.pcapng", TraceFileKind::kRefused, "names a device"},
    {"console.txt", TraceFileKind::kText, ""},
};

TEST(TraceFileName, PicksTheFormatOrSaysWhyNot) {
  for (const Name& n : kNames) {
    SCOPED_TRACE(n.path);
    std::string why;
    EXPECT_EQ(board::TraceKindOf(n.path, &why), n.kind);
    if (n.kind == TraceFileKind::kRefused) {
      EXPECT_NE(why.find(n.why_contains), std::string::npos) << why;
    }
  }
}

class TraceFolder : public ::testing::Test {
 protected:
  TraceFolder() {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    folder_ = (std::filesystem::temp_directory_path() / (std::string("qvx_trace_") + test->name()))
                  .string();
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
  }
  ~TraceFolder() override {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  std::string Read(const std::string& path) const {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::string folder_;
};

TEST_F(TraceFolder, NeverOpensAFileThatExists) {
  for (const char* name : {"/old.txt", "/old.pcapng"}) {
    const std::string path = folder_ + name;
    std::ofstream(path, std::ios::binary) << "keep me\n";
    std::string why;
    EXPECT_EQ(board::OpenTraceFile(path, "trace_tests", &why), nullptr);
    EXPECT_NE(why.find(path), std::string::npos) << why;
    EXPECT_EQ(Read(path), "keep me\n");
  }
}

TEST_F(TraceFolder, RefusesAFolderThatCannotBeWritten) {
  // A regular file where a folder should be, and a folder that does not exist: the system
  // refuses both whoever runs the test.
  std::ofstream(folder_ + "/plain") << "x";
  for (const std::string& path : {folder_ + "/plain/run.txt", folder_ + "/missing/run.pcapng"}) {
    std::string why;
    EXPECT_EQ(board::OpenTraceFile(path, "trace_tests", &why), nullptr) << path;
    EXPECT_NE(why.find("cannot create the trace file"), std::string::npos) << why;
  }
}

TEST_F(TraceFolder, ANewFileGetsItsHeaderEvenWithoutCommands) {
  const std::string path = folder_ + "/new.txt";
  std::string why;
  board::OpenTraceFile(path, "trace_tests", &why).reset();
  EXPECT_EQ(Read(path).rfind("# qvx trace ", 0), 0u) << why;
}

TEST(TraceFileNameIn, NamesTheTimeThePidAndTheNumber) {
  // 2026-03-04 05:06:07 UTC
  const auto when = std::chrono::system_clock::from_time_t(1772600767);
  EXPECT_EQ(board::TraceFileNameIn("/tmp/t", when, 4711, 3),
            "/tmp/t/qvx-20260304-050607-4711-3.pcapng");
  EXPECT_EQ(board::TraceFileNameIn("C:\\t\\", when, 1, 0), "C:\\t\\qvx-20260304-050607-1-0.pcapng");
  EXPECT_EQ(board::TraceFileNameIn("C:\\t", when, 1, 0), "C:\\t\\qvx-20260304-050607-1-0.pcapng");
}

TEST(TraceHexRun, CutsLongRuns) {
  struct Case {
    std::vector<std::uint8_t> bytes;
    const char* text;
  };
  const Case cases[] = {
      {{}, "[]"},
      {{0x00, 0xAB}, "[00 ab]"},
      {std::vector<std::uint8_t>(16, 1), "[01 01 01 01 01 01 01 01 01 01 01 01 01 01 01 01]"},
      {std::vector<std::uint8_t>(17, 2),
       "[02 02 02 02 02 02 02 02 02 02 02 02 02 02 02 02 ... 1 more]"},
      {std::vector<std::uint8_t>(65535, 3),
       "[03 03 03 03 03 03 03 03 03 03 03 03 03 03 03 03 ... 65519 more]"},
  };
  for (const Case& c : cases) EXPECT_EQ(board::TraceHexRun(c.bytes), c.text);
}

// ---- tshark ----

std::string RunCommand(const std::string& command) {
  std::string out;
#if !defined(_WIN32)
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    std::size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    pclose(pipe);
  }
#else
  (void)command;
#endif
  return out;
}

TEST_F(TraceFolder, TsharkReadsTheTransfersAndReports) {
#if defined(_WIN32)
  GTEST_SKIP() << "tshark runs on the build machine: the native build checks this";
#endif
  if (std::system("tshark -v > /dev/null 2>&1") != 0) {
    GTEST_SKIP() << "tshark is not installed (scripts/bootstrap installs it)";
  }
  const std::string path = folder_ + "/run.pcapng";
  {
    std::string why;
    auto recorder = board::OpenTraceFile(path, "trace_tests", &why);
    ASSERT_NE(recorder, nullptr) << why;
    testing_support::TestChannel channel;
    channel.Attach(std::make_unique<testing_support::FakeBoard>());
    channel.AttachTrace(recorder.get());
    const std::uint8_t data[3] = {0x1e, 0x25,
                                  0x2c};  // the bytes slave 0x22 of the strict board takes
    channel.WriteI2CLongBytes(0x22, data, 3, true, true);
    std::uint8_t got[2];
    channel.ReadI2CLongBytes(0x22, got, 2, true, true);
    channel.AttachTrace(nullptr);
  }
  const std::string out = RunCommand(
      "tshark -r '" + path +
      "' -T fields -E separator=, -e frame.interface_id -e i2c.addr -e i2c.flags -e data.data"
      " -e frame.comment -e usb.endpoint_address.direction -e usb.capdata 2>/dev/null");
  const std::vector<std::string> lines = testing_support::Lines(out);
  // write: announce, parameters, one data report, status; read: announce, parameters, one
  // data report, status; each transfer closes with its I2C packet.
  ASSERT_EQ(lines.size(), 10u) << out;
  const std::string zeros(2 * 61, '0');
  EXPECT_EQ(lines[0].substr(0, 9), "0,,,,i2c-");  // the announce, with the command's summary
  // slave 0x22, 3 bytes, START, STOP
  EXPECT_EQ(lines[1], "0,,,,,0,002200030101" + std::string(2 * 59, '0'));
  EXPECT_EQ(lines[2], "0,,,,,0,001e252c" + zeros);
  EXPECT_EQ(lines[3].substr(0, 12), "0,,,,,1,0022");  // the status: the slave's address
  EXPECT_EQ(lines[4], "1,0x22,0x00000000,441e252c,status 0x22,,");
  EXPECT_EQ(lines[7].substr(0, 14), "0,,,,,1,001e25");            // the slave's bytes 0 and 1 ...
  EXPECT_EQ(lines[9], "1,0x22,0x00000001,451e25,status 0x22,,");  // ... on the bus
}

}  // namespace
