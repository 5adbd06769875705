// CUSBChannel: the board link the control owns. Adds the board-state lock, which makes the
// read-modify-write of the line-state record atomic, and the sensor lock.
//
// Lock order, everywhere: the board-state lock or the sensor lock first, then the exchange lock.
// The board-state and sensor locks are never held together.
#pragma once

#include <cstdint>

#include "board/usb_hardware.h"

class CUSBChannel : public CUSBHardWare {
 public:
  CUSBChannel();  // opens no board (see CUSBHardWare)
  explicit CUSBChannel(board::BoardOpener& opener);
  ~CUSBChannel() override;

  // Line setters: read the record, change one byte, write it back, all under the board-state
  // lock and the exchange lock.
  void SetPower(int nStatus) { SetLine(board::kLinePower, nStatus); }
  void SetReset(int nStatus) { SetLine(board::kLineReset, nStatus); }
  void SetBuzzer(int nStatus) { SetLine(board::kLineBuzzer, nStatus); }
  void SetLedPass(int nStatus) { SetLine(board::kLineLedPass, nStatus); }
  void SetLedFail(int nStatus) { SetLine(board::kLineLedFail, nStatus); }
  void SetLedError(int nStatus) { SetLine(board::kLineLedError, nStatus); }

  // 32 values from the raw sensor block, high byte first, under the sensor lock.
  void ReadSensorRawData(std::uint16_t (&values)[board::kSensorValueCount]);

  platform::CriticalSection m_csBoardState;
  platform::CriticalSection m_csSensor;

 private:
  void SetLine(std::size_t record_byte, int nStatus);
};
