#include "control/qel_vantorix_ctrl.h"

#include <new>
#include <string>
#include <vector>

#include "control/about_box.h"
#include "control/ctrl_factory.h"
#include "control/hid_notifications.h"
#include "control/identity.h"
#include "control/script_arrays.h"
#include "ole/dispatch_table.h"
#include "platform/critical_section.h"

using platform::CsLock;

// Module state: the methods below are reached only through the dispatch table, and
// COleControl::Invoke runs the table inside the module's activation context
// (ole::ModuleStateScope), so they open no scope of their own. Only an entry that does not come
// through Invoke (an export, a type-information call, a window message) opens one where it
// enters, if it needs one.

HRESULT CreateQelVantorixActiveXCtrl(HidBoardOpener& opener, REFIID riid, void** ppv) {
  return ole::CreateAndQuery(new (std::nothrow) CQelVantorixActiveXCtrl(opener), riid, ppv);
}

CQelVantorixActiveXCtrl::CQelVantorixActiveXCtrl(HidBoardOpener& opener)
    : COleControl(Description()), m_BoardOpener(opener), m_UsbChannel(opener) {
  StartEnvironmentTrace();
}

CQelVantorixActiveXCtrl::~CQelVantorixActiveXCtrl() {
  WithdrawBoardNotification();
}

void CQelVantorixActiveXCtrl::AboutBox() {
  control::ShowAboutBox();
}

VARIANT_BOOL CQelVantorixActiveXCtrl::OpenUSBHidDevice() {
  RegisterBoardNotification();
  m_sBoardSelector.clear();  // back to the first board, for this and every later opening
  int failed;
  {
    CsLock board_state(m_UsbChannel.m_csBoardState);
    failed = OpenKeptBoard();
  }
  m_bConnected = failed ? 0 : 1;
  InvalidateControl();
  return failed ? VARIANT_TRUE : VARIANT_FALSE;
}

void CQelVantorixActiveXCtrl::RegisterBoardNotification() {
  const HWND own = GetControlWindow();
  // Without a window of its own (a script host's control) the registration goes to a hidden
  // window, so that no box stops an unattended script and its sinks still hear EVENT_PLUG.
  const HWND window = own ? own : m_NotifyWindow.Ensure(this);
  // One registration per window: a window registered twice would hear every notification
  // twice and reopen the board twice.
  if (m_hDevNotify && m_hDevNotifyWnd == window) return;
  control::UnregisterForHidInterfaces(m_hDevNotify);
  m_hDevNotify = nullptr;
  m_hDevNotifyWnd = nullptr;
  if (own) m_NotifyWindow.Destroy();  // the registration moves to the control's window
  m_hDevNotify = control::RegisterForHidInterfaces(window);
  if (!m_hDevNotify) {
    MessageBoxW(nullptr, L"RegisterDeviceNotification   failed", nullptr, MB_OK);
    return;
  }
  m_hDevNotifyWnd = window;
}

void CQelVantorixActiveXCtrl::WithdrawBoardNotification() {
  control::UnregisterForHidInterfaces(m_hDevNotify);
  m_hDevNotify = nullptr;
  m_hDevNotifyWnd = nullptr;
  m_NotifyWindow.Destroy();
}

void CQelVantorixActiveXCtrl::FireEVENT_PLUG(BOOL connected) {
  VARIANT arg;
  V_VT(&arg) = VT_BOOL;
  V_BOOL(&arg) = connected ? VARIANT_TRUE : VARIANT_FALSE;
  DISPPARAMS params = {&arg, nullptr, 1, 0};
  FireEvent(QVX_DISPID_EVENT_PLUG, &params);
}

template <class Byte>
int CQelVantorixActiveXCtrl::Transfer(const wchar_t* method,
                                      int (CUSBHardWare::*transfer)(std::uint8_t, Byte*,
                                                                    std::uint32_t, bool, bool),
                                      std::uint8_t bSlaveAddr, Byte* data, std::uint32_t count,
                                      bool fGenStart, bool fGenStop) {
  const int status = (m_UsbChannel.*transfer)(bSlaveAddr, data, count, fGenStart, fGenStop);
  ConcludeTransfer(method, m_UsbChannel.LastCommandAnswered(), bSlaveAddr, status);
  return status;
}

