// CQelVantorixActiveXCtrl: the scriptable control. It owns the board link and the connected
// flag, and adapts every dispatch method to one board operation with its locks.
//
// The script-facing methods carry the interface's names and plain C++ types, so that they can
// be called directly as well as through the dispatch table (control/dispatch_map.cpp). The
// board lines are the exception: every Set_<line> is SwitchLine and every Get_<line> ReadLine,
// and the table's row for the member gives the line.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "board/trace_recorder.h"
#include "board/usb_channel.h"
#include "control/notification_window.h"
#include "link/board_link.h"
#include "ole/ole_control.h"
#include "ole/raii.h"

class CQelVantorixActiveXCtrl : public ole::COleControl {
 public:
  // The board link opens through `opener`, which outlives the control.
  explicit CQelVantorixActiveXCtrl(HidBoardOpener& opener);
  ~CQelVantorixActiveXCtrl() override;

  static const ole::ControlDescription& Description();

  // Dispatch methods, in DISPID order.
  void AboutBox();
  VARIANT_BOOL OpenUSBHidDevice();  // VARIANT_TRUE when no board could be opened
  void I2Cm_Speed(std::uint16_t nSpeed);
  std::uint8_t I2Cm_fReadLongBytes(std::uint8_t bSlaveAddr, std::uint8_t* pbXferData,
                                   std::uint16_t bBytesCnts, int fGenStart, int fGenStop);
  std::uint8_t I2Cm_fWriteLongBytes(std::uint8_t bSlaveAddr, const std::uint8_t* pbXferData,
                                    std::uint16_t bBytesCnts, int fGenStart, int fGenStop);
  void HardwareReset();
  void EEPROM_WriteByte(std::int32_t nAddr, const std::uint8_t* pbData, std::uint8_t cnt);
  void EEPROM_ReadByte(std::int32_t nAddr, std::uint8_t* pbData, std::uint8_t cnt);
  void SetExpandChannel(std::uint8_t nAddress, std::uint8_t nChannel);
  ole::Variant GetSensorRawDataEx(int fEnableExternBoard, std::uint8_t nChannel);
  ole::Variant EEPROM_ReadByteEx(std::uint32_t nAddr, std::uint32_t cnt);
  void GetSensorRawData(int fEnableExternBoard, std::uint8_t nChannel,
                        std::uint8_t* bRawdataBuffer);
  ole::Variant I2Cm_fReadLongBytesEx(std::uint8_t bSlaveAddr, std::uint32_t bBytesCnts);
  // The array arguments are the caller's VARIANTs as passed; an unusable one throws
  // ole::ArgumentError for parameter 1 before anything is sent.
  VARIANT_BOOL I2Cm_fWriteLongBytesEx(std::uint8_t bSlaveAddr, const VARIANT* bXferData);
  void EEPROM_WriteByteEx(std::int32_t nAddr, const VARIANT* bData);
  // Starts tracing this control's board link into the new file `path` (.pcapng, .txt or
  // .log), replacing a trace already running; false, and the running trace kept, when the
  // name is refused or the file cannot be created.
  VARIANT_BOOL TraceStart(const wchar_t* path);
  void TraceStop();
  // Several boards (control/board_choice.cpp). ListBoards: one field ("serial", "location" or
  // "path") of every board, in enumeration order; another field throws ole::DispatchError
  // (E_INVALIDARG) whatever RaiseErrors says. SelectBoard keeps `bstrSelector` for every later
  // reopening and opens the board it names: VARIANT_TRUE when a board was opened (the opposite
  // sense of OpenUSBHidDevice); a malformed selector throws ole::DispatchError (E_INVALIDARG)
  // and changes nothing. Get_SelectedBoard: the open board as a selector, "" when none is open.
  ole::Variant ListBoards(const wchar_t* bstrField);
  VARIANT_BOOL SelectBoard(const wchar_t* bstrSelector);
  std::wstring Get_SelectedBoard();

  // Additions (DISPIDs from 100): what the last command got, errors on request, transfers with
  // the caller's START and STOP flags, the repeated-start register read, sensor values as VT_I4.
  std::uint8_t Get_LastStatus() const { return m_bLastStatus; }
  VARIANT_BOOL Get_LastAnswered() const { return m_fLastAnswered ? VARIANT_TRUE : VARIANT_FALSE; }
  void Set_RaiseErrors(int fRaise) { m_fRaiseErrors = fRaise != 0; }
  VARIANT_BOOL Get_RaiseErrors() const { return m_fRaiseErrors ? VARIANT_TRUE : VARIANT_FALSE; }
  ole::Variant I2Cm_fWriteReadEx(std::uint8_t bSlaveAddr, const VARIANT* bWriteData,
                                 std::uint32_t bReadCnts);
  ole::Variant I2Cm_fReadBytesEx(std::uint8_t bSlaveAddr, std::uint32_t bBytesCnts, int fGenStart,
                                 int fGenStop);
  std::uint8_t I2Cm_fWriteBytesEx(std::uint8_t bSlaveAddr, const VARIANT* bXferData, int fGenStart,
                                  int fGenStop);
  ole::Variant GetSensorValuesEx(int fEnableExternBoard, std::uint8_t nChannel);

