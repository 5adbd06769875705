// qvx with board models: the documented examples behave as docs/emulator.md says, a bad model
// is refused with one message naming the file, the place and what was expected, --board picks
// one of several boards, and a modelled memory keeps its content across runs in a state file.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "state_runner.h"
#include "tests/support/model_examples.h"
#include "tools/emulated_state_file.h"

namespace {

using qvx_test::Result;
using qvx_test::StateRunner;

class CliModel : public StateRunner {
 protected:
  CliModel() : m_folder(qvx_test::UniqueTempPath("qvx_models_")) {
    EXPECT_EQ(mkdir(m_folder.c_str(), 0700), 0) << m_folder;
  }
  ~CliModel() override {
    for (const std::string& f : m_files) std::remove(f.c_str());
    rmdir(m_folder.c_str());
  }
  // Writes `text` to a file of the test's own and returns its path.
  std::string ModelFile(const std::string& text, const std::string& name = "model.json") {
    const std::string path = m_folder + "/" + name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    m_files.push_back(path);
    return path;
  }
  std::string Documented(const char* name) {
    const std::string text = testing_support::DocumentedModel(QVX_DOCS_EMULATOR, name);
    EXPECT_FALSE(text.empty()) << name;
    return ModelFile(text, std::string(name) + ".json");
  }
  Result WithModel(const std::string& model, std::vector<std::string> args) {
    args.insert(args.begin(), {"--emulated-model", model});
    return Run(args);
  }
  // Runs of qvx with `model` that share the test's state file, one after the other.
  std::function<Result(std::vector<std::string>)> StatefulWithModel(const std::string& model) {
    return [this, model](std::vector<std::string> args) {
      args.insert(args.begin(), {"--emulated-model", model});
      return Stateful(args);
    };
  }
  const std::string m_folder;  // of the test's own: its models and content files
  std::vector<std::string> m_files;
};

// One command of a documented session and what it must print.
struct Expected {
  std::vector<std::string> args;
  int code;
  const char* out;
};

void RunSession(const std::vector<Expected>& session,
                const std::function<Result(std::vector<std::string>)>& run) {
  for (const Expected& e : session) {
    std::string line;
    for (const std::string& a : e.args) line += a + " ";
    SCOPED_TRACE(line);
    const Result r = run(e.args);
    EXPECT_EQ(r.code, e.code) << r.err;
    EXPECT_EQ(r.out, e.out);
  }
}

TEST_F(CliModel, TheSensorExampleIsTheOneInExamplesAndReadsAsDocumented) {
  const std::string model = Documented("sensor-and-eeprom");
  EXPECT_EQ(testing_support::ReadTextFile(model),
            testing_support::ReadTextFile(QVX_EXAMPLES_DIR "/sensor_board.json"));
  // The runs share a state file: the register pointer and the place in the temperature's
  // values carry over from one run to the next.
  RunSession({{{"i2c", "write", "48", "00"}, 0, "status 0x00\n"},
              {{"i2c", "read", "48", "8"}, 0, "status 0x00\n0000: 19 00 19 10 19 20 19 30\n"},
              {{"i2c", "read", "48", "2"}, 0, "status 0x00\n0000: 19 00\n"},
              {{"i2c", "write", "48", "00", "12", "34"}, 0, "status 0x00\n"},
              {{"i2c", "write", "48", "01"}, 0, "status 0x00\n"},
              {{"i2c", "read", "48", "2"}, 0, "status 0x00\n0000: 00 60\n"},
              {{"i2c", "write", "50", "00"}, 0, "status 0x00\n"},
              {{"i2c", "read", "50", "6"}, 0, "status 0x00\n0000: 51 56 58 2D 31 FF\n"},
              {{"i2c", "read", "49", "1"}, qvx::kExitI2cStatus, "status 0x01\n0000: FF\n"}},
             StatefulWithModel(model));
}

TEST_F(CliModel, ThePowerGatedExampleNacksUntilPowerIsOn) {
  const std::string model = Documented("power-gated");
  RunSession({{{"i2c", "write", "50", "00", "00", "AB"}, qvx::kExitI2cStatus, "status 0x01\n"},
              {{"set", "power", "on"}, 0, "power on\n"},
              {{"i2c", "write", "50", "00", "00", "AB"}, 0, "status 0x00\n"},
              {{"i2c", "write", "50", "00", "00"}, 0, "status 0x00\n"},
              {{"i2c", "read", "50", "2"}, 0, "status 0x00\n0000: AB 00\n"},
              {{"set", "power", "off"}, 0, "power off\n"},
              {{"i2c", "read", "50", "1"}, qvx::kExitI2cStatus, "status 0x01\n0000: FF\n"}},
             StatefulWithModel(model));
}

TEST_F(CliModel, BoardSelectorsPickOneOfTheBenchBoards) {
  const std::string model = Documented("bench");
  struct Case {
    const char* selector;
    int code;
    const char* out;  // reading the memory at 0x50
    const char* err;
  };
  const Case cases[] = {
      {"first", 0, "status 0x00\n0000: FF\n", ""},
      {"index:1", 0, "status 0x00\n0000: B2\n", ""},
      {"serial:QVX-B2", 0, "status 0x00\n0000: B2\n", ""},
      {"location:1-2", 0, "status 0x00\n0000: B2\n", ""},
      {"path:\\\\?\\hid#vid_04b4&pid_e006#emulated&1#{4d1e55b2-f16f-11cf-88cb-001111000030}", 0,
       "status 0x00\n0000: B2\n", ""},
      {"serial:QVX-B4", qvx::kExitI2cStatus, "status 0x01\n0000: FF\n",
       "qvx: I2C slave 0x50 answered with status 0x01\n"},
      {"index:4", 1, "", "qvx: no board matches index:4 (4 boards found)\n"},
      {"serial:qvx-b2", 1, "", "qvx: no board matches serial:qvx-b2 (4 boards found)\n"},
      {"location:1-2.1", 1, "", "qvx: no board matches location:1-2.1 (4 boards found)\n"},
      {"serial:", 2, "", "qvx: bad board selector 'serial:': nothing after 'serial:'\n"},
      {"index:x", 2, "",
       "qvx: bad board selector 'index:x': expected index:N with N a decimal number 0..9999\n"},
      {"second", 2, "",
       "qvx: bad board selector 'second': expected first, index:N, serial:TEXT, "
       "location:TEXT or path:TEXT\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.selector);
    const Result r = WithModel(model, {"--board", c.selector, "i2c", "read", "50", "1"});
    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
  }
  // The fourth board's key 1 is pressed; the third answers its sensor block too late.
  EXPECT_NE(WithModel(model, {"--board", "index:3", "lines"}).out.find("key1"), std::string::npos);
  EXPECT_EQ(WithModel(model, {"--board", "index:2", "sensor"}).code, qvx::kExitNoAnswer);
  EXPECT_EQ(WithModel(model, {"--board", "index:1", "sensor"}).code, 0);
}

TEST_F(CliModel, ABadModelGivesOneMessageAndExitCodeTwo) {
  const std::string dir = m_folder + "/";
  ModelFile(std::string(10, 'x'), "qvx_short.bin");
  auto slave = [](const std::string& s) { return R"({"boards": [{"slaves": [)" + s + "]}]}"; };
  struct Case {
    std::string model;
    std::string message;  // after "qvx: FILE"
  };
  const Case cases[] = {
      {"{\"boards\": [\n  {\"serial\": \"x\",}\n]}",
       ":2:18: syntax error while parsing object key"},
      {"", ":1:1: syntax error while parsing value"},
      {R"({"boards": [{"slaves": [{"address": 1e999}]}]})", ": number overflow parsing '1e999'"},
      {R"({"board": []})", ": /: unknown key 'board' (expected one of: boards)"},
      {R"({})", ": /: a model needs 'boards'"},
      {R"({"boards": []})", ": /boards: expected 1..64 elements, got 0"},
      {R"({"boards": [{"colour": 1}]})", ": /boards/0: unknown key 'colour'"},
      {R"({"boards": [{"a\nb\u0001": 1}]})", ": /boards/0: unknown key 'a\\nb\\x01'"},
      {slave(R"({"address": 80, "kind": "rom"})"),
       ": /boards/0/slaves/0/kind: expected one of: memory, registers, absent; got \"rom\""},
      {slave(R"({"address": "0x80", "kind": "absent"})"),
       ": /boards/0/slaves/0/address: expected a number 0x00..0x7F, got 128"},
      {slave(R"({"address": -3, "kind": "absent"})"),
       ": /boards/0/slaves/0/address: expected a number 0x00..0x7F, got -3"},
      {slave(R"({"address": "0x5Q", "kind": "absent"})"),
       ": /boards/0/slaves/0/address: expected a number 0x00..0x7F (decimal or 0x hex), got"},
      {slave(R"({"address": true, "kind": "absent"})"),
       ": /boards/0/slaves/0/address: expected a number 0x00..0x7F, got a boolean"},
      {slave(R"({"kind": "absent"})"), ": /boards/0/slaves/0: a slave needs an 'address'"},
      {slave(R"({"address": 80, "kind": "memory"})"),
       ": /boards/0/slaves/0: a memory needs a 'size'"},
      {slave(R"({"address": 80, "kind": "memory", "size": 0})"),
       ": /boards/0/slaves/0/size: expected a number 1..65536, got 0"},
      {slave(R"({"address": 80, "kind": "memory", "size": 512})"),
       ": /boards/0/slaves/0/size: expected at most 256 bytes with 1 address byte, got 512"},
      {slave(R"({"address": 80, "kind": "memory", "size": 256, "page_size": 7})"),
       ": /boards/0/slaves/0/page_size: expected a page size that divides the size 256, got 7"},
      {slave(R"({"address": 80, "kind": "memory", "size": 4, "content": "01 02 03 04 05"})"),
       ": /boards/0/slaves/0/content: expected at most 4 bytes, got 5"},
      {slave(R"({"address": 80, "kind": "memory", "size": 4, "content": "012"})"),
       ": /boards/0/slaves/0/content: expected hex bytes (pairs of hex digits)"},
      {slave(R"({"address": 80, "kind": "memory", "size": 16, "file": "qvx_none.bin"})"),
       ": /boards/0/slaves/0/file: cannot read the content file"},
      {slave(R"({"address": 80, "kind": "memory", "size": 16, "file": "qvx_short.bin"})"),
       ": /boards/0/slaves/0/file: expected the content file '" + dir +
           "qvx_short.bin' to hold 16 bytes, it holds 10"},
      {slave(R"({"address": 80, "kind": "registers", "width": 3, "registers": [{"at": 0}]})"),
       ": /boards/0/slaves/0/width: expected a number 0x01..0x02, got 3"},
      {slave(R"({"address": 80, "kind": "registers", "registers": [{"at": 0, "value": 256}]})"),
       ": /boards/0/slaves/0/registers/0/value: expected a number 0x00..0xFF, got 256"},
      {slave(R"({"address": 80, "kind": "registers", "registers": [{"at": 1}, {"at": 1}]})"),
       ": /boards/0/slaves/0/registers/1/at: register 1 is given twice"},
      {slave(R"({"address": 80, "kind": "registers",
                 "registers": [{"at": 1, "values": [1], "counter": {}}]})"),
       ": /boards/0/slaves/0/registers/0: expected 'values' or 'counter', not both"},
      {slave(R"({"address": 80, "kind": "absent", "faults": {"nack_first": 1}})"),
       ": /boards/0/slaves/0: unknown key 'faults'"},
      {slave(R"({"address": 80, "kind": "memory", "size": 4, "faults": {"nack": 1}})"),
       ": /boards/0/slaves/0/faults: unknown key 'nack'"},
      {slave(R"({"address": 80, "kind": "absent"}, {"address": "0x50", "kind": "absent"})"),
       ": /boards/0/slaves/1/address: two slaves at address 0x50"},
      {R"({"boards": [{"answers": {"commands": {"0x99": {}}}}]})",
       ": /boards/0/answers/commands/0x99: expected a command code"},
      {R"({"boards": [{"inputs": {"keys": [true]}}]})",
       ": /boards/0/inputs/keys: expected 3..3 elements, got 1"},
      {R"({"boards": [{"path": "p"}, {"path": "p"}]})",
       ": /boards/1: two boards with the path 'p'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.model);
    const std::string model = ModelFile(c.model);
    const Result r = WithModel(model, {"lines"});
    EXPECT_EQ(r.code, qvx::kExitUsage);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("qvx: " + model + c.message, 0), 0u) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
  }
  const Result missing = WithModel(dir + "qvx_no_model.json", {"lines"});
  EXPECT_EQ(missing.code, qvx::kExitUsage);
  EXPECT_EQ(missing.err, "qvx: " + dir + "qvx_no_model.json: cannot read the model file\n");
}

TEST_F(CliModel, AContentFileBesideTheModelIsRead) {
  std::string bytes(16, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(0xA0 + i);
  ModelFile(bytes, "qvx_content16.bin");
  const std::string model = ModelFile(
      R"({"boards": [{"slaves": [{"address": 80, "kind": "memory", "size": 16,
          "file": "qvx_content16.bin"}]}]})");
  EXPECT_EQ(WithModel(model, {"i2c", "read", "50", "3"}).out, "status 0x00\n0000: A0 A1 A2\n");
}

