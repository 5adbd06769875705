// hiddata: the base of the board link. It owns the device handle and the answer buffer and
// carries every report through the two primitives SendReport and ReceiveReport.
#pragma once

#include <memory>

#include "board/protocol.h"
#include "platform/hid_device.h"

class hiddata {
 public:
  hiddata();
  virtual ~hiddata();
  hiddata(const hiddata&) = delete;
  hiddata& operator=(const hiddata&) = delete;

  // True while a device handle is held (it may belong to a board that has since been removed).
  bool HasDevice() const { return m_hDevice != nullptr; }

  // The last input report read; its content before the first answer is all zeros.
  const board::Report& Answer() const { return m_Answer; }

 protected:
  // Closes a held handle and stores `device` (nullptr for none). Only the opening of the board
  // calls this, under the exchange lock.
  void ReplaceDevice(std::unique_ptr<platform::HidDevice> device);

  // Writes one 65-byte report. The outcome is not examined: a command always runs its full
  // sequence of reports.
  void SendReport(const board::Report& report);

  // Reads one answer into m_Answer, waiting at most kAnswerTimeoutMs. On failure or timeout
  // m_Answer keeps its previous content. Once a read of the current command has timed out,
  // the command's remaining reads fail at once instead of waiting again.
  void ReceiveReport();

  // Starts a command. After an earlier read timed out, a late answer may still be waiting in
  // the input queue and would be taken as the answer to this command: drop it first. On the
  // normal path this does nothing.
  void BeginCommand();

  board::Report m_Answer;
  std::unique_ptr<platform::HidDevice> m_hDevice;

 private:
  bool m_bOutOfStep = false;        // a read timed out since the last resynchronisation
  bool m_bCommandTimedOut = false;  // a read of the current command timed out
};
