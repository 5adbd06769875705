#include "emulator/board_model.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "board/protocol.h"

namespace emulator {

namespace {

using nlohmann::json;

// Text from the model as a message shows it: on one line, control characters escaped, long
// texts cut.
std::string Printable(const std::string& text) {
  constexpr std::size_t kLongest = 200;
  std::string out;
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u == '\n') {
      out += "\\n";
    } else if (u == '\t') {
      out += "\\t";
    } else if (u < 0x20 || u == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", u);
      out += escaped;
    } else {
      out += c;
    }
    if (out.size() > kLongest) return out + "...";
  }
  return out;
}

// One place in the model: its JSON value and its JSON pointer, for messages.
class Node {
 public:
  Node(const json& value, std::string pointer, const std::string& file)
      : value_(value), pointer_(std::move(pointer)), file_(file) {}

  const json& value() const { return value_; }
  const std::string& file() const { return file_; }

  [[noreturn]] void Fail(const std::string& what) const {
    throw ModelError(file_ + ": " + Printable((pointer_.empty() ? "/" : pointer_) + ": " + what));
  }

  Node Child(const std::string& key) const {
    return Node(value_.at(key), pointer_ + "/" + Escaped(key), file_);
  }
  Node Element(std::size_t index) const {
    return Node(value_.at(index), pointer_ + "/" + std::to_string(index), file_);
  }
  bool Has(const std::string& key) const { return value_.contains(key); }

  // An object of any keys (checked by the caller).
  void ExpectMap() const {
    if (!value_.is_object()) Fail("expected an object, got " + TypeName());
  }

  // An object whose keys are all among `allowed`.
  void ExpectObject(std::initializer_list<const char*> allowed) const {
    ExpectMap();
    for (const auto& item : value_.items()) {
      bool known = false;
      for (const char* k : allowed) known = known || item.key() == k;
      if (known) continue;
      std::string list;
      for (const char* k : allowed) list += (list.empty() ? "" : ", ") + std::string(k);
      Fail("unknown key '" + item.key() + "' (expected one of: " + list + ")");
    }
  }

  std::size_t ExpectArray(std::size_t min, std::size_t max) const {
    if (!value_.is_array()) Fail("expected an array, got " + TypeName());
    if (value_.size() < min || value_.size() > max) {
      Fail("expected " + std::to_string(min) + ".." + std::to_string(max) + " elements, got " +
           std::to_string(value_.size()));
    }
    return value_.size();
  }

  // An integer, given as a JSON number or as text ("0x48", "72").
  unsigned Unsigned(unsigned min, unsigned max) const {
    unsigned long long v = 0;
    if (value_.is_number_unsigned()) {
      v = value_.get<unsigned long long>();
    } else if (value_.is_number_integer()) {
      Fail("expected a number " + Range(min, max) + ", got " + value_.dump());
    } else if (value_.is_string()) {
      const std::string text = value_.get<std::string>();
      const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
      const std::string digits = hex ? text.substr(2) : text;
      if (digits.empty() || digits.size() > 8 ||
          digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") !=
              std::string::npos) {
        Fail("expected a number " + Range(min, max) + " (decimal or 0x hex), got \"" + text + "\"");
      }
      v = std::stoull(digits, nullptr, hex ? 16 : 10);
    } else {
      Fail("expected a number " + Range(min, max) + ", got " + TypeName());
    }
    if (v < min || v > max)
      Fail("expected a number " + Range(min, max) + ", got " + std::to_string(v));
    return static_cast<unsigned>(v);
  }

  bool Bool() const {
    if (!value_.is_boolean()) Fail("expected true or false, got " + TypeName());
    return value_.get<bool>();
  }

  std::string Text() const {
    if (!value_.is_string()) Fail("expected a string, got " + TypeName());
    return value_.get<std::string>();
  }

  std::string OneOf(std::initializer_list<const char*> words) const {
    const std::string text = Text();
    std::string list;
    for (const char* w : words) {
      if (text == w) return text;
      list += (list.empty() ? "" : ", ") + std::string(w);
    }
    Fail("expected one of: " + list + "; got \"" + text + "\"");
  }

 private:
  static std::string Escaped(const std::string& key) {
    std::string out;
    for (char c : key) {
      if (c == '~') {
        out += "~0";
      } else if (c == '/') {
        out += "~1";
      } else {
        out += c;
      }
    }
    return out;
  }
  static std::string Range(unsigned min, unsigned max) {
    char text[48];
    std::snprintf(text, sizeof text, max > 255 ? "%u..%u" : "0x%02X..0x%02X", min, max);
    return text;
  }
  std::string TypeName() const {
    if (value_.is_string()) return "a string";
    if (value_.is_boolean()) return "a boolean";
    if (value_.is_number()) return "a number";
    if (value_.is_array()) return "an array";
    if (value_.is_object()) return "an object";
    return "null";
  }

