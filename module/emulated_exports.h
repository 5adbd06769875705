// Functions that only the emulated build of the module exports: they reach the one emulated
// board inside it, so that tests and demos can plug and unplug it, press its keys, drive its INT
// line, make it misbehave and look at what it holds. Tests load them with GetProcAddress.
//
// When QVX_EMULATED_SERVER names a board server, the control runs against that server's boards
// and there is no board in the module for these to act on: every board function then does
// nothing (an output buffer is left as it is) and the queries return 0, FALSE or -1 (no
// expander channel). Misbehaviour of a served board is asked of the server (docs/emulator.md).
#pragma once

#include <windows.h>

extern "C" {

// Plug the board in or pull it out as a user would: when that changes anything, every window
// registered in the process for HID interface notifications receives WM_DEVICECHANGE
// (DBT_DEVICEARRIVAL or DBT_DEVICEREMOVECOMPLETE with the board's interface), on its own thread.
void WINAPI QvxEmuPlug();
void WINAPI QvxEmuUnplug();
// Plugs in one more emulated board with this serial number string and USB port location (either
// may be empty or null), with its own EEPROM, lines and I2C devices, as the default board starts
// out; the registered windows hear its arrival. Returns its id, greater than 0 (0 when it could
// not be made). The default board (empty serial, location kDefaultBoardLocation) stays the
// first in the enumeration, and the other QvxEmu* functions keep acting on it alone.
int WINAPI QvxEmuAddBoard(const wchar_t* serial, const wchar_t* location);
// Unplugs board `id` for good, with the removal notification QvxEmuUnplug gives; the id is
// never used again. Unknown or removed ids are ignored, here and below.
void WINAPI QvxEmuRemoveBoard(int id);
// Plugs board `id` in or pulls it out, with notifications when that changes anything.
void WINAPI QvxEmuPlugBoard(int id, BOOL plugged);
// The EEPROM content of board `id`, read directly with no command.
void WINAPI QvxEmuReadBoardEeprom(int id, UINT address, BYTE* bytes, UINT count);
// The same without any notification, for tests that send WM_DEVICECHANGE themselves.
void WINAPI QvxEmuSetPlugged(BOOL plugged);
// With TRUE, every registration for device notifications is refused, as the system may refuse
// one; FALSE: back to normal.
void WINAPI QvxEmuRefuseNotifications(BOOL refuse);
BOOL WINAPI QvxEmuIsPlugged();
// key 1..3.
void WINAPI QvxEmuSetKey(int key, BOOL pressed);
void WINAPI QvxEmuSetInt(BOOL high);
// The board carries out every command but sends no report.
void WINAPI QvxEmuSetSilent(BOOL silent);
// Every answer arrives after `delay_ms` (0: on time again).
void WINAPI QvxEmuSetLate(UINT delay_ms);
void WINAPI QvxEmuDuplicateNextAnswer();
// Handles open on the board.
UINT WINAPI QvxEmuOpenHandleCount();
// Commands carried out with `code`, or in all when code is negative.
UINT WINAPI QvxEmuCommandCount(int code);
// The 64-byte line-state record.
void WINAPI QvxEmuGetLines(BYTE* record);
// EEPROM content; addresses wrap at 64 KiB.
void WINAPI QvxEmuReadEeprom(UINT address, BYTE* bytes, UINT count);
void WINAPI QvxEmuWriteEeprom(UINT address, const BYTE* bytes, UINT count);
// The 64-byte sensor block of the board itself (channel -1) or behind expander channel 0..255.
void WINAPI QvxEmuSetSensor(int channel, const BYTE* block);
// The selected expander channel, -1 when none.
int WINAPI QvxEmuExpanderChannel();
BYTE WINAPI QvxEmuSpeedCode();
// Allocations of the library's own code (module/emulated_alloc_hook.cpp): the `nth` operator
// new from now on fails with std::bad_alloc (0: none fails); how many there have been since the
// library was loaded; how many are still allocated.
void WINAPI QvxEmuFailAllocation(UINT nth);
UINT WINAPI QvxEmuAllocationCount();
UINT WINAPI QvxEmuLiveAllocations();
// The bytes those still allocated hold (as the C runtime's heap sizes them).
UINT WINAPI QvxEmuLiveBytes();
}
