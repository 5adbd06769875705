// The dispatch table of _DQelVantorixActiveX: one row per method in DISPID order, and the
// adapters between the table's converted arguments and the control's methods.
#include <olectl.h>

#include "control/identity.h"
#include "control/qel_vantorix_ctrl.h"

using ole::DispCall;
using ole::DispParam;

struct CtrlDispatchMap {
  using C = CQelVantorixActiveXCtrl;

  // What the EEPROM page methods touch of their buffer: one page command moves at most 64.
  static std::size_t PageBytes(std::uint8_t cnt) {
    return cnt < board::kEepromMaxPage ? cnt : board::kEepromMaxPage;
  }

  static void AboutBox(C& t, DispCall&) { t.AboutBox(); }
  static void OpenUSBHidDevice(C& t, DispCall& c) { c.ReturnBool(t.OpenUSBHidDevice()); }
  static void I2Cm_Speed(C& t, DispCall& c) { t.I2Cm_Speed(c.U2(0)); }
  static void I2Cm_fReadLongBytes(C& t, DispCall& c) {
    c.ReturnU1(
        t.I2Cm_fReadLongBytes(c.U1(0), c.ByteBuffer(1, c.U2(2)), c.U2(2), c.Bool(3), c.Bool(4)));
  }
  static void I2Cm_fWriteLongBytes(C& t, DispCall& c) {
    c.ReturnU1(
        t.I2Cm_fWriteLongBytes(c.U1(0), c.ByteBuffer(1, c.U2(2)), c.U2(2), c.Bool(3), c.Bool(4)));
  }
  static void HardwareReset(C& t, DispCall&) { t.HardwareReset(); }
  static void EEPROM_WriteByte(C& t, DispCall& c) {
    t.EEPROM_WriteByte(c.I4(0), c.ByteBuffer(1, PageBytes(c.U1(2))), c.U1(2));
  }
  static void EEPROM_ReadByte(C& t, DispCall& c) {
    t.EEPROM_ReadByte(c.I4(0), c.ByteBuffer(1, PageBytes(c.U1(2))), c.U1(2));
  }
  // Every board line's pair of members: the row gives the line.
  template <void (CUSBChannel::*Set)(int)>
  static void SetLine(C& t, DispCall& c) {
    t.SwitchLine(c.Member(), Set, c.Bool(0));
  }
  template <std::size_t RecordByte>
  static void GetLine(C& t, DispCall& c) {
    c.ReturnBool(t.ReadLine(c.Member(), RecordByte));
  }
  static void SetExpandChannel(C& t, DispCall& c) { t.SetExpandChannel(c.U1(0), c.U1(1)); }
  static void GetSensorRawDataEx(C& t, DispCall& c) {
    c.ReturnVariant(t.GetSensorRawDataEx(c.Bool(0), c.U1(1)));
  }
  static void EEPROM_ReadByteEx(C& t, DispCall& c) {
    c.ReturnVariant(t.EEPROM_ReadByteEx(c.U4(0), c.U4(1)));
  }
  static void GetSensorRawData(C& t, DispCall& c) {
    t.GetSensorRawData(c.Bool(0), c.U1(1), c.ByteBuffer(2, board::kSensorBlockSize));
  }
  static void I2Cm_fReadLongBytesEx(C& t, DispCall& c) {
    c.ReturnVariant(t.I2Cm_fReadLongBytesEx(c.U1(0), c.U4(1)));
  }
  static void I2Cm_fWriteLongBytesEx(C& t, DispCall& c) {
    c.ReturnBool(t.I2Cm_fWriteLongBytesEx(c.U1(0), c.Var(1)));
  }
  static void EEPROM_WriteByteEx(C& t, DispCall& c) { t.EEPROM_WriteByteEx(c.I4(0), c.Var(1)); }
  static void Get_LastStatus(C& t, DispCall& c) { c.ReturnU1(t.Get_LastStatus()); }
  static void Get_LastAnswered(C& t, DispCall& c) { c.ReturnBool(t.Get_LastAnswered()); }
  static void Set_RaiseErrors(C& t, DispCall& c) { t.Set_RaiseErrors(c.Bool(0)); }
  static void Get_RaiseErrors(C& t, DispCall& c) { c.ReturnBool(t.Get_RaiseErrors()); }
  static void I2Cm_fWriteReadEx(C& t, DispCall& c) {
    c.ReturnVariant(t.I2Cm_fWriteReadEx(c.U1(0), c.Var(1), c.U4(2)));
  }
  static void I2Cm_fReadBytesEx(C& t, DispCall& c) {
    c.ReturnVariant(t.I2Cm_fReadBytesEx(c.U1(0), c.U4(1), c.Bool(2), c.Bool(3)));
  }
  static void I2Cm_fWriteBytesEx(C& t, DispCall& c) {
    c.ReturnU1(t.I2Cm_fWriteBytesEx(c.U1(0), c.Var(1), c.Bool(2), c.Bool(3)));
  }
  static void GetSensorValuesEx(C& t, DispCall& c) {
    c.ReturnVariant(t.GetSensorValuesEx(c.Bool(0), c.U1(1)));
  }
  static void TraceStart(C& t, DispCall& c) { c.ReturnBool(t.TraceStart(c.Str(0))); }
  static void TraceStop(C& t, DispCall&) { t.TraceStop(); }
  static void ListBoards(C& t, DispCall& c) { c.ReturnVariant(t.ListBoards(c.Str(0))); }
  static void SelectBoard(C& t, DispCall& c) { c.ReturnBool(t.SelectBoard(c.Str(0))); }
  static void Get_SelectedBoard(C& t, DispCall& c) { c.ReturnStr(t.Get_SelectedBoard()); }
};