  const json& value_;
  std::string pointer_;
  const std::string& file_;
};

std::vector<std::uint8_t> HexBytes(const Node& node, std::size_t max) {
  const std::string text = node.Text();
  std::vector<std::uint8_t> out;
  int high = -1;
  for (char c : text) {
    if (c == ' ' || c == '\n' || c == '\t' || c == ',') {
      if (high >= 0) node.Fail("expected hex bytes (pairs of hex digits), got a lone digit");
      continue;
    }
    int v = -1;
    if (c >= '0' && c <= '9') v = c - '0';
    if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    if (v < 0) node.Fail(std::string("expected hex bytes, got the character '") + c + "'");
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<std::uint8_t>(high * 16 + v));
      high = -1;
    }
  }
  if (high >= 0) node.Fail("expected hex bytes (pairs of hex digits), got an odd digit count");
  if (out.size() > max) {
    node.Fail("expected at most " + std::to_string(max) + " bytes, got " +
              std::to_string(out.size()));
  }
  return out;
}

// Content of `size` bytes: "content" (hex text, the rest "fill") or "file" beside the model.
std::vector<std::uint8_t> Content(const Node& owner, std::size_t size, const std::string& folder) {
  std::vector<std::uint8_t> cells(size, kErasedByte);
  if (owner.Has("fill")) {
    cells.assign(size, static_cast<std::uint8_t>(owner.Child("fill").Unsigned(0, 0xFF)));
  }
  if (owner.Has("content") && owner.Has("file")) {
    owner.Fail("expected either 'content' or 'file', not both");
  }
  if (owner.Has("content")) {
    const std::vector<std::uint8_t> bytes = HexBytes(owner.Child("content"), size);
    std::copy(bytes.begin(), bytes.end(), cells.begin());
  }
  if (owner.Has("file")) {
    const Node file = owner.Child("file");
    const std::string name = file.Text();
    const std::string path =
        name.empty() || name[0] == '/' || folder.empty() ? name : folder + "/" + name;
    std::ifstream in(path, std::ios::binary);
    if (!in) file.Fail("cannot read the content file '" + path + "'");
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    if (bytes.size() != size) {
      file.Fail("expected the content file '" + path + "' to hold " + std::to_string(size) +
                " bytes, it holds " + std::to_string(bytes.size()));
    }
    cells = std::move(bytes);
  }
  return cells;
}

SlaveFaults Faults(const Node& node) {
  node.ExpectObject({"nack_first", "nack_while_unpowered", "status"});
  SlaveFaults f;
  if (node.Has("nack_first")) f.nack_first = node.Child("nack_first").Unsigned(0, 1000000);
  if (node.Has("nack_while_unpowered")) {
    f.nack_while_unpowered = node.Child("nack_while_unpowered").Bool();
  }
  if (node.Has("status")) {
    f.status = static_cast<std::uint8_t>(node.Child("status").Unsigned(0, 0xFF));
  }
  return f;
}

MemorySpec Memory(const Node& node, const std::string& folder) {
  node.ExpectObject({"address", "kind", "name", "faults", "size", "address_bytes", "page_size",
                     "write_protect", "content", "file", "fill"});
  MemorySpec m;
  if (!node.Has("size")) node.Fail("a memory needs a 'size'");
  m.size = node.Child("size").Unsigned(1, 65536);
  if (node.Has("address_bytes")) m.address_bytes = node.Child("address_bytes").Unsigned(1, 2);
  if (m.address_bytes == 1 && m.size > 256) {
    node.Child("size").Fail("expected at most 256 bytes with 1 address byte, got " +
                            std::to_string(m.size));
  }
  m.page_size = m.size;
  if (node.Has("page_size")) {
    const Node page = node.Child("page_size");
    m.page_size = page.Unsigned(1, 65536);
    if (m.page_size > m.size || m.size % m.page_size != 0) {
      page.Fail("expected a page size that divides the size " + std::to_string(m.size) + ", got " +
                std::to_string(m.page_size));
    }
  }
  if (node.Has("write_protect")) m.write_protect = node.Child("write_protect").Bool();
  m.content = Content(node, m.size, folder);
  return m;
}

