// The text trace: one header line, then one line per command (see docs/reference.md,
// "Tracing", for every field).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "board/trace_recorder.h"

namespace board {

// How many bytes of a run a line shows before it says "... N more".
inline constexpr std::size_t kTraceTextBytes = 16;

// `when` broken down in UTC, for the dates and the file names of traces.
std::tm UtcTime(std::chrono::system_clock::time_point when);

// `bytes` as hex pairs in brackets, long runs cut: "[01 02 ... 14 more]".
std::string TraceHexRun(const std::vector<std::uint8_t>& bytes);

class TextTraceFormat : public TraceFormat {
 public:
  std::string Header(const TraceOrigin& origin, const std::string& program,
                     const std::string& board_path) override;
  std::string BoardRecord(const TraceOrigin& origin, const std::string& board_path,
                          TraceTime at) override;
  std::string CommandRecord(const TraceOrigin& origin, const TracedCommand& command,
                            const CommandDescription& what) override;
  std::string StopNote(const TraceOrigin& origin, TraceTime at) override;
};

// The command line without its times, as the pcapng trace's comments repeat it.
std::string TraceCommandSummary(const TracedCommand& command, const CommandDescription& what);

// "2026-12-09 02:45:27 UTC".
std::string TraceDate(const TraceOrigin& origin);

}  // namespace board
