#include "board/usb_channel.h"

using namespace board;

CUSBChannel::CUSBChannel() = default;

// Close the handle before the board-state and sensor locks go away.
CUSBChannel::~CUSBChannel() {
  ReplaceDevice(nullptr);
}

void CUSBChannel::SetLine(std::size_t recordByte, int nStatus) {
  // Both locks across the read and the write-back: no other line change, line read or command
  // may come between them.
  platform::CsLock state(m_csBoardState);
  platform::CsLock exchange(m_csExchange);
  std::uint8_t record[kLineRecordSize];
  ReadLineState(record);
  record[recordByte] = static_cast<std::uint8_t>(nStatus);
  WriteLineState(record);
}

void CUSBChannel::SetPower(int nStatus) {
  SetLine(kLinePower, nStatus);
}
void CUSBChannel::SetReset(int nStatus) {
  SetLine(kLineReset, nStatus);
}
void CUSBChannel::SetBuzzer(int nStatus) {
  SetLine(kLineBuzzer, nStatus);
}
void CUSBChannel::SetLedPass(int nStatus) {
  SetLine(kLineLedPass, nStatus);
}
void CUSBChannel::SetLedFail(int nStatus) {
  SetLine(kLineLedFail, nStatus);
}
void CUSBChannel::SetLedError(int nStatus) {
  SetLine(kLineLedError, nStatus);
}

void CUSBChannel::ReadSensorRawData(std::uint16_t (&values)[kSensorValueCount]) {
  platform::CsLock sensor(m_csSensor);
  std::uint8_t raw[kSensorBlockSize];
  ReadSensorBlock(raw);
  for (std::size_t k = 0; k < kSensorValueCount; ++k) {
    values[k] = static_cast<std::uint16_t>((raw[2 * k] << 8) | raw[2 * k + 1]);
  }
}
