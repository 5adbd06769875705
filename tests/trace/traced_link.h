// Fixture piece: a board link with a trace in memory attached, its device logged.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "board/trace_open.h"
#include "tests/support/test_channel.h"
#include "trace_support.h"

namespace testing_support {

class TracedLink {
 public:
  // `device` nullptr: no board open. `kind` kRefused: no trace attached (the untraced run).
  TracedLink(std::unique_ptr<platform::HidDevice> device, board::TraceFileKind kind,
             std::size_t capacity = SIZE_MAX, std::size_t room_after = 0) {
    if (device) channel.Attach(std::make_unique<LoggingDevice>(std::move(device), &crossed));
    if (kind != board::TraceFileKind::kRefused) {
      auto output = std::make_unique<MemoryOutput>(&file, capacity, &flushes, room_after);
      recorder = board::MakeTraceRecorder(kind, std::move(output), "trace_tests");
      channel.AttachTrace(recorder.get());
    }
  }
  ~TracedLink() { Finish(); }

  // Detaches and closes the trace: `file` is then complete.
  const std::string& Finish() {
    channel.AttachTrace(nullptr);
    recorder.reset();
    return file;
  }
  TestChannel channel;
  std::vector<Crossed> crossed;
  std::string file;
  int flushes = 0;
  std::unique_ptr<board::TraceRecorder> recorder;
};

}  // namespace testing_support