RegistersSpec Registers(const Node& node) {
  node.ExpectObject({"address", "kind", "name", "faults", "pointer_bytes", "auto_increment",
                     "width", "byte_order", "registers"});
  RegistersSpec r;
  if (node.Has("pointer_bytes")) r.pointer_bytes = node.Child("pointer_bytes").Unsigned(1, 2);
  if (node.Has("auto_increment")) r.auto_increment = node.Child("auto_increment").Bool();
  if (node.Has("width")) r.width = node.Child("width").Unsigned(1, 2);
  if (node.Has("byte_order")) {
    r.big_endian = node.Child("byte_order").OneOf({"big", "little"}) == "big";
  }
  const unsigned last_register = r.pointer_bytes == 2 ? 0xFFFF : 0xFF;
  const unsigned max_value = r.width == 2 ? 0xFFFF : 0xFF;
  if (!node.Has("registers")) node.Fail("a register file needs 'registers'");
  const Node list = node.Child("registers");
  const std::size_t n = list.ExpectArray(1, 4096);
  std::set<unsigned> seen;
  for (std::size_t i = 0; i < n; ++i) {
    const Node e = list.Element(i);
    e.ExpectObject({"at", "value", "read_only", "values", "counter", "name"});
    RegisterSpec reg;
    if (!e.Has("at")) e.Fail("a register needs 'at'");
    reg.at = e.Child("at").Unsigned(0, last_register);
    if (!seen.insert(reg.at).second) {
      e.Child("at").Fail("register " + std::to_string(reg.at) + " is given twice");
    }
    if (e.Has("value")) reg.value = e.Child("value").Unsigned(0, max_value);
    if (e.Has("read_only")) reg.read_only = e.Child("read_only").Bool();
    if (e.Has("values") && e.Has("counter")) e.Fail("expected 'values' or 'counter', not both");
    if (e.Has("values") && e.Has("value")) e.Fail("expected 'values' or 'value', not both");
    if (e.Has("values")) {
      const Node values = e.Child("values");
      const std::size_t count = values.ExpectArray(1, 4096);
      for (std::size_t k = 0; k < count; ++k) {
        reg.values.push_back(values.Element(k).Unsigned(0, max_value));
      }
    }
    if (e.Has("counter")) {
      const Node counter = e.Child("counter");
      counter.ExpectObject({"start", "step"});
      if (e.Has("value")) e.Fail("expected 'counter' or 'value', not both");
      if (counter.Has("start")) reg.value = counter.Child("start").Unsigned(0, max_value);
      reg.step = counter.Has("step") ? counter.Child("step").Unsigned(0, max_value) : 1;
    }
    r.registers.push_back(std::move(reg));
  }
  return r;
}

SlaveModel Slave(const Node& node, const std::string& folder) {
  node.ExpectMap();
  if (!node.Has("address")) node.Fail("a slave needs an 'address'");
  if (!node.Has("kind")) node.Fail("a slave needs a 'kind'");
  SlaveModel s;
  s.address = static_cast<std::uint8_t>(node.Child("address").Unsigned(0, 0x7F));
  const std::string kind = node.Child("kind").OneOf({"memory", "registers", "absent"});
  if (kind == "memory") {
    s.kind = SlaveKind::kMemory;
    s.memory = Memory(node, folder);
  } else if (kind == "registers") {
    s.kind = SlaveKind::kRegisters;
    s.registers = Registers(node);
  } else {
    node.ExpectObject({"address", "kind", "name"});
    s.kind = SlaveKind::kAbsent;
  }
  if (node.Has("faults")) s.faults = Faults(node.Child("faults"));
  return s;
}

SensorBlock Block(const Node& node, int channel) {
  SensorBlock block = DefaultSensorBlock(channel);
  const std::size_t n = node.ExpectArray(1, board::kSensorValueCount);
  for (std::size_t k = 0; k < n; ++k) {
    const unsigned v = node.Element(k).Unsigned(0, 0xFFFF);
    block[2 * k] = static_cast<std::uint8_t>(v >> 8);
    block[2 * k + 1] = static_cast<std::uint8_t>(v);
  }
  return block;
}

std::uint8_t CommandCode(const Node& owner, const std::string& key) {
  static const std::uint8_t kCodes[] = {board::CMD_I2C_READ,       board::CMD_I2C_WRITE,
                                        board::CMD_I2C_SPEED,      board::CMD_EEPROM_WRITE,
                                        board::CMD_EEPROM_READ,    board::CMD_GET_LINES,
                                        board::CMD_SET_LINES,      board::CMD_SENSOR_DATA,
                                        board::CMD_EXPAND_CHANNEL, board::CMD_HARDWARE_RESET};
  const json text(key);
  const unsigned code = Node(text, "", owner.file()).Unsigned(0, 0xFF);
  for (std::uint8_t c : kCodes) {
    if (c == code) return c;
  }
  owner.Child(key).Fail(
      "expected a command code (0x1A, 0x1B, 0x1C, 0x22, 0x23, 0x24, 0x25, "
      "0x30, 0x50, 0xFD), got \"" +
      key + "\"");
}