void CQelVantorixActiveXCtrl::I2Cm_Speed(std::uint16_t nSpeed) {
  CsLock board_state(m_UsbChannel.m_csBoardState);
  CsLock exchange(m_UsbChannel.m_csExchange);
  m_UsbChannel.SetI2CSpeed(nSpeed);
  Conclude(L"I2Cm_Speed", m_UsbChannel.LastCommandAnswered());
}

std::uint8_t CQelVantorixActiveXCtrl::I2Cm_fReadLongBytes(std::uint8_t bSlaveAddr,
                                                          std::uint8_t* pbXferData,
                                                          std::uint16_t bBytesCnts, int fGenStart,
                                                          int fGenStop) {
  return static_cast<std::uint8_t>(Transfer(L"I2Cm_fReadLongBytes", &CUSBHardWare::ReadI2CLongBytes,
                                            bSlaveAddr, pbXferData, bBytesCnts, fGenStart != 0,
                                            fGenStop != 0));
}

std::uint8_t CQelVantorixActiveXCtrl::I2Cm_fWriteLongBytes(std::uint8_t bSlaveAddr,
                                                           const std::uint8_t* pbXferData,
                                                           std::uint16_t bBytesCnts, int fGenStart,
                                                           int fGenStop) {
  return static_cast<std::uint8_t>(Transfer(L"I2Cm_fWriteLongBytes",
                                            &CUSBHardWare::WriteI2CLongBytes, bSlaveAddr,
                                            pbXferData, bBytesCnts, fGenStart != 0, fGenStop != 0));
}

void CQelVantorixActiveXCtrl::HardwareReset() {
  CsLock board_state(m_UsbChannel.m_csBoardState);
  m_UsbChannel.SendHardwareReset();
  Conclude(L"HardwareReset", m_UsbChannel.LastCommandAnswered());
}

void CQelVantorixActiveXCtrl::EEPROM_WriteByte(std::int32_t nAddr, const std::uint8_t* pbData,
                                               std::uint8_t cnt) {
  m_UsbChannel.WriteEEPROMPage(nAddr, pbData, cnt);
  Conclude(L"EEPROM_WriteByte", m_UsbChannel.LastCommandAnswered());
}

void CQelVantorixActiveXCtrl::EEPROM_ReadByte(std::int32_t nAddr, std::uint8_t* pbData,
                                              std::uint8_t cnt) {
  m_UsbChannel.ReadEEPROMPage(nAddr, pbData, cnt);
  Conclude(L"EEPROM_ReadByte", m_UsbChannel.LastCommandAnswered());
}

// The line setters take the board-state and exchange locks themselves.
void CQelVantorixActiveXCtrl::SwitchLine(const wchar_t* method, void (CUSBChannel::*set)(int),
                                         int nStatus) {
  (m_UsbChannel.*set)(nStatus ? 1 : 0);
  Conclude(method, m_UsbChannel.LastCommandAnswered());
}

short CQelVantorixActiveXCtrl::ReadLine(const wchar_t* method, std::size_t record_byte) {
  std::uint8_t record[board::kLineRecordSize] = {};
  {
    CsLock board_state(m_UsbChannel.m_csBoardState);
    CsLock exchange(m_UsbChannel.m_csExchange);
    m_UsbChannel.ReadLineState(record);
  }
  Conclude(method, m_UsbChannel.LastCommandAnswered());
  return record[record_byte];
}

void CQelVantorixActiveXCtrl::SetExpandChannel(std::uint8_t nAddress, std::uint8_t nChannel) {
  CsLock board_state(m_UsbChannel.m_csBoardState);
  m_UsbChannel.SelectExpandChannel(nAddress, nChannel);
  Conclude(L"SetExpandChannel", m_UsbChannel.LastCommandAnswered());
}

