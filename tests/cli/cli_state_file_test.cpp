// The state file itself: its layout, and what the tool does with files it cannot use (refuses
// them before anything runs, and leaves them as they are) or cannot write.
#include <cstdlib>
#include <cstring>

#include "board/protocol.h"
#include "state_runner.h"
#include "tests/support/same_board_state.h"
#include "tools/emulated_state_file.h"

namespace {

using qvx_test::FileBytes;
using qvx_test::Result;
using qvx_test::StateRunner;
using Bytes = std::vector<std::uint8_t>;

std::uint32_t Le(const Bytes& b, std::size_t at, std::size_t n) {
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < n; ++i) v |= static_cast<std::uint32_t>(b[at + i]) << (8 * i);
  return v;
}

void Reseal(Bytes& b) {
  const std::uint32_t crc = qvx::Crc32(b.data(), qvx::kStateCrcAt);
  for (std::size_t i = 0; i < 4; ++i)
    b[qvx::kStateCrcAt + i] = static_cast<std::uint8_t>(crc >> (8 * i));
}

TEST(StateFileLayout, FieldsSitAtTheirDocumentedOffsets) {
  const char check[] = "123456789";
  EXPECT_EQ(qvx::Crc32(reinterpret_cast<const std::uint8_t*>(check), 9), 0xCBF43926u);

  emulator::BoardState s;
  s.eeprom.assign(emulator::kEepromSize, 0x11);
  s.eeprom.front() = 0xE0;
  s.eeprom.back() = 0xEF;
  s.serial_memory.assign(emulator::kSerialMemorySize, 0x22);
  s.serial_memory.front() = 0xD0;
  s.serial_memory.back() = 0xDF;
  s.serial_pointer = 0x7ABC;
  s.lines[0] = 0x31;
  s.lines[63] = 0x3F;
  s.keys = {true, false, true};
  s.int_high = true;
  s.speed_code = 0x03;
  s.channel = 0xC4;
  const Bytes b = qvx::EncodeBoardState(s);

  ASSERT_EQ(b.size(), 98388u);
  EXPECT_EQ(std::string(b.begin(), b.begin() + 8), "QVXSTATE");
  EXPECT_EQ(Le(b, 8, 2), 1u);
  EXPECT_EQ(b[10], 0x03);
  EXPECT_EQ(b[11], 0x0D);  // key 1, key 3, INT
  EXPECT_EQ(b[12], 1);
  EXPECT_EQ(b[13], 0xC4);
  EXPECT_EQ(Le(b, 14, 2), 0x7ABCu);
  EXPECT_EQ(b[16], 0x31);
  EXPECT_EQ(b[79], 0x3F);
  EXPECT_EQ(b[80], 0xE0);
  EXPECT_EQ(b[80 + 65535], 0xEF);
  EXPECT_EQ(b[65616], 0xD0);
  EXPECT_EQ(b[65616 + 32767], 0xDF);
  EXPECT_EQ(Le(b, 98384, 4), qvx::Crc32(b.data(), 98384));

  const emulator::BoardState back = qvx::DecodeBoardState(b, "x");
  testing_support::ExpectSameState(back, s);

  s.channel = emulator::kNoChannel;
  const Bytes none = qvx::EncodeBoardState(s);
  EXPECT_EQ(none[12], 0);
  EXPECT_EQ(none[13], 0);
  EXPECT_EQ(qvx::DecodeBoardState(none, "x").channel, emulator::kNoChannel);
}

class CliStateFile : public StateRunner {
 protected:
  // A valid file of a board with 0x42 at EEPROM 0x20.
  Bytes GoodFile() {
    EXPECT_EQ(Stateful({"eeprom", "write", "20", "42"}).code, 0);
    return FileBytes(m_state);
  }
};

