#include "board/hiddata.h"

#include <cstring>
#include <utility>

hiddata::hiddata() {
  std::memset(m_Answer, 0, sizeof m_Answer);
}

hiddata::~hiddata() = default;  // destroying the device object closes the handle

void hiddata::ReplaceDevice(std::unique_ptr<platform::HidDevice> device) {
  m_hDevice = std::move(device);  // the old handle is closed here
  // A fresh handle starts with an empty input queue; a stale timeout says nothing about it.
  m_bOutOfStep = false;
  m_bCommandTimedOut = false;
}

void hiddata::SendReport(const board::Report& report) {
  if (m_hDevice) (void)m_hDevice->WriteReport(report);
}

void hiddata::ReceiveReport() {
  if (!m_hDevice || m_bCommandTimedOut) return;
  board::Report incoming;
  switch (m_hDevice->ReadReport(incoming, board::kAnswerTimeoutMs)) {
    case platform::ReadResult::kOk:
      std::memcpy(m_Answer, incoming, sizeof m_Answer);
      break;
    case platform::ReadResult::kTimedOut:
      m_bCommandTimedOut = true;
      m_bOutOfStep = true;
      break;
    case platform::ReadResult::kFailed:
      break;
  }
}

void hiddata::BeginCommand() {
  m_bCommandTimedOut = false;
  if (m_bOutOfStep && m_hDevice) {
    m_hDevice->DiscardPendingInput();
    m_bOutOfStep = false;
  }
}