void CQelVantorixActiveXCtrl::GetSensorRawData(int fEnableExternBoard, std::uint8_t nChannel,
                                               std::uint8_t* bRawdataBuffer) {
  std::uint16_t values[board::kSensorValueCount] = {};
  // No board-state lock here: the selection and the sensor request are separate exchanges.
  bool answered = true;
  if (fEnableExternBoard) {
    m_UsbChannel.SelectExpandChannel(board::kExpanderAddress, nChannel);
    answered = m_UsbChannel.LastCommandAnswered();
  }
  m_UsbChannel.ReadSensorRawData(values);
  for (std::size_t k = 0; k < board::kSensorValueCount; ++k) {
    bRawdataBuffer[2 * k] = static_cast<std::uint8_t>(values[k] & 0xFF);
    bRawdataBuffer[2 * k + 1] = static_cast<std::uint8_t>(values[k] >> 8);
  }
  Conclude(L"GetSensorRawData", answered && m_UsbChannel.LastCommandAnswered());
}

void CQelVantorixActiveXCtrl::ReadSensorValues(const wchar_t* method, int fEnableExternBoard,
                                               std::uint8_t nChannel,
                                               std::uint16_t (&values)[board::kSensorValueCount]) {
  bool answered = true;
  if (fEnableExternBoard) {
    CsLock board_state(m_UsbChannel.m_csBoardState);
    m_UsbChannel.SelectExpandChannel(board::kExpanderAddress, nChannel);
    answered = m_UsbChannel.LastCommandAnswered();
  }
  m_UsbChannel.ReadSensorRawData(values);
  Conclude(method, answered && m_UsbChannel.LastCommandAnswered());
}

ole::Variant CQelVantorixActiveXCtrl::GetSensorRawDataEx(int fEnableExternBoard,
                                                         std::uint8_t nChannel) {
  std::uint16_t values[board::kSensorValueCount] = {};
  ReadSensorValues(L"GetSensorRawDataEx", fEnableExternBoard, nChannel, values);
  // The buffer holds value k low byte first; element k reads the pair high byte first, so the
  // script sees each value with its two bytes exchanged.
  std::uint16_t elements[board::kSensorValueCount];
  for (std::size_t k = 0; k < board::kSensorValueCount; ++k) {
    elements[k] = static_cast<std::uint16_t>(((values[k] & 0xFF) << 8) | (values[k] >> 8));
  }
  return control::MakeWordArray(elements, board::kSensorValueCount);
}

ole::Variant CQelVantorixActiveXCtrl::GetSensorValuesEx(int fEnableExternBoard,
                                                        std::uint8_t nChannel) {
  std::uint16_t values[board::kSensorValueCount] = {};
  ReadSensorValues(L"GetSensorValuesEx", fEnableExternBoard, nChannel, values);
  // As the board sends them (high byte first), in the integer type every script engine has.
  std::int32_t elements[board::kSensorValueCount];
  for (std::size_t k = 0; k < board::kSensorValueCount; ++k) elements[k] = values[k];
  return control::MakeLongArray(elements, board::kSensorValueCount);
}

ole::Variant CQelVantorixActiveXCtrl::EEPROM_ReadByteEx(std::uint32_t nAddr, std::uint32_t cnt) {
  if (!control::ArraySizeIsPossible(cnt)) throw std::bad_alloc();
  std::vector<std::uint8_t> buffer(cnt ? cnt : 1, 0);
  // One page command moves cnt modulo 256 bytes (at most 64); the rest of the array stays 0.
  m_UsbChannel.ReadEEPROMPage(static_cast<std::int32_t>(nAddr), buffer.data(),
                              static_cast<std::uint8_t>(cnt & 0xFF));
  Conclude(L"EEPROM_ReadByteEx", m_UsbChannel.LastCommandAnswered());
  return control::MakeByteArray(buffer.data(), cnt);
}

ole::Variant CQelVantorixActiveXCtrl::ReadBytes(const wchar_t* method, std::uint8_t bSlaveAddr,
                                                std::uint32_t count, bool fGenStart,
                                                bool fGenStop) {
  if (count > control::kMaxArrayArgument) control::RefuseCount(method, count);
  std::vector<std::uint8_t> buffer(count ? count : 1, 0);
  Transfer(method, &CUSBHardWare::ReadI2CLongBytes, bSlaveAddr, buffer.data(), count, fGenStart,
           fGenStop);
  return control::MakeByteArray(buffer.data(), count);
}

