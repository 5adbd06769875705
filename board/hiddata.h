// hiddata: the base of the board link. It owns the device handle and the answer buffer and
// carries every report through the two primitives SendReport and ReceiveReport.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "board/protocol.h"
#include "board/shared_board.h"
#include "board/trace.h"
#include "platform/hid_device.h"
#include "platform/non_copyable.h"

class hiddata : private platform::NonCopyable {
 public:
  hiddata();
  virtual ~hiddata();

  // True while a device handle is held (it may belong to a board that has since been removed).
  bool HasDevice() const { return m_hDevice != nullptr; }

  // The last input report read; its content before the first answer is all zeros.
  const board::Report& Answer() const { return m_Answer; }

  // Whether the last command wrote all its reports and got every answer it asked for in time.
  // False with no board open. What the operations return does not depend on it; it is for
  // callers that must tell a board that did not answer from one that answered zeros. Only
  // meaningful to the thread that ran the command while no other thread uses the link.
  bool LastCommandAnswered() const { return m_bAnswered.load(std::memory_order_relaxed); }

 protected:
  // Closes a held handle and stores `device` (nullptr for none); `path` names the board (and
  // the device's cross-process key, when it has one), so that links that opened the same board
  // take turns. Only the opening of the board calls this, under the exchange lock.
  void ReplaceDevice(std::unique_ptr<platform::HidDevice> device, const std::string& path = {});

  // Writes one 65-byte report. A write that fails or runs out of time ends the command: its
  // remaining reports are neither written nor waited for.
  void SendReport(const board::Report& report);

  // Reads one answer into m_Answer, waiting at most kAnswerTimeoutMs. On failure or timeout
  // m_Answer keeps its previous content. Once a read of the current command has timed out, the
  // command's remaining reports are skipped, and the answers it did not take are owed: the next
  // command on the board drops everything that arrives in the kOwedAnswerGraceMs after that.
  void ReceiveReport();

  // Starts a command (the board lock is held): drops every input report already queued, so
  // nothing that arrived before this command's announce is taken as its answer, and, while an
  // earlier command's answers are owed, everything that arrives until its grace period ends.
  void BeginCommand();

  // Ends the command BeginCommand started, for the trace; does nothing when none is open (a
  // line setter's outer scope, after its two commands have ended).
  void EndCommand() {
    if (m_pTrace && m_bTraceCommandOpen) TraceCommandEnd();
  }

  // The trace this link reports to (nullptr: none). Set under the exchange lock.
  void SetTraceSink(board::TraceSink* sink) {
    m_pTrace = sink;
    m_bTraceCommandOpen = false;
  }
  board::TraceSink* TraceSink() const { return m_pTrace; }

  // Holds the board's own turn, shared by every link in the process that has it open (and, for
  // a board other processes can open, by them too), for one scope. Taken after the exchange
  // lock; does nothing with no board open. When another program kept the board beyond the
  // bound, the commands of the scope send nothing and end unanswered ("no-turn").
  class BoardLock {
   public:
    explicit BoardLock(const hiddata& link) : m_board(link.m_board) {
      if (m_board) m_board->Enter();
    }
    ~BoardLock() {
      if (m_board) m_board->Leave();
    }
    BoardLock(const BoardLock&) = delete;
    BoardLock& operator=(const BoardLock&) = delete;

   private:
    std::shared_ptr<board::SharedBoard> m_board;
  };

  board::Report m_Answer;
  std::unique_ptr<platform::HidDevice> m_hDevice;

 private:
  enum class CommandState { kRunning, kWriteFailed, kReadTimedOut, kNoTurn };

  std::shared_ptr<board::SharedBoard> m_board;  // set exactly when m_hDevice is
  void TraceCommandEnd();

  CommandState m_eCommand = CommandState::kRunning;
  std::atomic<bool> m_bAnswered{false};
  board::TraceSink* m_pTrace = nullptr;
  bool m_bTraceCommandOpen = false;
};
