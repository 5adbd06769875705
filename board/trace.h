// The board link's trace point: what a link attached to a TraceSink tells it about every
// command. The events come from the report exchange itself (hiddata), in order, under the
// link's exchange lock; a sink that is not attached costs the link one test of a pointer.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "board/protocol.h"

namespace board {

using TraceClock = std::chrono::steady_clock;
using TraceTime = TraceClock::time_point;

// What became of one report.
enum class ReportFate {
  kDone,      // written, or read whole
  kFailed,    // the write failed or ran out of time; the read failed at once (handle dead)
  kTimedOut,  // read: no report within the bound
  kNoBoard,   // write: not written, for want of a board open (or of the board's turn)
};

// Where stale input was dropped at the start of a command.
enum class DropPhase {
  kDrain,     // what had arrived before the announce
  kOwedWait,  // what arrived while an earlier command's answers were owed
};

// How a command ended.
enum class CommandVerdict {
  kAnswered,      // every report written, every answer read in time
  kReadTimedOut,  // an answer did not come in time
  kReadFailed,    // the handle failed a read at once
  kWriteFailed,   // a report could not be written
  kNoBoard,       // no board open
  kNoTurn,        // another program kept the board beyond the bound: nothing was sent
};

class TraceSink {
 public:
  virtual ~TraceSink() = default;

  // OpenBoard ran: `path` names the board opened, empty when none was found.
  virtual void BoardOpened(const std::string& path, TraceTime at) = 0;
  virtual void CommandStarted(TraceTime at) = 0;
  // `reports` were dropped (platform::HidDevice::kUncounted when the back end cannot count them).
  virtual void InputDropped(DropPhase phase, std::size_t reports) = 0;
  // A report the command meant to write: written, failed, or not written for want of a board.
  virtual void ReportWritten(const Report& report, ReportFate fate, TraceTime at) = 0;
  // One read: `report` is the report read when `fate` is kDone, otherwise not meaningful.
  virtual void ReportRead(const Report& report, ReportFate fate, TraceTime at) = 0;
  virtual void CommandEnded(CommandVerdict verdict, TraceTime at) = 0;
  // The command is the first after the turn among processes was taken over from a program
  // that ended while holding it (the board's answers to that program were waited out).
  virtual void TurnTakenOver() {}

 protected:
  TraceSink() = default;
  TraceSink(const TraceSink&) = delete;
  TraceSink& operator=(const TraceSink&) = delete;
};

}  // namespace board
