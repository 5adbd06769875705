#include "board/trace_recorder.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace board {

namespace {

// The words the traces give command codes and verdicts.
template <class Key>
struct Word {
  Key key;
  const char* word;
};

template <class Key, std::size_t N>
const char* WordFor(const Word<Key> (&words)[N], Key key) {
  for (const Word<Key>& w : words) {
    if (w.key == key) return w.word;
  }
  return nullptr;
}

constexpr Word<std::uint8_t> kCommandNames[] = {
    {CMD_I2C_READ, "i2c-read"},       {CMD_I2C_WRITE, "i2c-write"},
    {CMD_I2C_SPEED, "i2c-speed"},     {CMD_EEPROM_WRITE, "eeprom-write"},
    {CMD_EEPROM_READ, "eeprom-read"}, {CMD_GET_LINES, "get-lines"},
    {CMD_SET_LINES, "set-lines"},     {CMD_SENSOR_DATA, "sensor-data"},
    {CMD_EXPAND_CHANNEL, "expander"}, {CMD_HARDWARE_RESET, "hardware-reset"},
};

constexpr Word<CommandVerdict> kVerdictWords[] = {
    {CommandVerdict::kAnswered, "answered"},      {CommandVerdict::kReadTimedOut, "read-timed-out"},
    {CommandVerdict::kReadFailed, "read-failed"}, {CommandVerdict::kWriteFailed, "write-failed"},
    {CommandVerdict::kNoBoard, "no-board"},       {CommandVerdict::kNoTurn, "no-turn"},
};

std::string Hex2(std::uint8_t b) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02x", b);
  return text;
}

// The reports of one direction, in order.
std::vector<const TracedReport*> Reports(const TracedCommand& command, bool out) {
  std::vector<const TracedReport*> list;
  for (const TracedReport& r : command.reports) {
    if (r.out == out) list.push_back(&r);
  }
  return list;
}

// The payload bytes [0, n) of `report`, or nothing when there is no such report.
void AppendPayload(std::vector<std::uint8_t>& to, const std::vector<const TracedReport*>& list,
                   std::size_t index, std::size_t n) {
  if (index >= list.size()) return;
  const auto& bytes = list[index]->bytes;
  to.insert(to.end(), bytes.begin() + kPayloadOffset,
            bytes.begin() + kPayloadOffset + std::min(n, kPayloadSize));
}

bool Received(const std::vector<const TracedReport*>& in, std::size_t index) {
  return index < in.size() && in[index]->fate == ReportFate::kDone;
}

}  // namespace

const char* VerdictName(CommandVerdict verdict) {
  const char* word = WordFor(kVerdictWords, verdict);
  return word ? word : "?";
}

CommandDescription DescribeCommand(const TracedCommand& command) {
  CommandDescription d;
  const std::vector<const TracedReport*> out = Reports(command, true);
  const std::vector<const TracedReport*> in = Reports(command, false);
  if (out.empty()) {
    d.name = "none";
    return d;
  }
  const auto& announce = out[0]->bytes;
  d.code = announce[kAnnounceCommand];
  const char* word = WordFor(kCommandNames, d.code);
  d.name = word ? word : "command-" + Hex2(d.code);
  // The status (or answer) byte sits in the answer after `data` data reports.
  auto status_after = [&](std::size_t data) {
    if (!Received(in, data)) return;
    d.has_status = true;
    d.status = in[data]->bytes[kAnswerStatus];
  };
  const TracedReport* params = out.size() > 1 ? out[1] : nullptr;
  switch (d.code) {
    case CMD_I2C_READ:
    case CMD_I2C_WRITE: {
      if (!params) break;
      const auto& p = params->bytes;
      const std::uint32_t count = (p[kI2cParamCountHigh] << 8) | p[kI2cParamCountLow];
      d.i2c = true;
      d.i2c_read = d.code == CMD_I2C_READ;
      d.slave = p[kI2cParamSlave];
      d.parameters = "slave=" + Hex2(d.slave) + " count=" + std::to_string(count) +
                     " start=" + std::to_string(p[kI2cParamStart]) +
                     " stop=" + std::to_string(p[kI2cParamStop]);
      const std::uint32_t reports = DataReportCount(count);
      for (std::uint32_t k = 0; k < reports; ++k) {
        const std::size_t n = std::min<std::size_t>(kPayloadSize, count - k * kPayloadSize);
        if (d.i2c_read) {
          if (Received(in, k)) AppendPayload(d.read, in, k, n);
        } else {
          AppendPayload(d.written, out, 2 + k, n);
        }
      }
      d.reads_data = d.i2c_read;
      d.writes_data = !d.i2c_read;
      status_after(d.i2c_read ? reports : 0);
      break;
    }
    case CMD_I2C_SPEED:
      if (params) d.parameters = "code=" + std::to_string(params->bytes[kSpeedParamCode]);
      status_after(0);
      break;
    case CMD_EEPROM_WRITE:
    case CMD_EEPROM_READ: {
      if (!params) break;
      const auto& p = params->bytes;
      const unsigned address = (p[kEepromParamAddrHigh] << 8) | p[kEepromParamAddrLow];
      char text[40];
      std::snprintf(text, sizeof text, "address=0x%04x count=%u", address,
                    static_cast<unsigned>(p[kEepromParamCount]));
      d.parameters = text;
      if (d.code == CMD_EEPROM_WRITE) {
        d.writes_data = true;
        AppendPayload(d.written, out, 2, p[kEepromParamCount]);
      } else {
        d.reads_data = true;
        if (Received(in, 0)) AppendPayload(d.read, in, 0, p[kEepromParamCount]);
      }
      break;
    }
    case CMD_GET_LINES:
    case CMD_SENSOR_DATA:
      if (d.code == CMD_SENSOR_DATA) d.parameters = "arg=" + Hex2(announce[kAnnounceArg1]);
      d.reads_data = true;
      if (Received(in, 0)) AppendPayload(d.read, in, 0, kLineRecordSize);
      break;
    case CMD_SET_LINES:
      d.writes_data = true;
      AppendPayload(d.written, out, 1, kLineRecordSize);
      break;
    case CMD_EXPAND_CHANNEL:
      d.parameters =
          "address=" + Hex2(announce[kAnnounceArg1]) + " channel=" + Hex2(announce[kAnnounceArg2]);
      break;
    default:
      break;
  }
  return d;
}