  // Registers for HID interface arrivals and removals: through the control's window, or while
  // it has none through a hidden message-only window of its own, which gives way to the
  // control's window once there is one. One registration is kept per window; one the system
  // refuses shows its message box and the caller goes on.
  void RegisterBoardNotification();
  // Withdraws the registration (the window is going away, or the control is).
  void WithdrawBoardNotification();
  // Fires EVENT_PLUG(fConnected) to every sink.
  void FireEVENT_PLUG(BOOL connected);

  bool IsConnected() const { return m_bConnected != 0; }

  // WM_DEVICECHANGE (control/device_change.cpp): reopens the board on a HID interface arrival,
  // marks it disconnected on a removal, fires EVENT_PLUG. FALSE for every event.
  BOOL OnDeviceChange(UINT nEventType, DWORD_PTR dwData);

  // The visual side, each in the file named for it: draw.cpp, activation.cpp, misc_status.cpp,
  // message_map.cpp, persistence.cpp, property_page.cpp.
  void OnDraw(HDC hdc, const RECT& rcBounds, const RECT& rcInvalid) override;
  void OnShowToolBars() override;
  void OnDestroyWindow() override;
  DWORD GetControlFlags() const override;
  DWORD MiscStatus() const override;
  UINT UserTypeNameId() const override;
  ole::MessageMap GetMessageMap() const override;
  void DoPropExchange(ole::PropExchange& px) override;
  std::vector<CLSID> PropertyPageIds() const override;

 private:
  // The dispatch table's adapters (control/dispatch_map.cpp).
  friend struct CtrlDispatchMap;

  // The board lines, `method` naming the member called: Set_<line> switches the line with its
  // CUSBChannel setter, Get_<line> reads the line's byte of the line-state record.
  void SwitchLine(const wchar_t* method, void (CUSBChannel::*set)(int), int nStatus);
  short ReadLine(const wchar_t* method, std::size_t record_byte);
  // The command sequences that several methods share. Transfer: one I2C read or write
  // (CUSBHardWare::ReadI2CLongBytes or WriteI2CLongBytes) concluded for `method`; its status.
  template <class Byte>
  int Transfer(const wchar_t* method,
               int (CUSBHardWare::*transfer)(std::uint8_t, Byte*, std::uint32_t, bool, bool),
               std::uint8_t bSlaveAddr, Byte* data, std::uint32_t count, bool fGenStart,
               bool fGenStop);
  ole::Variant ReadBytes(const wchar_t* method, std::uint8_t bSlaveAddr, std::uint32_t count,
                         bool fGenStart, bool fGenStop);
  int WriteBytes(const wchar_t* method, std::uint8_t bSlaveAddr, const VARIANT* bytes,
                 bool fGenStart, bool fGenStop);
  void ReadSensorValues(const wchar_t* method, int fEnableExternBoard, std::uint8_t nChannel,
                        std::uint16_t (&values)[board::kSensorValueCount]);

  // Every route that opens the board (OpenUSBHidDevice, SelectBoard, UI activation, arrival)
  // opens the board the kept selector names; TRUE (nonzero) when none was opened.
  int OpenKeptBoard();

  // After a method's board commands (control/command_outcome.cpp): keeps whether all of them
  // were answered and, for an I2C transfer, its status byte; with RaiseErrors on, throws
  // ole::DispatchError naming `method` when a command went unanswered or had no board, or a
  // transfer's status is not 0.
  void Conclude(const wchar_t* method, bool answered);
  void ConcludeTransfer(const wchar_t* method, bool answered, std::uint8_t bSlaveAddr, int status);
  // Swaps in `trace` (nullptr: none) and closes the one it replaces.
  void ReplaceTrace(std::unique_ptr<board::TraceRecorder> trace);
  // Starts the trace QVX_TRACE_DIR asks for, if any (control/trace.cpp).
  void StartEnvironmentTrace();

  // Declared before the link, so that it outlives it.
  std::unique_ptr<board::TraceRecorder> m_pTrace;
  HidBoardOpener& m_BoardOpener;  // the link's way to its board; lists and names the boards too
  CUSBChannel m_UsbChannel;
  BYTE m_bConnected = 0;
  RECT m_rcBounds = {};
  HDEVNOTIFY m_hDevNotify = nullptr;
  HWND m_hDevNotifyWnd = nullptr;              // the window m_hDevNotify was made for
  control::NotificationWindow m_NotifyWindow;  // while the control has no window of its own
  std::uint8_t m_bLastStatus = 0;
  bool m_fLastAnswered = false;
  bool m_fRaiseErrors = false;    // not persisted
  std::string m_sBoardSelector;   // the board every opening opens; empty: the first
  std::string m_sOpenBoardPath;   // the device path of the board last opened, empty: none
  std::wstring m_sSelectedBoard;  // Get_SelectedBoard's answer once asked for, until reopened
  bool m_fSelectedBoardKnown = false;
};