void Answers(const Node& node, BoardModel* model) {
  node.ExpectObject({"mode", "late_delay_ms", "commands"});
  if (node.Has("mode")) {
    const std::string mode = node.Child("mode").OneOf({"normal", "silent", "late"});
    model->mode = mode == "silent" ? AnswerMode::kSilent
                  : mode == "late" ? AnswerMode::kLate
                                   : AnswerMode::kNormal;
  }
  if (node.Has("late_delay_ms")) {
    model->data.late_delay_ms = node.Child("late_delay_ms").Unsigned(0, 600000);
  }
  if (!node.Has("commands")) return;
  const Node commands = node.Child("commands");
  commands.ExpectMap();  // keys checked one by one below
  for (const auto& item : commands.value().items()) {
    const std::uint8_t code = CommandCode(commands, item.key());
    const Node fate = commands.Child(item.key());
    fate.ExpectObject({"delay_ms", "drop", "duplicate"});
    AnswerFate f;
    if (fate.Has("delay_ms")) f.delay_ms = fate.Child("delay_ms").Unsigned(0, 600000);
    if (fate.Has("drop")) f.drop = fate.Child("drop").Bool();
    if (fate.Has("duplicate")) f.duplicate = fate.Child("duplicate").Bool();
    model->fates[code] = f;
  }
}

std::string DefaultPath(std::size_t index) {
  return "\\\\?\\hid#vid_04b4&pid_e006#emulated&" + std::to_string(index) +
         "#{4d1e55b2-f16f-11cf-88cb-001111000030}";
}

BoardModel Board(const Node& node, std::size_t index, const std::string& folder) {
  node.ExpectObject({"name", "path", "serial", "location", "eeprom", "lines", "inputs", "sensors",
                     "answers", "slaves"});
  BoardModel m;
  m.data.path = node.Has("path") ? node.Child("path").Text() : DefaultPath(index);
  if (m.data.path.empty()) node.Child("path").Fail("expected a device path, got an empty one");
  if (node.Has("serial")) {
    const std::string serial = node.Child("serial").Text();
    m.data.serial.assign(serial.begin(), serial.end());
  }
  if (node.Has("location")) m.data.location = node.Child("location").Text();
  if (node.Has("eeprom")) {
    const Node eeprom = node.Child("eeprom");
    eeprom.ExpectObject({"content", "file", "fill"});
    m.data.eeprom = Content(eeprom, kEepromSize, folder);
  }
  if (node.Has("lines")) {
    const Node lines = node.Child("lines");
    lines.ExpectObject({"reset", "fail", "error", "pass", "buzzer", "power"});
    const std::pair<const char*, std::size_t> kLines[] = {
        {"reset", board::kLineReset},    {"fail", board::kLineLedFail},
        {"error", board::kLineLedError}, {"pass", board::kLineLedPass},
        {"buzzer", board::kLineBuzzer},  {"power", board::kLinePower}};
    for (const auto& [key, at] : kLines) {
      if (lines.Has(key)) m.data.power_up_lines[at] = lines.Child(key).Bool() ? 1 : 0;
    }
  }
  if (node.Has("inputs")) {
    const Node inputs = node.Child("inputs");
    inputs.ExpectObject({"keys", "int"});
    if (inputs.Has("keys")) {
      const Node keys = inputs.Child("keys");
      const std::size_t n = keys.ExpectArray(3, 3);
      for (std::size_t k = 0; k < n; ++k) m.keys[k] = keys.Element(k).Bool();
    }
    if (inputs.Has("int")) m.int_high = inputs.Child("int").Bool();
  }
  if (node.Has("sensors")) {
    const Node sensors = node.Child("sensors");
    sensors.ExpectObject({"own", "channels"});
    if (sensors.Has("own")) {
      m.sensors.emplace_back(kOwnSensorBlock, Block(sensors.Child("own"), kOwnSensorBlock));
    }
    if (sensors.Has("channels")) {
      const Node channels = sensors.Child("channels");
      channels.ExpectMap();
      for (const auto& item : channels.value().items()) {
        const json key(item.key());
        const int channel = static_cast<int>(Node(key, "", node.file()).Unsigned(0, 255));
        m.sensors.emplace_back(channel, Block(channels.Child(item.key()), channel));
      }
    }
  }
  if (node.Has("answers")) Answers(node.Child("answers"), &m);
  if (node.Has("slaves")) {
    const Node slaves = node.Child("slaves");
    const std::size_t n = slaves.ExpectArray(0, 128);
    std::set<unsigned> addresses;
    for (std::size_t i = 0; i < n; ++i) {
      SlaveModel s = Slave(slaves.Element(i), folder);
      if (!addresses.insert(s.address).second) {
        char text[64];
        std::snprintf(text, sizeof text, "two slaves at address 0x%02X", s.address);
        slaves.Element(i).Child("address").Fail(text);
      }
      m.slaves.push_back(std::move(s));
    }
  }
  return m;
}