std::uint64_t TraceOrigin::WallMicros(TraceTime at) const {
  const auto since = std::max(TraceClock::duration::zero(), at - steady);
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(wall.time_since_epoch() + since)
          .count());
}

double TraceOrigin::SinceMs(TraceTime at) const {
  return std::chrono::duration<double, std::milli>(at - steady).count();
}

TraceRecorder::TraceRecorder(std::unique_ptr<TraceFormat> format,
                             std::unique_ptr<platform::OutputFile> output, std::string program)
    : format_(std::move(format)), output_(std::move(output)), program_(std::move(program)) {
  origin_.steady = TraceClock::now();
  origin_.wall = std::chrono::system_clock::now();
  // The longest command, a 64 KiB transfer, moves about a thousand reports.
  command_.reports.reserve(DataReportCount(kMaxTransferCount) + 4);
}

TraceRecorder::~TraceRecorder() {
  EnsureHeader(std::string());
}

void TraceRecorder::Emit(const std::string& bytes) {
  if (stopped_) return;
  if (output_->Write(bytes.data(), bytes.size()) && output_->Flush()) return;
  stopped_ = true;
  // One last word if the file still takes it; the commands go on either way.
  const std::string note = format_->StopNote(origin_, TraceClock::now());
  if (output_->Write(note.data(), note.size())) (void)output_->Flush();
}

void TraceRecorder::EnsureHeader(const std::string& board_path) {
  if (header_written_) return;
  header_written_ = true;
  Emit(format_->Header(origin_, program_, board_path));
}

void TraceRecorder::BoardOpened(const std::string& path, TraceTime at) {
  if (stopped_) return;
  if (!header_written_) return EnsureHeader(path);
  Emit(format_->BoardRecord(origin_, path, at));
}

void TraceRecorder::CommandStarted(TraceTime at) {
  if (stopped_) return;
  in_command_ = true;
  command_.started = at;
  command_.ended = at;
  command_.verdict = CommandVerdict::kAnswered;
  command_.drained = 0;
  command_.owed = 0;
  command_.turn_taken_over = false;
  command_.reports.clear();
}

void TraceRecorder::InputDropped(DropPhase phase, std::size_t reports) {
  if (!in_command_) return;
  (phase == DropPhase::kDrain ? command_.drained : command_.owed) = reports;
}

void TraceRecorder::Add(bool out, const Report& report, ReportFate fate, TraceTime at) {
  if (!in_command_) return;
  TracedReport r{out, fate, at, {}};
  if (out || fate == ReportFate::kDone) std::copy(report, report + kReportSize, r.bytes.begin());
  command_.reports.push_back(r);
}

void TraceRecorder::ReportWritten(const Report& report, ReportFate fate, TraceTime at) {
  Add(true, report, fate, at);
}

void TraceRecorder::ReportRead(const Report& report, ReportFate fate, TraceTime at) {
  Add(false, report, fate, at);
}

void TraceRecorder::TurnTakenOver() {
  if (in_command_) command_.turn_taken_over = true;
}

void TraceRecorder::CommandEnded(CommandVerdict verdict, TraceTime at) {
  if (!in_command_) return;
  in_command_ = false;
  command_.verdict = verdict;
  command_.ended = at;
  EnsureHeader(std::string());
  Emit(format_->CommandRecord(origin_, command_, DescribeCommand(command_)));
}

}  // namespace board
