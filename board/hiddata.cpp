#include "board/hiddata.h"

#include <chrono>
#include <cstring>
#include <utility>

hiddata::hiddata() {
  std::memset(m_Answer, 0, sizeof m_Answer);
}

hiddata::~hiddata() = default;  // destroying the device object closes the handle

void hiddata::ReplaceDevice(std::unique_ptr<platform::HidDevice> device, const std::string& path) {
  // The shared state first: should it not be made, the link keeps what it had (the new handle
  // closes with `device`), and never holds a handle without the board's lock.
  std::shared_ptr<board::SharedBoard> shared =
      device ? board::SharedBoardFor(path, device->CrossProcessKey()) : nullptr;
  m_hDevice = std::move(device);  // the old handle is closed here
  m_board = std::move(shared);
  m_eCommand = CommandState::kRunning;
}

void hiddata::SendReport(const board::Report& report) {
  if (!m_hDevice || m_eCommand != CommandState::kRunning) {
    if (m_pTrace && (!m_hDevice || m_eCommand == CommandState::kNoTurn)) {
      m_pTrace->ReportWritten(report, board::ReportFate::kNoBoard, board::TraceClock::now());
    }
    return;
  }
  const bool written = m_hDevice->WriteReport(report);
  if (m_pTrace) {
    m_pTrace->ReportWritten(report, written ? board::ReportFate::kDone : board::ReportFate::kFailed,
                            board::TraceClock::now());
  }
  if (!written) {
    // The board has not seen the whole command, so it owes no answer to it either.
    m_eCommand = CommandState::kWriteFailed;
    m_bAnswered.store(false, std::memory_order_relaxed);
  }
}

void hiddata::ReceiveReport() {
  if (!m_hDevice) return;
  if (m_eCommand != CommandState::kRunning) return;
  board::Report incoming;
  const platform::ReadResult result = m_hDevice->ReadReport(incoming, board::kAnswerTimeoutMs);
  if (m_pTrace) {
    m_pTrace->ReportRead(incoming,
                         result == platform::ReadResult::kOk         ? board::ReportFate::kDone
                         : result == platform::ReadResult::kTimedOut ? board::ReportFate::kTimedOut
                                                                     : board::ReportFate::kFailed,
                         board::TraceClock::now());
  }
  switch (result) {
    case platform::ReadResult::kOk:
      std::memcpy(m_Answer, incoming, sizeof m_Answer);
      return;
    case platform::ReadResult::kTimedOut:
      m_eCommand = CommandState::kReadTimedOut;
      m_board->Owe(m_hDevice->Now() + std::chrono::milliseconds(board::kOwedAnswerGraceMs));
      break;
    case platform::ReadResult::kFailed:
      break;  // the handle is dead: the remaining reads fail at once as well
  }
  m_bAnswered.store(false, std::memory_order_relaxed);
}

void hiddata::BeginCommand() {
  m_eCommand = CommandState::kRunning;
  m_bAnswered.store(m_hDevice != nullptr, std::memory_order_relaxed);
  if (m_pTrace) {
    if (m_bTraceCommandOpen) TraceCommandEnd();  // a command that ended without its scope
    m_bTraceCommandOpen = true;
    m_pTrace->CommandStarted(board::TraceClock::now());
  }
  if (!m_hDevice) return;
  switch (m_board->Began()) {
    case board::BoardTurn::kHeld:
      break;
    case board::BoardTurn::kRefused:
      m_eCommand = CommandState::kNoTurn;
      m_bAnswered.store(false, std::memory_order_relaxed);
      return;
    case board::BoardTurn::kTakenOver:
      if (m_pTrace) m_pTrace->TurnTakenOver();
      m_board->TakeOverTold();  // by the first command of the hold
      break;
  }
  const std::size_t drained = m_hDevice->DiscardPendingInput();
  if (m_pTrace) m_pTrace->InputDropped(board::DropPhase::kDrain, drained);
  platform::HidDevice::TimePoint until;
  if (!m_board->TakeOwed(m_hDevice->Now(), &until)) return;
  std::size_t dropped = 0;
  // Drop whatever arrives until the grace period ends. Stopping early once as many reports as
  // were owed have come would be quicker, but a report that is later still (from an earlier
  // command) would then stand in for an owed one, and the owed one would be taken as ours.
  for (;;) {
    const platform::HidDevice::TimePoint now = m_hDevice->Now();
    if (now >= until) break;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
    // A timeout means nothing more came within the time that was left.
    if (m_hDevice->SkipReport(static_cast<unsigned>(left)) != platform::ReadResult::kOk) break;
    ++dropped;
  }
  if (m_pTrace) m_pTrace->InputDropped(board::DropPhase::kOwedWait, dropped);
}

void hiddata::TraceCommandEnd() {
  m_bTraceCommandOpen = false;
  board::CommandVerdict verdict = board::CommandVerdict::kAnswered;
  if (!m_hDevice) {
    verdict = board::CommandVerdict::kNoBoard;
  } else if (m_eCommand == CommandState::kNoTurn) {
    verdict = board::CommandVerdict::kNoTurn;
  } else if (m_eCommand == CommandState::kWriteFailed) {
    verdict = board::CommandVerdict::kWriteFailed;
  } else if (m_eCommand == CommandState::kReadTimedOut) {
    verdict = board::CommandVerdict::kReadTimedOut;
  } else if (!m_bAnswered.load(std::memory_order_relaxed)) {
    verdict = board::CommandVerdict::kReadFailed;
  }
  m_pTrace->CommandEnded(verdict, board::TraceClock::now());
}
