// Opening a trace file: the name picks the format, the file is always a new one.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "board/trace_recorder.h"

namespace board {

enum class TraceFileKind { kRefused, kPcapng, kText };

// The format `path` asks for by its extension (.pcapng; .txt or .log), or kRefused with the
// reason in `why`: no extension of these, a device or network path (\\.\, \\?\, \\server\), a
// reserved device name (NUL.txt, COM1.log, ...).
TraceFileKind TraceKindOf(const std::string& path, std::string* why);

// Creates `path` (never an existing file) and returns its recorder, or nullptr with one
// sentence in `why` naming what was wrong. `program` goes into the trace's header.
std::unique_ptr<TraceRecorder> OpenTraceFile(const std::string& path, const std::string& program,
                                             std::string* why);

// A recorder of `kind` writing to `output`; for callers with an output of their own (stderr).
std::unique_ptr<TraceRecorder> MakeTraceRecorder(TraceFileKind kind,
                                                 std::unique_ptr<platform::OutputFile> output,
                                                 const std::string& program);

// The name of a control's own trace in `folder`: qvx-YYYYMMDD-HHMMSS-<pid>-<n>.pcapng, the time
// in UTC.
std::string TraceFileNameIn(const std::string& folder, std::chrono::system_clock::time_point when,
                            unsigned long pid, unsigned n);

}  // namespace board
