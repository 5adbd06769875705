#include "control/qel_vantorix_ctrl.h"

#include <dbt.h>

#include <new>
#include <string>
#include <vector>

#include "control/about_box.h"
#include "control/ctrl_factory.h"
#include "control/identity.h"
#include "control/script_arrays.h"
#include "ole/dispatch_table.h"
#include "ole/module_state.h"
#include "platform/critical_section.h"

using platform::CsLock;

namespace {

// GUID_DEVINTERFACE_HID: every HID interface, whichever device it belongs to.
constexpr GUID kHidInterfaceClass = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

}  // namespace

HRESULT CreateQelVantorixActiveXCtrl(REFIID riid, void** ppv) {
  return ole::CreateAndQuery(new (std::nothrow) CQelVantorixActiveXCtrl, riid, ppv);
}

CQelVantorixActiveXCtrl::CQelVantorixActiveXCtrl() : COleControl(Description()) {
  StartEnvironmentTrace();
}

CQelVantorixActiveXCtrl::~CQelVantorixActiveXCtrl() {
  WithdrawBoardNotification();
}

void CQelVantorixActiveXCtrl::AboutBox() {
  control::ShowAboutBox();
}

VARIANT_BOOL CQelVantorixActiveXCtrl::OpenUSBHidDevice() {
  ole::ModuleStateScope state;
  RegisterBoardNotification();
  int failed;
  {
    CsLock board_state(m_UsbChannel.m_csBoardState);
    failed = m_UsbChannel.OpenBoard();
  }
  m_bConnected = failed ? 0 : 1;
  InvalidateControl();
  return failed ? VARIANT_TRUE : VARIANT_FALSE;
}

void CQelVantorixActiveXCtrl::RegisterBoardNotification() {
  const HWND window = GetControlWindow();
  // One registration per window: a window registered twice would hear every notification
  // twice and reopen the board twice.
  if (m_hDevNotify && m_hDevNotifyWnd == window) return;
  WithdrawBoardNotification();
  DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
  filter.dbcc_size = sizeof(filter);
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_reserved = 0;
  filter.dbcc_classguid = kHidInterfaceClass;
  m_hDevNotify = RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
  if (!m_hDevNotify) {
    MessageBoxW(nullptr, L"RegisterDeviceNotification   failed", nullptr, MB_OK);
    return;
  }
  m_hDevNotifyWnd = window;
}

void CQelVantorixActiveXCtrl::WithdrawBoardNotification() {
  if (m_hDevNotify) UnregisterDeviceNotification(m_hDevNotify);
  m_hDevNotify = nullptr;
  m_hDevNotifyWnd = nullptr;
}

void CQelVantorixActiveXCtrl::FireEVENT_PLUG(BOOL connected) {
  VARIANT arg;
  V_VT(&arg) = VT_BOOL;
  V_BOOL(&arg) = connected ? VARIANT_TRUE : VARIANT_FALSE;
  DISPPARAMS params = {&arg, nullptr, 1, 0};
  FireEvent(QVX_DISPID_EVENT_PLUG, &params);
}

void CQelVantorixActiveXCtrl::I2Cm_Speed(std::uint16_t nSpeed) {
  ole::ModuleStateScope state;
  CsLock board_state(m_UsbChannel.m_csBoardState);
  CsLock exchange(m_UsbChannel.m_csExchange);
  m_UsbChannel.SetI2CSpeed(nSpeed);
}

std::uint8_t CQelVantorixActiveXCtrl::I2Cm_fReadLongBytes(std::uint8_t bSlaveAddr,
                                                          std::uint8_t* pbXferData,
                                                          std::uint16_t bBytesCnts, int fGenStart,
                                                          int fGenStop) {
  ole::ModuleStateScope state;
  return static_cast<std::uint8_t>(m_UsbChannel.ReadI2CLongBytes(bSlaveAddr, pbXferData, bBytesCnts,
                                                                 fGenStart != 0, fGenStop != 0));
}

std::uint8_t CQelVantorixActiveXCtrl::I2Cm_fWriteLongBytes(std::uint8_t bSlaveAddr,
                                                           const std::uint8_t* pbXferData,
                                                           std::uint16_t bBytesCnts, int fGenStart,
                                                           int fGenStop) {
  ole::ModuleStateScope state;
  return static_cast<std::uint8_t>(m_UsbChannel.WriteI2CLongBytes(
      bSlaveAddr, pbXferData, bBytesCnts, fGenStart != 0, fGenStop != 0));
}

