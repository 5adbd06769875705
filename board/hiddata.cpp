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
  std::shared_ptr<board::SharedBoard> shared = device ? board::SharedBoardFor(path) : nullptr;
  m_hDevice = std::move(device);  // the old handle is closed here
  m_board = std::move(shared);
  m_eCommand = CommandState::kRunning;
}

void hiddata::SendReport(const board::Report& report) {
  if (!m_hDevice || m_eCommand != CommandState::kRunning) return;
  if (!m_hDevice->WriteReport(report)) {
    // The board has not seen the whole command, so it owes no answer to it either.
    m_eCommand = CommandState::kWriteFailed;
    m_bAnswered.store(false, std::memory_order_relaxed);
  }
}

void hiddata::ReceiveReport() {
  if (!m_hDevice) return;
  if (m_eCommand != CommandState::kRunning) return;
  board::Report incoming;
  switch (m_hDevice->ReadReport(incoming, board::kAnswerTimeoutMs)) {
    case platform::ReadResult::kOk:
      std::memcpy(m_Answer, incoming, sizeof m_Answer);
      return;
    case platform::ReadResult::kTimedOut:
      m_eCommand = CommandState::kReadTimedOut;
      m_board->owing = true;
      m_board->owed_until = m_hDevice->Now() + std::chrono::milliseconds(board::kOwedAnswerGraceMs);
      break;
    case platform::ReadResult::kFailed:
      break;  // the handle is dead: the remaining reads fail at once as well
  }
  m_bAnswered.store(false, std::memory_order_relaxed);
}

void hiddata::BeginCommand() {
  m_eCommand = CommandState::kRunning;
  m_bAnswered.store(m_hDevice != nullptr, std::memory_order_relaxed);
  if (!m_hDevice) return;
  m_hDevice->DiscardPendingInput();
  board::SharedBoard& shared = *m_board;
  if (!shared.owing) return;
  shared.owing = false;
  // Drop whatever arrives until the grace period ends. Stopping early once as many reports as
  // were owed have come would be quicker, but a report that is later still (from an earlier
  // command) would then stand in for an owed one, and the owed one would be taken as ours.
  for (;;) {
    const platform::HidDevice::TimePoint now = m_hDevice->Now();
    if (now >= shared.owed_until) break;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(shared.owed_until - now).count();
    // A timeout means nothing more came within the time that was left.
    if (m_hDevice->SkipReport(static_cast<unsigned>(left)) != platform::ReadResult::kOk) break;
  }
}