// Turns nlohmann's "parse error at line L, column C: what" into "file:L:C: what".
std::string SyntaxMessage(const std::string& file, const json::parse_error& e) {
  std::string what = e.what();
  const std::string marker = "parse error at line ";
  const std::size_t at = what.find(marker);
  if (at == std::string::npos) return file + ": syntax error: " + Printable(what);
  unsigned line = 0;
  unsigned column = 0;
  if (std::sscanf(what.c_str() + at + marker.size(), "%u, column %u", &line, &column) != 2) {
    return file + ": syntax error: " + Printable(what);
  }
  const std::size_t colon = what.find(": ", at);
  const std::string rest = colon == std::string::npos ? what : what.substr(colon + 2);
  return file + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " + Printable(rest);
}

}  // namespace

std::vector<BoardModel> ParseBoardModel(const std::string& text, const std::string& file,
                                        const std::string& folder) {
  json root;
  try {
    root = json::parse(text);
  } catch (const json::parse_error& e) {
    throw ModelError(SyntaxMessage(file, e));
  } catch (const json::exception& e) {
    // A number beyond what a double holds ("1e999") is refused as the text is read.
    std::string what = e.what();
    const std::size_t bracket = what.find("] ");
    if (bracket != std::string::npos) what = what.substr(bracket + 2);
    throw ModelError(file + ": " + Printable(what));
  }
  const Node top(root, "", file);
  top.ExpectObject({"boards"});
  if (!top.Has("boards")) top.Fail("a model needs 'boards'");
  const Node boards = top.Child("boards");
  const std::size_t n = boards.ExpectArray(1, 64);
  std::vector<BoardModel> out;
  std::set<std::string> paths;
  for (std::size_t i = 0; i < n; ++i) {
    out.push_back(Board(boards.Element(i), i, folder));
    if (!paths.insert(out.back().data.path).second) {
      boards.Element(i).Fail("two boards with the path '" + out.back().data.path + "'");
    }
  }
  return out;
}

std::vector<BoardModel> LoadBoardModelFile(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw ModelError(file + ": cannot read the model file");
  std::ostringstream text;
  text << in.rdbuf();
  const std::size_t slash = file.find_last_of("/\\");
  const std::string folder = slash == std::string::npos ? "" : file.substr(0, slash);
  return ParseBoardModel(text.str(), file, folder);
}

ModelledBoard BuildBoard(const BoardModel& model) {
  ModelledBoard built;
  built.board = std::make_shared<BoardEmulator>(model.data);
  BoardEmulator& board = *built.board;
  board.DetachI2cSlave(kSerialMemoryAddress);  // the bus holds exactly the model's slaves
  for (std::size_t k = 0; k < model.keys.size(); ++k) {
    board.SetKey(static_cast<int>(k + 1), model.keys[k]);
  }
  board.SetInt(model.int_high);
  for (const auto& [channel, block] : model.sensors) board.SetSensor(channel, block);
  board.SetAnswerMode(model.mode);
  for (const auto& [code, fate] : model.fates) board.SetCommandFate(code, fate);
  for (const SlaveModel& s : model.slaves) {
    std::shared_ptr<ModelSlave> slave;
    switch (s.kind) {
      case SlaveKind::kMemory:
        slave = std::make_shared<ModelMemory>(s.memory, s.faults);
        break;
      case SlaveKind::kRegisters:
        slave = std::make_shared<ModelRegisters>(s.registers, s.faults);
        break;
      case SlaveKind::kAbsent:
        board.AttachI2cSlave(s.address, std::make_shared<AbsentSlave>());
        continue;
    }
    BoardEmulator* owner = built.board.get();
    slave->SetPowerProbe([owner] { return owner->PowerLineOnLocked(); });
    board.AttachModelSlave(s.address, std::move(slave));
  }
  built.description = HidDescriptionOf(model.data);
  return built;
}

}  // namespace emulator