void CQelVantorixActiveXCtrl::HardwareReset() {
  ole::ModuleStateScope state;
  CsLock board_state(m_UsbChannel.m_csBoardState);
  m_UsbChannel.SendHardwareReset();
}

void CQelVantorixActiveXCtrl::EEPROM_WriteByte(std::int32_t nAddr, const std::uint8_t* pbData,
                                               std::uint8_t cnt) {
  ole::ModuleStateScope state;
  m_UsbChannel.WriteEEPROMPage(nAddr, pbData, cnt);
}

void CQelVantorixActiveXCtrl::EEPROM_ReadByte(std::int32_t nAddr, std::uint8_t* pbData,
                                              std::uint8_t cnt) {
  ole::ModuleStateScope state;
  m_UsbChannel.ReadEEPROMPage(nAddr, pbData, cnt);
}

// The line setters take the board-state and exchange locks themselves.
void CQelVantorixActiveXCtrl::Set_I2Cm_Power(int nStatus) {
  ole::ModuleStateScope state;
  m_UsbChannel.SetPower(nStatus ? 1 : 0);
}
void CQelVantorixActiveXCtrl::Set_I2Cm_Reset(int nStatus) {
  ole::ModuleStateScope state;
  m_UsbChannel.SetReset(nStatus ? 1 : 0);
}
void CQelVantorixActiveXCtrl::Set_I2Cm_Buzzer(int nStatus) {
  ole::ModuleStateScope state;
  m_UsbChannel.SetBuzzer(nStatus ? 1 : 0);
}
void CQelVantorixActiveXCtrl::Set_I2Cm_LED_Pass(int nStatus) {
  ole::ModuleStateScope state;
  m_UsbChannel.SetLedPass(nStatus ? 1 : 0);
}
void CQelVantorixActiveXCtrl::Set_I2Cm_LED_Fail(int nStatus) {
  ole::ModuleStateScope state;
  m_UsbChannel.SetLedFail(nStatus ? 1 : 0);
}
void CQelVantorixActiveXCtrl::Set_I2Cm_LED_Error(int nStatus) {
  ole::ModuleStateScope state;
  m_UsbChannel.SetLedError(nStatus ? 1 : 0);
}

short CQelVantorixActiveXCtrl::ReadLine(std::size_t recordByte) {
  ole::ModuleStateScope state;
  std::uint8_t record[board::kLineRecordSize] = {};
  {
    CsLock board_state(m_UsbChannel.m_csBoardState);
    CsLock exchange(m_UsbChannel.m_csExchange);
    m_UsbChannel.ReadLineState(record);
  }
  return record[recordByte];
}

short CQelVantorixActiveXCtrl::Get_I2Cm_Power() {
  return ReadLine(board::kLinePower);
}
short CQelVantorixActiveXCtrl::Get_I2Cm_Reset() {
  return ReadLine(board::kLineReset);
}
short CQelVantorixActiveXCtrl::Get_I2Cm_Buzzer() {
  return ReadLine(board::kLineBuzzer);
}
short CQelVantorixActiveXCtrl::Get_I2Cm_LED_Pass() {
  return ReadLine(board::kLineLedPass);
}
short CQelVantorixActiveXCtrl::Get_I2Cm_LED_Fail() {
  return ReadLine(board::kLineLedFail);
}
short CQelVantorixActiveXCtrl::Get_I2Cm_LED_Error() {
  return ReadLine(board::kLineLedError);
}
short CQelVantorixActiveXCtrl::Get_I2Cm_INT() {
  return ReadLine(board::kLineInt);
}
short CQelVantorixActiveXCtrl::Get_Key1() {
  return ReadLine(board::kLineKey1);
}
short CQelVantorixActiveXCtrl::Get_Key2() {
  return ReadLine(board::kLineKey2);
}
short CQelVantorixActiveXCtrl::Get_Key3() {
  return ReadLine(board::kLineKey3);
}

void CQelVantorixActiveXCtrl::SetExpandChannel(std::uint8_t nAddress, std::uint8_t nChannel) {
  ole::ModuleStateScope state;
  CsLock board_state(m_UsbChannel.m_csBoardState);
  m_UsbChannel.SelectExpandChannel(nAddress, nChannel);
}