int CQelVantorixActiveXCtrl::WriteBytes(const wchar_t* method, std::uint8_t bSlaveAddr,
                                        const VARIANT* bytes, bool fGenStart, bool fGenStop) {
  const control::ByteArrayArgument data(bytes, 1, method);
  std::vector<std::uint8_t> buffer(data.Count() ? data.Count() : 1, 0);
  data.CopyTo(buffer.data());
  return Transfer(method, &CUSBHardWare::WriteI2CLongBytes, bSlaveAddr,
                  static_cast<const std::uint8_t*>(buffer.data()),
                  static_cast<std::uint32_t>(data.Count()), fGenStart, fGenStop);
}

ole::Variant CQelVantorixActiveXCtrl::I2Cm_fReadLongBytesEx(std::uint8_t bSlaveAddr,
                                                            std::uint32_t bBytesCnts) {
  return ReadBytes(L"I2Cm_fReadLongBytesEx", bSlaveAddr, bBytesCnts, true, true);
}

VARIANT_BOOL CQelVantorixActiveXCtrl::I2Cm_fWriteLongBytesEx(std::uint8_t bSlaveAddr,
                                                             const VARIANT* bXferData) {
  // True whatever the status: the status is what Get_LastStatus tells.
  WriteBytes(L"I2Cm_fWriteLongBytesEx", bSlaveAddr, bXferData, true, true);
  return VARIANT_TRUE;
}

void CQelVantorixActiveXCtrl::EEPROM_WriteByteEx(std::int32_t nAddr, const VARIANT* bData) {
  const control::ByteArrayArgument bytes(bData, 1, L"EEPROM_WriteByteEx");
  std::vector<std::uint8_t> buffer(bytes.Count() ? bytes.Count() : 1, 0);
  bytes.CopyTo(buffer.data());
  // The page command writes the first (count modulo 256) bytes, at most 64.
  m_UsbChannel.WriteEEPROMPage(nAddr, buffer.data(), static_cast<std::uint8_t>(bytes.Count()));
  Conclude(L"EEPROM_WriteByteEx", m_UsbChannel.LastCommandAnswered());
}

ole::Variant CQelVantorixActiveXCtrl::I2Cm_fReadBytesEx(std::uint8_t bSlaveAddr,
                                                        std::uint32_t bBytesCnts, int fGenStart,
                                                        int fGenStop) {
  return ReadBytes(L"I2Cm_fReadBytesEx", bSlaveAddr, bBytesCnts, fGenStart != 0, fGenStop != 0);
}

std::uint8_t CQelVantorixActiveXCtrl::I2Cm_fWriteBytesEx(std::uint8_t bSlaveAddr,
                                                         const VARIANT* bXferData, int fGenStart,
                                                         int fGenStop) {
  return static_cast<std::uint8_t>(
      WriteBytes(L"I2Cm_fWriteBytesEx", bSlaveAddr, bXferData, fGenStart != 0, fGenStop != 0));
}

ole::Variant CQelVantorixActiveXCtrl::I2Cm_fWriteReadEx(std::uint8_t bSlaveAddr,
                                                        const VARIANT* bWriteData,
                                                        std::uint32_t bReadCnts) {
  constexpr wchar_t kMethod[] = L"I2Cm_fWriteReadEx";
  const control::ByteArrayArgument data(bWriteData, 1, kMethod);
  if (bReadCnts > control::kMaxArrayArgument) control::RefuseCount(kMethod, bReadCnts);
  std::vector<std::uint8_t> out(data.Count() ? data.Count() : 1, 0);
  data.CopyTo(out.data());
  std::vector<std::uint8_t> in(bReadCnts ? bReadCnts : 1, 0);
  const CUSBHardWare::WriteReadResult r = m_UsbChannel.WriteReadI2C(
      bSlaveAddr, out.data(), static_cast<std::uint32_t>(data.Count()), in.data(), bReadCnts);
  // A slave that refused the register number explains the read that follows.
  ConcludeTransfer(kMethod, r.answered, bSlaveAddr,
                   r.write_status != 0 ? r.write_status : r.read_status);
  return control::MakeByteArray(in.data(), bReadCnts);
}
