// TraceRecorder: the TraceSink that turns each command's events into one record of a trace file
// and writes it, flushed, when the command ends. What a record looks like is the business of a
// TraceFormat (trace_text.h, trace_pcapng.h); what a command was is decoded here, from its
// reports, with the constants the link builds them with.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "board/trace.h"
#include "platform/output_file.h"

namespace board {

struct TracedReport {
  bool out;  // written by the host (true) or read from the board
  ReportFate fate;
  TraceTime at;
  std::array<std::uint8_t, kReportSize> bytes;  // all zeros for a read that got nothing
};

// Everything the link said about one command.
struct TracedCommand {
  TraceTime started{};
  TraceTime ended{};
  CommandVerdict verdict = CommandVerdict::kAnswered;
  std::size_t drained = 0;  // platform::HidDevice::kUncounted when the back end cannot tell
  std::size_t owed = 0;
  bool turn_taken_over = false;
  std::vector<TracedReport> reports;
};

// What a command was, read from its reports.
struct CommandDescription {
  std::uint8_t code = 0;
  std::string name;        // "i2c-read", ...; "command-0xNN" for a code the link never sends
  std::string parameters;  // "slave=0x50 count=3 start=1 stop=1"; empty for none
  bool i2c = false;        // an I2C transfer (0x1A, 0x1B)
  bool i2c_read = false;
  std::uint8_t slave = 0;
  bool writes_data = false;  // the command carries data to the board (`written`)
  bool reads_data = false;   // the command brings data back (`read`, as far as it arrived)
  std::vector<std::uint8_t> written;
  std::vector<std::uint8_t> read;
  bool has_status = false;  // the status (or speed answer) byte arrived
  std::uint8_t status = 0;
};

CommandDescription DescribeCommand(const TracedCommand& command);
// "answered", "read-timed-out", "read-failed", "write-failed", "no-board", "no-turn".
const char* VerdictName(CommandVerdict verdict);

// The trace's clocks: the steady clock for order and durations, the wall clock it stood at
// when the trace began for dates.
struct TraceOrigin {
  TraceTime steady;
  std::chrono::system_clock::time_point wall;
  // Microseconds since 1970 of `at`, on the wall clock (never before the origin).
  std::uint64_t WallMicros(TraceTime at) const;
  // Milliseconds since the origin.
  double SinceMs(TraceTime at) const;
};

class TraceFormat {
 public:
  virtual ~TraceFormat() = default;
  // The start of the file: written before the first record, once the board is known (empty
  // path: none open yet, or none found).
  virtual std::string Header(const TraceOrigin& origin, const std::string& program,
                             const std::string& board_path) = 0;
  // The board was opened again (or not found) after the header was written.
  virtual std::string BoardRecord(const TraceOrigin& origin, const std::string& board_path,
                                  TraceTime at) = 0;
  virtual std::string CommandRecord(const TraceOrigin& origin, const TracedCommand& command,
                                    const CommandDescription& what) = 0;
  // The last words of a trace that can no longer be written.
  virtual std::string StopNote(const TraceOrigin& origin, TraceTime at) = 0;
};

class TraceRecorder : public TraceSink {
 public:
  TraceRecorder(std::unique_ptr<TraceFormat> format, std::unique_ptr<platform::OutputFile> output,
                std::string program);
  ~TraceRecorder() override;  // writes the header if nothing was written yet

  // True once a write failed: the recorder then ignores everything.
  bool stopped() const { return stopped_; }

  void BoardOpened(const std::string& path, TraceTime at) override;
  void CommandStarted(TraceTime at) override;
  void InputDropped(DropPhase phase, std::size_t reports) override;
  void ReportWritten(const Report& report, ReportFate fate, TraceTime at) override;
  void ReportRead(const Report& report, ReportFate fate, TraceTime at) override;
  void CommandEnded(CommandVerdict verdict, TraceTime at) override;
  void TurnTakenOver() override;

 private:
  void EnsureHeader(const std::string& board_path);
  void Emit(const std::string& bytes);
  void Add(bool out, const Report& report, ReportFate fate, TraceTime at);

  std::unique_ptr<TraceFormat> format_;
  std::unique_ptr<platform::OutputFile> output_;
  std::string program_;
  TraceOrigin origin_;
  bool header_written_ = false;
  bool stopped_ = false;
  bool in_command_ = false;
  TracedCommand command_;  // reused: its report list keeps its capacity
};

}  // namespace board