void CQelVantorixActiveXCtrl::GetSensorRawData(int fEnableExternBoard, std::uint8_t nChannel,
                                               std::uint8_t* bRawdataBuffer) {
  ole::ModuleStateScope state;
  std::uint16_t values[board::kSensorValueCount] = {};
  // No board-state lock here: the selection and the sensor request are separate exchanges.
  if (fEnableExternBoard) m_UsbChannel.SelectExpandChannel(board::kExpanderAddress, nChannel);
  m_UsbChannel.ReadSensorRawData(values);
  for (std::size_t k = 0; k < board::kSensorValueCount; ++k) {
    bRawdataBuffer[2 * k] = static_cast<std::uint8_t>(values[k] & 0xFF);
    bRawdataBuffer[2 * k + 1] = static_cast<std::uint8_t>(values[k] >> 8);
  }
}

ole::Variant CQelVantorixActiveXCtrl::GetSensorRawDataEx(int fEnableExternBoard,
                                                         std::uint8_t nChannel) {
  ole::ModuleStateScope state;
  std::uint16_t values[board::kSensorValueCount] = {};
  if (fEnableExternBoard) {
    CsLock board_state(m_UsbChannel.m_csBoardState);
    m_UsbChannel.SelectExpandChannel(board::kExpanderAddress, nChannel);
  }
  m_UsbChannel.ReadSensorRawData(values);
  // The buffer holds value k low byte first; element k reads the pair high byte first, so the
  // script sees each value with its two bytes exchanged.
  std::uint16_t elements[board::kSensorValueCount];
  for (std::size_t k = 0; k < board::kSensorValueCount; ++k) {
    elements[k] = static_cast<std::uint16_t>(((values[k] & 0xFF) << 8) | (values[k] >> 8));
  }
  return control::MakeWordArray(elements, board::kSensorValueCount);
}

ole::Variant CQelVantorixActiveXCtrl::EEPROM_ReadByteEx(std::uint32_t nAddr, std::uint32_t cnt) {
  ole::ModuleStateScope state;
  if (!control::ArraySizeIsPossible(cnt)) throw std::bad_alloc();
  std::vector<std::uint8_t> buffer(cnt ? cnt : 1, 0);
  // One page command moves cnt modulo 256 bytes (at most 64); the rest of the array stays 0.
  m_UsbChannel.ReadEEPROMPage(static_cast<std::int32_t>(nAddr), buffer.data(),
                              static_cast<std::uint8_t>(cnt & 0xFF));
  return control::MakeByteArray(buffer.data(), cnt);
}

ole::Variant CQelVantorixActiveXCtrl::I2Cm_fReadLongBytesEx(std::uint8_t bSlaveAddr,
                                                            std::uint32_t bBytesCnts) {
  ole::ModuleStateScope state;
  if (bBytesCnts > control::kMaxArrayArgument) {
    control::RefuseCount(L"I2Cm_fReadLongBytesEx", bBytesCnts);
  }
  std::vector<std::uint8_t> buffer(bBytesCnts ? bBytesCnts : 1, 0);
  m_UsbChannel.ReadI2CLongBytes(bSlaveAddr, buffer.data(), bBytesCnts, true, true);
  return control::MakeByteArray(buffer.data(), bBytesCnts);
}

VARIANT_BOOL CQelVantorixActiveXCtrl::I2Cm_fWriteLongBytesEx(std::uint8_t bSlaveAddr,
                                                             const VARIANT* bXferData) {
  ole::ModuleStateScope state;
  const control::ByteArrayArgument bytes(bXferData, 1, L"I2Cm_fWriteLongBytesEx");
  std::vector<std::uint8_t> buffer(bytes.Count() ? bytes.Count() : 1, 0);
  bytes.CopyTo(buffer.data());
  m_UsbChannel.WriteI2CLongBytes(bSlaveAddr, buffer.data(),
                                 static_cast<std::uint32_t>(bytes.Count()), true, true);
  return VARIANT_TRUE;
}

void CQelVantorixActiveXCtrl::EEPROM_WriteByteEx(std::int32_t nAddr, const VARIANT* bData) {
  ole::ModuleStateScope state;
  const control::ByteArrayArgument bytes(bData, 1, L"EEPROM_WriteByteEx");
  std::vector<std::uint8_t> buffer(bytes.Count() ? bytes.Count() : 1, 0);
  bytes.CopyTo(buffer.data());
  // The page command writes the first (count modulo 256) bytes, at most 64.
  m_UsbChannel.WriteEEPROMPage(nAddr, buffer.data(), static_cast<std::uint8_t>(bytes.Count()));
}