namespace {

#define QVX_PARAMS(name, ...) constexpr DispParam name[] = {__VA_ARGS__};
QVX_PARAMS(kSpeed, {L"nSpeed", VT_UI2})
QVX_PARAMS(kI2cTransfer, {L"bSlaveAddr", VT_UI1}, {L"pbXferData", VT_UI1 | VT_BYREF},
           {L"bBytesCnts", VT_UI2}, {L"fGenStart", VT_BOOL}, {L"fGenStop", VT_BOOL})
QVX_PARAMS(kEepromPage, {L"nAddr", VT_I4}, {L"pbData", VT_UI1 | VT_BYREF}, {L"cnt", VT_UI1})
QVX_PARAMS(kStatus, {L"nStatus", VT_BOOL})
QVX_PARAMS(kExpand, {L"nAddress", VT_UI1}, {L"nChannel", VT_UI1})
QVX_PARAMS(kSensorEx, {L"fEnableExternBoard", VT_BOOL}, {L"nChannel", VT_UI1})
QVX_PARAMS(kEepromReadEx, {L"nAddr", VT_UI4}, {L"cnt", VT_UI4})
QVX_PARAMS(kSensor, {L"fEnableExternBoard", VT_BOOL}, {L"nChannel", VT_UI1},
           {L"bRawdataBuffer", VT_UI1 | VT_BYREF})
QVX_PARAMS(kI2cReadEx, {L"bSlaveAddr", VT_UI1}, {L"bBytesCnts", VT_UI4})
QVX_PARAMS(kI2cWriteEx, {L"bSlaveAddr", VT_UI1}, {L"bXferData", VT_VARIANT})
QVX_PARAMS(kEepromWriteEx, {L"nAddr", VT_I4}, {L"bData", VT_VARIANT})
QVX_PARAMS(kRaise, {L"fRaise", VT_BOOL})
QVX_PARAMS(kWriteReadEx, {L"bSlaveAddr", VT_UI1}, {L"bWriteData", VT_VARIANT},
           {L"bReadCnts", VT_UI4})
QVX_PARAMS(kReadBytesEx, {L"bSlaveAddr", VT_UI1}, {L"bBytesCnts", VT_UI4}, {L"fGenStart", VT_BOOL},
           {L"fGenStop", VT_BOOL})
QVX_PARAMS(kWriteBytesEx, {L"bSlaveAddr", VT_UI1}, {L"bXferData", VT_VARIANT},
           {L"fGenStart", VT_BOOL}, {L"fGenStop", VT_BOOL})
QVX_PARAMS(kTraceStart, {L"bstrPath", VT_BSTR})
QVX_PARAMS(kListBoards, {L"bstrField", VT_BSTR})
QVX_PARAMS(kSelectBoard, {L"bstrSelector", VT_BSTR})
#undef QVX_PARAMS

// The parameter list of a member that takes none.
constexpr std::nullptr_t kNone = nullptr;

template <std::size_t N>
constexpr std::size_t ParamCount(const DispParam (&)[N]) {
  return N;
}
constexpr std::size_t ParamCount(std::nullptr_t) {
  return 0;
}

#define QVX_ROW(name, dispid, params, result, handler)                 \
  {                                                                    \
    L## #name, dispid, params, ParamCount(params), result,             \
        ole::ControlRow<CtrlDispatchMap::C, &CtrlDispatchMap::handler> \
  }
#define QVX_METHOD(name, dispid, params, result) QVX_ROW(name, dispid, params, result, name)
// A board line's members: Set_<line> and Get_<line> with their DISPIDs, the line's setter in
// CUSBChannel and its byte of the line-state record; the input lines have Get_<line> alone.
#define QVX_LINE(name, set_dispid, get_dispid, setter, line)                         \
  QVX_ROW(Set_##name, set_dispid, kStatus, VT_EMPTY, SetLine<&CUSBChannel::setter>), \
      QVX_ROW(Get_##name, get_dispid, kNone, VT_BOOL, GetLine<board::line>)
#define QVX_INPUT_LINE(name, dispid, line) \
  QVX_ROW(Get_##name, dispid, kNone, VT_BOOL, GetLine<board::line>)

const ole::DispMember kMembers[] = {
    QVX_METHOD(AboutBox, QVX_DISPID_ABOUTBOX, kNone, VT_EMPTY),
    QVX_METHOD(OpenUSBHidDevice, QVX_DISPID_OPENUSBHIDDEVICE, kNone, VT_BOOL),
    QVX_METHOD(I2Cm_Speed, QVX_DISPID_I2CM_SPEED, kSpeed, VT_EMPTY),
    QVX_METHOD(I2Cm_fReadLongBytes, QVX_DISPID_I2CM_FREADLONGBYTES, kI2cTransfer, VT_UI1),
    QVX_METHOD(I2Cm_fWriteLongBytes, QVX_DISPID_I2CM_FWRITELONGBYTES, kI2cTransfer, VT_UI1),
    QVX_METHOD(HardwareReset, QVX_DISPID_HARDWARERESET, kNone, VT_EMPTY),
    QVX_METHOD(EEPROM_WriteByte, QVX_DISPID_EEPROM_WRITEBYTE, kEepromPage, VT_EMPTY),
    QVX_METHOD(EEPROM_ReadByte, QVX_DISPID_EEPROM_READBYTE, kEepromPage, VT_EMPTY),
    QVX_LINE(I2Cm_Power, QVX_DISPID_SET_I2CM_POWER, QVX_DISPID_GET_I2CM_POWER, SetPower,
             kLinePower),
    QVX_LINE(I2Cm_Reset, QVX_DISPID_SET_I2CM_RESET, QVX_DISPID_GET_I2CM_RESET, SetReset,
             kLineReset),
    QVX_LINE(I2Cm_Buzzer, QVX_DISPID_SET_I2CM_BUZZER, QVX_DISPID_GET_I2CM_BUZZER, SetBuzzer,
             kLineBuzzer),
    QVX_LINE(I2Cm_LED_Pass, QVX_DISPID_SET_I2CM_LED_PASS, QVX_DISPID_GET_I2CM_LED_PASS, SetLedPass,
             kLineLedPass),
    QVX_LINE(I2Cm_LED_Fail, QVX_DISPID_SET_I2CM_LED_FAIL, QVX_DISPID_GET_I2CM_LED_FAIL, SetLedFail,
             kLineLedFail),
    QVX_LINE(I2Cm_LED_Error, QVX_DISPID_SET_I2CM_LED_ERROR, QVX_DISPID_GET_I2CM_LED_ERROR,
             SetLedError, kLineLedError),
    QVX_METHOD(SetExpandChannel, QVX_DISPID_SETEXPANDCHANNEL, kExpand, VT_EMPTY),
    QVX_METHOD(GetSensorRawDataEx, QVX_DISPID_GETSENSORRAWDATAEX, kSensorEx, VT_VARIANT),
    QVX_METHOD(EEPROM_ReadByteEx, QVX_DISPID_EEPROM_READBYTEEX, kEepromReadEx, VT_VARIANT),
    QVX_METHOD(GetSensorRawData, QVX_DISPID_GETSENSORRAWDATA, kSensor, VT_EMPTY),
    QVX_METHOD(I2Cm_fReadLongBytesEx, QVX_DISPID_I2CM_FREADLONGBYTESEX, kI2cReadEx, VT_VARIANT),
    QVX_METHOD(I2Cm_fWriteLongBytesEx, QVX_DISPID_I2CM_FWRITELONGBYTESEX, kI2cWriteEx, VT_BOOL),
    QVX_METHOD(EEPROM_WriteByteEx, QVX_DISPID_EEPROM_WRITEBYTEEX, kEepromWriteEx, VT_EMPTY),
    QVX_INPUT_LINE(I2Cm_INT, QVX_DISPID_GET_I2CM_INT, kLineInt),
    QVX_INPUT_LINE(Key1, QVX_DISPID_GET_KEY1, kLineKey1),
    QVX_INPUT_LINE(Key2, QVX_DISPID_GET_KEY2, kLineKey2),
    QVX_INPUT_LINE(Key3, QVX_DISPID_GET_KEY3, kLineKey3),
    QVX_METHOD(Get_LastStatus, QVX_DISPID_GET_LASTSTATUS, kNone, VT_UI1),
    QVX_METHOD(Get_LastAnswered, QVX_DISPID_GET_LASTANSWERED, kNone, VT_BOOL),
    QVX_METHOD(Set_RaiseErrors, QVX_DISPID_SET_RAISEERRORS, kRaise, VT_EMPTY),
    QVX_METHOD(Get_RaiseErrors, QVX_DISPID_GET_RAISEERRORS, kNone, VT_BOOL),
    QVX_METHOD(I2Cm_fWriteReadEx, QVX_DISPID_I2CM_FWRITEREADEX, kWriteReadEx, VT_VARIANT),
    QVX_METHOD(I2Cm_fReadBytesEx, QVX_DISPID_I2CM_FREADBYTESEX, kReadBytesEx, VT_VARIANT),
    QVX_METHOD(I2Cm_fWriteBytesEx, QVX_DISPID_I2CM_FWRITEBYTESEX, kWriteBytesEx, VT_UI1),
    QVX_METHOD(GetSensorValuesEx, QVX_DISPID_GETSENSORVALUESEX, kSensorEx, VT_VARIANT),
    QVX_METHOD(TraceStart, QVX_DISPID_TRACESTART, kTraceStart, VT_BOOL),
    QVX_METHOD(TraceStop, QVX_DISPID_TRACESTOP, kNone, VT_EMPTY),
    QVX_METHOD(ListBoards, QVX_DISPID_LISTBOARDS, kListBoards, VT_VARIANT),
    QVX_METHOD(SelectBoard, QVX_DISPID_SELECTBOARD, kSelectBoard, VT_BOOL),
    QVX_METHOD(Get_SelectedBoard, QVX_DISPID_GET_SELECTEDBOARD, kNone, VT_BSTR),
};
#undef QVX_METHOD
#undef QVX_LINE
#undef QVX_INPUT_LINE
#undef QVX_ROW

const ole::DispatchTable kDispatchTable(kMembers, ARRAYSIZE(kMembers));

}  // namespace

const ole::ControlDescription& CQelVantorixActiveXCtrl::Description() {
  static const ole::ControlDescription description = {&qvx::kClsidCtrl, &qvx::kDiidDispatch,
                                                      &qvx::kDiidEvents, &kDispatchTable};
  return description;
}