// A modelled memory written in one run is read back in the next; the file is then version 2,
// and a version 1 file (of the default board) still loads into the modelled board.
TEST_F(CliModel, AModelledMemoryKeepsItsContentAcrossRuns) {
  const std::string model = Documented("sensor-and-eeprom");
  const auto run = StatefulWithModel(model);
  RunSession({{{"i2c", "write", "50", "10", "CA", "FE"}, 0, "status 0x00\n"},
              {{"eeprom", "write", "0100", "77"}, 0, "wrote 1 bytes at 0x0100\n"},
              {{"i2c", "write", "50", "10"}, 0, "status 0x00\n"},
              {{"i2c", "read", "50", "2"}, 0, "status 0x00\n0000: CA FE\n"},
              {{"eeprom", "read", "0100", "1"}, 0, "0100: 77\n"}},
             run);
  const std::vector<std::uint8_t> file = qvx_test::FileBytes(m_state);
  ASSERT_GT(file.size(), qvx::kStateFileSize);
  EXPECT_EQ(file[qvx::kStateVersionAt], 2);

  Clean();
  ASSERT_EQ(Stateful({"eeprom", "write", "0200", "55"}).code, 0);  // the default board
  ASSERT_EQ(qvx_test::FileBytes(m_state).size(), qvx::kStateFileSize);
  RunSession({{{"eeprom", "read", "0200", "1"}, 0, "0200: 55\n"},
              {{"i2c", "write", "50", "00"}, 0, "status 0x00\n"},
              {{"i2c", "read", "50", "3"}, 0, "status 0x00\n0000: 51 56 58\n"}},
             run);

  // A version 2 file of another model is refused before anything runs.
  const std::string other = Documented("power-gated");
  const Result r = Run({"--emulated-model", other, "--emulated-state", m_state, "lines"});
  EXPECT_EQ(r.code, qvx::kExitUsage);
  EXPECT_NE(r.err.find("holds a board state this emulator cannot take"), std::string::npos)
      << r.err;
}

TEST_F(CliModel, TheVariableNamesTheModelAndTheOptionWins) {
  m_environment_model = Documented("sensor-and-eeprom");
  EXPECT_EQ(Run({"i2c", "read", "48", "2"}).out, "status 0x00\n0000: 19 00\n");
  const std::string gated = Documented("power-gated");
  EXPECT_EQ(WithModel(gated, {"i2c", "read", "48", "2"}).out, "status 0x01\n0000: FF FF\n");
  m_environment_model = m_folder + "/qvx_no_model.json";
  EXPECT_EQ(Run({"lines"}).code, qvx::kExitUsage);
}

TEST_F(CliModel, HelpNamesTheModelAndBoardOptions) {
  const Result r = Run({"--help"});
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(r.out.find("--emulated-model FILE"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("--board SELECTOR"), std::string::npos) << r.out;
}

}  // namespace
