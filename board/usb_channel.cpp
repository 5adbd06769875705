#include "board/usb_channel.h"

using namespace board;

CUSBChannel::CUSBChannel() = default;

CUSBChannel::CUSBChannel(BoardOpener& opener) : CUSBHardWare(opener) {}

// Close the handle before the board-state and sensor locks go away.
CUSBChannel::~CUSBChannel() {
  ReplaceDevice(nullptr);
}

void CUSBChannel::SetLine(std::size_t record_byte, int nStatus) {
  // Both locks, and the board's own, across the read and the write-back: no other line change,
  // line read or command, of this link or another one on the same board, may come between.
  platform::CsLock state(m_csBoardState);
  Exchange exchange(*this);
  std::uint8_t record[kLineRecordSize];
  ReadLineState(record);
  // Without a fresh record the write-back would set every other line to whatever the answer
  // buffer last held (after an EEPROM read of an erased page: all 0xFF, power included).
  if (!LastCommandAnswered()) return;
  record[record_byte] = static_cast<std::uint8_t>(nStatus);
  WriteLineState(record);
}

void CUSBChannel::ReadSensorRawData(std::uint16_t (&values)[kSensorValueCount]) {
  platform::CsLock sensor(m_csSensor);
  std::uint8_t raw[kSensorBlockSize];
  ReadSensorBlock(raw);
  for (std::size_t k = 0; k < kSensorValueCount; ++k) {
    values[k] = static_cast<std::uint16_t>((raw[2 * k] << 8) | raw[2 * k + 1]);
  }
}
