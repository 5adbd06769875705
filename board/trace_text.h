// The text trace: one header line, then one line per command (see docs/reference.md,
// "Tracing", for every field).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
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

// The text format, for a TraceRecorder.
std::unique_ptr<TraceFormat> NewTextTraceFormat();

// The command line without its times, as the pcapng trace's comments repeat it.
std::string TraceCommandSummary(const TracedCommand& command, const CommandDescription& what);

// "2026-12-09 02:45:27 UTC".
std::string TraceDate(const TraceOrigin& origin);

}  // namespace board