TEST_F(CliStateFile, AnUnusableFileIsRefusedAndLeftAsItIs) {
  const Bytes good = GoodFile();
  ASSERT_EQ(good.size(), qvx::kStateFileSize);
  struct Case {
    const char* name;
    Bytes bytes;
    const char* message;
  };
  auto changed = [&](void (*spoil)(Bytes&)) {
    Bytes b = good;
    spoil(b);
    return b;
  };
  const Case cases[] = {
      {"empty", {}, "is not an emulated-board state file (bad header)"},
      {"other magic", changed([](Bytes& b) { b[0] = 'X'; }), "(bad header)"},
      {"text", Bytes{'h', 'e', 'l', 'l', 'o', '\n'}, "(bad header)"},
      {"magic only", Bytes(good.begin(), good.begin() + 8), "is truncated: 8 bytes"},
      {"header only", Bytes(good.begin(), good.begin() + 16), "is truncated: 16 bytes"},
      {"cut in the EEPROM", Bytes(good.begin(), good.begin() + 500),
       "is truncated: 500 bytes, a state file holds 98388"},
      {"no checksum", Bytes(good.begin(), good.end() - 4), "is truncated: 98384 bytes"},
      {"a byte too many", changed([](Bytes& b) { b.push_back(0); }), "is damaged: 98389 bytes"},
      {"version 3", changed([](Bytes& b) { b[8] = 3; }),
       "is a state file of version 3; this emulator reads versions 1 and 2"},
      {"version 2 without its slaves", changed([](Bytes& b) { b[8] = 2, Reseal(b); }),
       "is damaged: bad modelled slave section"},
      {"EEPROM byte flipped", changed([](Bytes& b) { b[qvx::kStateEepromAt + 0x20] ^= 1; }),
       "is damaged: its checksum does not match"},
      {"checksum flipped", changed([](Bytes& b) { b.back() ^= 0x80; }), "checksum does not match"},
      {"unknown input bits", changed([](Bytes& b) { b[qvx::kStateInputsAt] = 0x10, Reseal(b); }),
       "is damaged: bad inputs field"},
      {"channel flag 2", changed([](Bytes& b) { b[qvx::kStateChannelSelectedAt] = 2, Reseal(b); }),
       "bad expander channel field"},
      {"pointer 0x8000", changed([](Bytes& b) { b[qvx::kStatePointerAt + 1] = 0x80, Reseal(b); }),
       "bad serial memory pointer field"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    qvx_test::WriteFileBytes(m_state, c.bytes);
    const Result r = Stateful({"eeprom", "write", "20", "43"});
    EXPECT_EQ(r.code, qvx::kExitUsage);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("qvx: '" + m_state + "' ", 0), 0u) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(FileBytes(m_state), c.bytes);
    EXPECT_FALSE(qvx_test::FileExists(m_state + ".tmp"));
  }

  // The good file still works after all that, and the refused writes never happened.
  qvx_test::WriteFileBytes(m_state, good);
  EXPECT_EQ(Stateful({"eeprom", "read", "20", "1"}).out, "0020: 42\n");
}

TEST_F(CliStateFile, BadArgumentsAreReportedBeforeTheFileIsLookedAt) {
  qvx_test::WriteFileBytes(m_state, {'x'});
  Result r = Stateful({"eeprom", "read", "10000", "1"});
  EXPECT_EQ(r.code, qvx::kExitUsage);
  EXPECT_NE(r.err.find("bad EEPROM address"), std::string::npos) << r.err;

  r = Run({"--emulated-state", "", "lines"});
  EXPECT_EQ(r.code, qvx::kExitUsage);
  EXPECT_EQ(r.err, "qvx: bad --emulated-state: empty file name\n");
}

TEST_F(CliStateFile, AFileThatCannotBeReadIsRefused) {
  const std::string dir = m_state + "_dir";
  ASSERT_EQ(std::system(("mkdir -p '" + dir + "'").c_str()), 0);
  const Result r = Run({"--emulated-state", dir, "lines"});
  EXPECT_EQ(r.code, qvx::kExitUsage);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("qvx: cannot read state file '" + dir + "': ", 0), 0u) << r.err;
  std::remove(dir.c_str());
}

TEST_F(CliStateFile, AFailedSaveLeavesTheOldStateWhole) {
  const Bytes good = GoodFile();
  // FILE.tmp cannot be created: a directory is in the way.
  const std::string tmp = m_state + ".tmp";
  ASSERT_EQ(std::system(("mkdir '" + tmp + "'").c_str()), 0);
  Result r = Stateful({"eeprom", "write", "20", "43"});
  EXPECT_EQ(r.code, qvx::kExitFailed);
  EXPECT_EQ(r.out, "wrote 1 bytes at 0x0020\n");  // the command ran; its effect is lost
  EXPECT_EQ(r.err.rfind("qvx: cannot write state file '" + tmp + "': ", 0), 0u) << r.err;
  EXPECT_EQ(FileBytes(m_state), good);
  std::remove(tmp.c_str());

  // A state file in a folder that does not exist.
  r = Run({"--emulated-state", m_state + "_none/state", "lines"});
  EXPECT_EQ(r.code, qvx::kExitFailed);
  EXPECT_NE(r.err.find("cannot write state file"), std::string::npos) << r.err;
}

}  // namespace
