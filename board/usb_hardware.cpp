#include "board/usb_hardware.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "board/board_opener.h"
#include "platform/pause.h"

using namespace board;

namespace {

void Clear(Report& report) {
  std::memset(report, 0, sizeof report);
}

}  // namespace

CUSBHardWare::CUSBHardWare() = default;

CUSBHardWare::CUSBHardWare(BoardOpener& opener) : m_pOpener(&opener) {}

// The handle is closed before the locks go away.
CUSBHardWare::~CUSBHardWare() {
  ReplaceDevice(nullptr);
}

int CUSBHardWare::OpenBoard(const std::string& selector, std::string* opened) {
  platform::CsLock lock(m_csExchange);
  std::string path;
  std::unique_ptr<platform::HidDevice> device;
  if (m_pOpener != nullptr) device = m_pOpener->Open(selector, &path);
  const bool found = device != nullptr;
  if (!found) path.clear();
  if (opened != nullptr) *opened = path;
  ReplaceDevice(std::move(device), path);  // closes a held handle, stores the new one or none
  if (board::TraceSink* trace = TraceSink()) {
    trace->BoardOpened(found ? path : std::string(), TraceClock::now());
  }
  return found ? 0 : 1;
}

void CUSBHardWare::AttachTrace(board::TraceSink* sink) {
  platform::CsLock lock(m_csExchange);
  SetTraceSink(sink);
}

void CUSBHardWare::SendAnnounce(std::uint8_t code, std::uint8_t arg1, std::uint8_t arg2) {
  BeginCommand();
  Report report;
  Clear(report);
  report[kAnnounceMagic1] = kMagic1;
  report[kAnnounceMagic2] = kMagic2;
  report[kAnnounceCommand] = code;
  report[kAnnounceArg1] = arg1;
  report[kAnnounceArg2] = arg2;
  SendReport(report);
}

void CUSBHardWare::SendI2cParameters(std::uint8_t bSlaveAddr, std::uint32_t count, bool fGenStart,
                                     bool fGenStop) {
  Report report;
  Clear(report);
  report[kI2cParamSlave] = bSlaveAddr;
  report[kI2cParamCountHigh] = static_cast<std::uint8_t>(count >> 8);
  report[kI2cParamCountLow] = static_cast<std::uint8_t>(count);
  report[kI2cParamStart] = fGenStart ? 1 : 0;
  report[kI2cParamStop] = fGenStop ? 1 : 0;
  SendReport(report);
}

void CUSBHardWare::SendEepromParameters(std::int32_t nAddr, std::uint8_t cnt) {
  Report report;
  Clear(report);
  report[kEepromParamAddrHigh] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(nAddr) >> 8);
  report[kEepromParamAddrLow] = static_cast<std::uint8_t>(nAddr);
  report[kEepromParamCount] = cnt;
  SendReport(report);
}

int CUSBHardWare::SetI2CSpeed(std::uint16_t nSpeed) {
  Exchange lock(*this);
  SendAnnounce(CMD_I2C_SPEED);
  Report report;
  Clear(report);
  report[kSpeedParamCode] = SpeedCodeFor(nSpeed);
  SendReport(report);
  ReceiveReport();
  return (m_Answer[kAnswerStatus] >> kSpeedAnswerShift) & kSpeedAnswerMask;
}

template <class EachDataReport>
int CUSBHardWare::TransferI2C(std::uint8_t code, std::uint8_t bSlaveAddr, std::uint32_t count,
                              bool fGenStart, bool fGenStop, EachDataReport each) {
  if (count > kMaxTransferCount) return kCountRefused;
  Exchange lock(*this);
  SendAnnounce(code);
  SendI2cParameters(bSlaveAddr, count, fGenStart, fGenStop);
  const std::uint32_t reports = DataReportCount(count);
  for (std::uint32_t k = 0; k < reports; ++k) {
    const std::uint32_t offset = k * kPayloadSize;
    each(offset, std::min<std::uint32_t>(kPayloadSize, count - offset));
  }
  ReceiveReport();  // status report
  return m_Answer[kAnswerStatus];
}

