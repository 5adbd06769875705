// Whole-EEPROM dump and load through files.
#include <fstream>
#include <iterator>

#include "board/protocol.h"
#include "emulator/board_emulator.h"
#include "qvx_runner.h"
#include "tests/support/byte_pattern.h"

namespace {

using qvx_test::QvxRunner;

constexpr std::size_t kImageSize = 64 * 1024;

std::vector<std::uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
}

std::vector<std::uint8_t> Pattern(unsigned seed) {
  return testing_support::Pattern(kImageSize, seed);
}

class CliEepromFile : public QvxRunner {
 protected:
  std::string Path(const char* name) { return ::testing::TempDir() + name; }
};

TEST_F(CliEepromFile, DumpWritesTheWholeMemoryWithABarOnlyOnATerminal) {
  const std::vector<std::uint8_t> image = Pattern(3);
  m_board->SetEeprom(0, image);
  const std::string file = Path("qvx_dump.bin");

  qvx_test::Result r = RunEmulated({"eeprom", "dump", file});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "dumped 65536 bytes to " + file + "\n");
  EXPECT_EQ(ReadFile(file), image);
  EXPECT_EQ(m_board->CommandCount(board::CMD_EEPROM_READ), kImageSize / 64);

  r = RunEmulated({"eeprom", "dump", file}, /*terminal=*/true);
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(r.out.find("\rread   [" + std::string(40, '#') + "] 100%\n"), std::string::npos);
  EXPECT_NE(r.out.find("] 50%"), std::string::npos);
  std::remove(file.c_str());
}

// A board that stops answering part-way: the dump stops at the first unanswered page, keeps
// only the pages read, and does not call the file a dump of the memory.
TEST_F(CliEepromFile, DumpStopsAtTheFirstUnansweredPage) {
  const std::vector<std::uint8_t> image = Pattern(5);
  m_board->SetEeprom(0, image);
  m_board->SetAnswerFates([](std::uint64_t command, std::size_t) {
    return emulator::AnswerFate{0, command > 100, false};
  });
  const std::string file = Path("qvx_partial.bin");
  const qvx_test::Result r = RunEmulated({"eeprom", "dump", file});
  EXPECT_EQ(r.code, qvx::kExitNoAnswer);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "qvx: board did not answer at 0x1900: read 6400 of 65536 bytes; '" + file +
                       "' holds only those (incomplete dump)\n");
  EXPECT_EQ(ReadFile(file), std::vector<std::uint8_t>(image.begin(), image.begin() + 6400));
  EXPECT_EQ(m_board->CommandCount(board::CMD_EEPROM_READ), 101u);
  std::remove(file.c_str());
}

TEST_F(CliEepromFile, LoadWritesEveryPageAndVerifies) {
  const std::vector<std::uint8_t> image = Pattern(11);
  const std::string file = Path("qvx_load.bin");
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(kImageSize));

  const qvx_test::Result r = RunEmulated({"eeprom", "load", file}, /*terminal=*/true);
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("write  [" + std::string(40, '#') + "] 100%\n"), std::string::npos);
  EXPECT_NE(r.out.find("verify [" + std::string(40, '#') + "] 100%\n"), std::string::npos);
  EXPECT_NE(r.out.find("loaded 65536 bytes from " + file + ", verified\n"), std::string::npos);
  EXPECT_EQ(m_board->Eeprom(0, kImageSize), image);
  EXPECT_EQ(m_board->CommandCount(board::CMD_EEPROM_WRITE), kImageSize / 64);
  EXPECT_EQ(m_board->CommandCount(board::CMD_EEPROM_READ), kImageSize / 64);
  std::remove(file.c_str());
}

// A board whose EEPROM reads come back with one byte flipped in the page at `bad_page`: the
// verify pass of a load must notice.
class FlakyReadBoard : public platform::SimulatedDevice {
 public:
  explicit FlakyReadBoard(std::uint16_t bad_page) : m_badPage(bad_page) {}

  void OnOutputReport(const std::uint8_t (&report)[platform::kReportSize],
                      std::vector<platform::InputReport>* answers) override {
    const bool parameters = m_afterReadAnnounce;
    m_afterReadAnnounce = report[board::kAnnounceMagic1] == board::kMagic1 &&
                          report[board::kAnnounceMagic2] == board::kMagic2 &&
                          report[board::kAnnounceCommand] == board::CMD_EEPROM_READ;
    const std::size_t before = answers->size();
    m_board.OnOutputReport(report, answers);
    const unsigned address =
        (report[board::kEepromParamAddrHigh] << 8) | report[board::kEepromParamAddrLow];
    if (parameters && address == m_badPage && answers->size() == before + 1) {
      answers->back().bytes[board::kPayloadOffset + 5] ^= 0x01;
    }
  }

  emulator::BoardEmulator& Board() { return m_board; }

 private:
  emulator::BoardEmulator m_board;
  std::uint16_t m_badPage;
  bool m_afterReadAnnounce = false;
};

TEST_F(CliEepromFile, LoadReportsWhatTheVerifyPassFound) {
  auto flaky = std::make_shared<FlakyReadBoard>(0x1240);
  platform::EmulatedHidSystem system;
  system.AddDevice(emulator::HidDescriptionOf(emulator::BoardData()), flaky);
  const std::vector<std::uint8_t> image = Pattern(5);
  const std::string file = Path("qvx_load_flaky.bin");
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(kImageSize));

  std::ostringstream out;
  std::ostringstream err;
  qvx::Environment env;
  env.out = &out;
  env.err = &err;
  env.hardware = &system;
  EXPECT_EQ(qvx::RunQvx({"eeprom", "load", file}, env), qvx::kExitFailed);
  EXPECT_EQ(err.str(), "qvx: verify failed: 1 byte differs, the first at 0x1245\n");
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(flaky->Board().Eeprom(0, kImageSize), image);  // the write itself went through
  std::remove(file.c_str());
}

}  // namespace
