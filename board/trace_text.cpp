#include "board/trace_text.h"

#include <cstdio>
#include <ctime>
#include <memory>

namespace board {

namespace {

std::string Ms(double ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3fms", ms);
  return text;
}

std::string BoardName(const std::string& path) {
  return path.empty() ? "(none)" : path;
}

std::string Count(std::size_t n) {
  return n == platform::HidDevice::kUncounted ? "?" : std::to_string(n);
}

}  // namespace

std::string TraceHexRun(const std::vector<std::uint8_t>& bytes) {
  std::string text = "[";
  const std::size_t shown = bytes.size() < kTraceTextBytes ? bytes.size() : kTraceTextBytes;
  for (std::size_t i = 0; i < shown; ++i) {
    char pair[4];
    std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
    if (i) text += ' ';
    text += pair;
  }
  if (bytes.size() > shown) text += " ... " + std::to_string(bytes.size() - shown) + " more";
  return text + "]";
}

std::tm UtcTime(std::chrono::system_clock::time_point when) {
  const std::time_t t = std::chrono::system_clock::to_time_t(when);
  std::tm utc{};
#if defined(_WIN32)
  gmtime_s(&utc, &t);
#else
  gmtime_r(&t, &utc);
#endif
  return utc;
}

std::string TraceDate(const TraceOrigin& origin) {
  const std::tm utc = UtcTime(origin.wall);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc);
  return text;
}

std::string TraceCommandSummary(const TracedCommand& command, const CommandDescription& what) {
  std::string line = what.name;
  if (!what.parameters.empty()) line += " " + what.parameters;
  if (what.writes_data) line += " wrote=" + TraceHexRun(what.written);
  if (what.reads_data) line += " read=" + TraceHexRun(what.read);
  if (what.has_status) {
    char status[16];
    std::snprintf(status, sizeof status, " status=0x%02x", what.status);
    line += status;
  }
  line += std::string(" ") + VerdictName(command.verdict);
  line += " drained=" + Count(command.drained) + " owed=" + Count(command.owed);
  if (command.turn_taken_over) line += " turn=taken-over";
  return line;
}

namespace {

class TextTraceFormat : public TraceFormat {
 public:
  std::string Header(const TraceOrigin& origin, const std::string& program,
                     const std::string& board_path) override {
    return "# qvx trace " + TraceDate(origin) + " program=" + program +
           " board=" + BoardName(board_path) + "\n";
  }
  std::string BoardRecord(const TraceOrigin& origin, const std::string& board_path,
                          TraceTime at) override {
    return "# " + Ms(origin.SinceMs(at)) + " board=" + BoardName(board_path) + "\n";
  }
  std::string CommandRecord(const TraceOrigin& origin, const TracedCommand& command,
                            const CommandDescription& what) override {
    const double took =
        std::chrono::duration<double, std::milli>(command.ended - command.started).count();
    return Ms(origin.SinceMs(command.started)) + " +" + Ms(took) + " " +
           TraceCommandSummary(command, what) + "\n";
  }
  std::string StopNote(const TraceOrigin& origin, TraceTime at) override {
    return "# " + Ms(origin.SinceMs(at)) + " trace stopped: the file could not be written\n";
  }
};

}  // namespace

std::unique_ptr<TraceFormat> NewTextTraceFormat() {
  return std::make_unique<TextTraceFormat>();
}

}  // namespace board