int CUSBHardWare::ReadI2CLongBytes(std::uint8_t bSlaveAddr, std::uint8_t* pbXferData,
                                   std::uint32_t bBytesCnts, bool fGenStart, bool fGenStop) {
  return TransferI2C(CMD_I2C_READ, bSlaveAddr, bBytesCnts, fGenStart, fGenStop,
                     [&](std::uint32_t offset, std::uint32_t n) {
                       ReceiveReport();
                       if (n != 0) std::memcpy(pbXferData + offset, m_Answer + kPayloadOffset, n);
                     });
}

int CUSBHardWare::WriteI2CLongBytes(std::uint8_t bSlaveAddr, const std::uint8_t* pbXferData,
                                    std::uint32_t bBytesCnts, bool fGenStart, bool fGenStop) {
  return TransferI2C(CMD_I2C_WRITE, bSlaveAddr, bBytesCnts, fGenStart, fGenStop,
                     [&](std::uint32_t offset, std::uint32_t n) {
                       Report report;
                       Clear(report);
                       if (n != 0) std::memcpy(report + kPayloadOffset, pbXferData + offset, n);
                       SendReport(report);
                     });
}

CUSBHardWare::WriteReadResult CUSBHardWare::WriteReadI2C(std::uint8_t slave_addr,
                                                         const std::uint8_t* write_data,
                                                         std::uint32_t write_count,
                                                         std::uint8_t* read_data,
                                                         std::uint32_t read_count) {
  WriteReadResult result;
  if (write_count > kMaxTransferCount || read_count > kMaxTransferCount) return result;
  Exchange lock(*this);  // re-entered by each transfer
  result.write_status = WriteI2CLongBytes(slave_addr, write_data, write_count, true, false);
  const bool write_answered = LastCommandAnswered();
  result.read_status = ReadI2CLongBytes(slave_addr, read_data, read_count, true, true);
  result.answered = write_answered && LastCommandAnswered();
  return result;
}

void CUSBHardWare::WriteEEPROMPage(std::int32_t nAddr, const std::uint8_t* pbData,
                                   std::uint8_t cnt) {
  Exchange lock(*this);
  cnt = std::min(cnt, kEepromMaxPage);
  SendAnnounce(CMD_EEPROM_WRITE);
  SendEepromParameters(nAddr, cnt);
  Report report;
  Clear(report);
  if (cnt != 0) std::memcpy(report + kPayloadOffset, pbData, cnt);
  SendReport(report);
  // The board is busy programming the page; nothing may reach it meanwhile, so the pause is
  // taken with the exchange lock still held.
  platform::PauseMs(kEepromWritePauseMs);
}

void CUSBHardWare::ReadEEPROMPage(std::int32_t nAddr, std::uint8_t* pbData, std::uint8_t cnt) {
  Exchange lock(*this);
  cnt = std::min(cnt, kEepromMaxPage);
  SendAnnounce(CMD_EEPROM_READ);
  SendEepromParameters(nAddr, cnt);
  ReceiveReport();
  if (cnt != 0) std::memcpy(pbData, m_Answer + kPayloadOffset, cnt);
}

void CUSBHardWare::ReadLineState(std::uint8_t (&record)[kLineRecordSize]) {
  Exchange lock(*this);
  SendAnnounce(CMD_GET_LINES);
  ReceiveReport();
  std::memcpy(record, m_Answer + kPayloadOffset, kLineRecordSize);
}

void CUSBHardWare::WriteLineState(const std::uint8_t (&record)[kLineRecordSize]) {
  Exchange lock(*this);
  SendAnnounce(CMD_SET_LINES);
  Report report;
  Clear(report);
  std::memcpy(report + kPayloadOffset, record, kLineRecordSize);
  SendReport(report);
  ReceiveReport();  // acknowledgement; its content is not used
}

void CUSBHardWare::SelectExpandChannel(std::uint8_t nAddress, std::uint8_t nChannel) {
  Exchange lock(*this);
  SendAnnounce(CMD_EXPAND_CHANNEL, nAddress, nChannel);
}

void CUSBHardWare::SendHardwareReset() {
  Exchange lock(*this);
  SendAnnounce(CMD_HARDWARE_RESET);
}

void CUSBHardWare::ReadSensorBlock(std::uint8_t (&raw)[kSensorBlockSize]) {
  Exchange lock(*this);
  SendAnnounce(CMD_SENSOR_DATA, kSensorRequestArg);
  ReceiveReport();
  std::memcpy(raw, m_Answer + kPayloadOffset, kSensorBlockSize);
}
