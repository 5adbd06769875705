#include "board/hiddata.h"

#include <chrono>
#include <cstring>
#include <utility>

hiddata::hiddata() {
  std::memset(m_Answer, 0, sizeof m_Answer);
}

hiddata::~hiddata() = default;  // destroying the device object closes the handle

void hiddata::ReplaceDevice(std::unique_ptr<platform::HidDevice> device, const std::string& path) {
  m_hDevice = std::move(device);  // the old handle is closed here
  m_board = m_hDevice ? board::SharedBoardFor(path) : nullptr;
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
  if (m_eCommand == CommandState::kReadTimedOut) ++m_board->owed;
  if (m_eCommand != CommandState::kRunning) return;
  board::Report incoming;
  switch (m_hDevice->ReadReport(incoming, board::kAnswerTimeoutMs)) {
    case platform::ReadResult::kOk:
      std::memcpy(m_Answer, incoming, sizeof m_Answer);
      return;
    case platform::ReadResult::kTimedOut:
      m_eCommand = CommandState::kReadTimedOut;
      ++m_board->owed;
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
  // Owed answers that arrived before this command began went with the discard; wait for the
  // rest, but never past the grace period, as a board that dropped them would make us wait
  // for ever.
  board::Report sink;
  while (shared.owed > 0) {
    const platform::HidDevice::TimePoint now = m_hDevice->Now();
    if (now >= shared.owed_until) break;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(shared.owed_until - now).count();
    if (m_hDevice->ReadReport(sink, static_cast<unsigned>(left)) != platform::ReadResult::kOk) {
      break;
    }
    --shared.owed;
  }
  shared.owed = 0;
}
