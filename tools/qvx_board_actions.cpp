// The commands that are one or two board exchanges: speed, lines, expander, sensor, reset.
#include <cstdio>
#include <iterator>

#include "board/protocol.h"
#include "tools/hex_text.h"
#include "tools/qvx_actions.h"

namespace qvx {

namespace {

struct LineName {
  const char* name;
  std::size_t record_byte;
  void (CUSBChannel::*set)(int);  // nullptr for the inputs
};

constexpr LineName kLines[] = {
    {"power", board::kLinePower, &CUSBChannel::SetPower},
    {"reset", board::kLineReset, &CUSBChannel::SetReset},
    {"buzzer", board::kLineBuzzer, &CUSBChannel::SetBuzzer},
    {"pass", board::kLineLedPass, &CUSBChannel::SetLedPass},
    {"fail", board::kLineLedFail, &CUSBChannel::SetLedFail},
    {"error", board::kLineLedError, &CUSBChannel::SetLedError},
    {"int", board::kLineInt, nullptr},
    {"key1", board::kLineKey1, nullptr},
    {"key2", board::kLineKey2, nullptr},
    {"key3", board::kLineKey3, nullptr},
};

std::string Quoted(const std::string& text) {
  return "'" + text + "'";
}

}  // namespace

void RequireAnswer(const CUSBChannel& board, const std::string& what) {
  if (!board.LastCommandAnswered()) throw NoAnswer("board did not " + what);
}

std::uint8_t ParseByteArg(const std::string& text, std::uint32_t max, const char* what) {
  std::uint32_t value = 0;
  if (!ParseHex(text, max, &value)) {
    throw UsageError(std::string("bad ") + what + " " + Quoted(text) + ": expected hex 00.." +
                     HexByte(max).substr(2));
  }
  return static_cast<std::uint8_t>(value);
}

std::vector<std::uint8_t> ParseBytesArg(const std::vector<std::string>& texts,
                                        std::size_t max_count) {
  if (texts.size() > max_count) {
    throw UsageError("too many bytes: " + std::to_string(texts.size()) + " given, at most " +
                     std::to_string(max_count));
  }
  std::vector<std::uint8_t> bytes;
  bytes.reserve(texts.size());
  for (const std::string& text : texts) bytes.push_back(ParseByteArg(text, 0xFF, "byte"));
  return bytes;
}

Action MakeSpeed(const std::string& khz) {
  std::uint32_t value = 0;
  if (!ParseCount(khz, 0, 1000, &value) || (value != 50 && value != 400 && value != 1000)) {
    throw UsageError("bad speed " + Quoted(khz) + ": expected 50, 400 or 1000 (kHz)");
  }
  return [value](CUSBChannel& board, const Output& output) {
    const int code = board.SetI2CSpeed(static_cast<std::uint16_t>(value));
    RequireAnswer(board, "answer the speed command");
    output.out << "speed " << value << " kHz, board code " << HexByte(static_cast<unsigned>(code))
               << '\n';
    return 0;
  };
}

Action MakeLines() {
  return [](CUSBChannel& board, const Output& output) {
    std::uint8_t record[board::kLineRecordSize];
    board.ReadLineState(record);
    RequireAnswer(board, "answer the line-state read");
    for (const LineName& line : kLines) {
      char text[32];
      std::snprintf(text, sizeof text, "%-7s%s\n", line.name,
                    HexByte(record[line.record_byte]).c_str());
      output.out << text;
    }
    return 0;
  };
}

Action MakeSetLine(const std::string& line, const std::string& state) {
  const LineName* found = nullptr;
  for (const LineName& candidate : kLines) {
    if (line == candidate.name && candidate.set != nullptr) found = &candidate;
  }
  if (found == nullptr) {
    throw UsageError("bad line " + Quoted(line) +
                     ": expected power, reset, buzzer, pass, fail or error");
  }
  if (state != "on" && state != "off") {
    throw UsageError("bad state " + Quoted(state) + ": expected on or off");
  }
  const bool on = state == "on";
  return [found, on](CUSBChannel& board, const Output& output) {
    (board.*(found->set))(on ? 1 : 0);
    RequireAnswer(board, std::string("answer while switching ") + found->name);
    output.out << found->name << ' ' << (on ? "on" : "off") << '\n';
    return 0;
  };
}

Action MakeExpander(const std::string& address, const std::string& channel) {
  const std::uint8_t expander = ParseByteArg(address, kMaxI2cAddress, "expander address");
  const std::uint8_t selected = ParseByteArg(channel, 0xFF, "channel");
  return [=](CUSBChannel& board, const Output& output) {
    board.SelectExpandChannel(expander, selected);
    RequireAnswer(board, "take the expander selection");
    output.out << "expander " << HexByte(expander) << " channel " << HexByte(selected) << '\n';
    return 0;
  };
}

Action MakeSensor(const std::string& channel) {
  const bool external = !channel.empty();
  const std::uint8_t selected = external ? ParseByteArg(channel, 0xFF, "channel") : 0;
  return [=](CUSBChannel& board, const Output& output) {
    if (external) {
      board.SelectExpandChannel(board::kExpanderAddress, selected);
      RequireAnswer(board, "take the channel selection");
    }
    std::uint16_t values[board::kSensorValueCount];
    board.ReadSensorRawData(values);
    RequireAnswer(board, "answer the sensor read");
    constexpr std::size_t kPerLine = 8;
    for (std::size_t k = 0; k < std::size(values); ++k) {
      char text[16];
      if (k % kPerLine == 0) {
        std::snprintf(text, sizeof text, "%02X:", static_cast<unsigned>(k));
        output.out << text;
      }
      std::snprintf(text, sizeof text, " %04X", values[k]);
      output.out << text;
      if (k % kPerLine == kPerLine - 1) output.out << '\n';
    }
    return 0;
  };
}

Action MakeReset() {
  return [](CUSBChannel& board, const Output& output) {
    board.SendHardwareReset();
    RequireAnswer(board, "take the reset");
    output.out << "reset sent\n";
    return 0;
  };
}

}  // namespace qvx
