// Where a HID interface is on Windows, found without opening it for reports: the serial number
// string of its device, the location path of the USB device it belongs to, and whether another
// program holds it open. The pure text helpers are separate so they can be checked alone.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

#include "platform/hid_backend.h"

namespace platform::win32 {

// The first string of a REG_MULTI_SZ / DEVPROP_TYPE_STRING_LIST value of `units` UTF-16 units
// (the buffer may lack its terminators: the string then ends at the buffer's end). Empty for an
// empty list.
std::wstring FirstOfMultiString(const wchar_t* units, std::size_t count);

// A string the system wrote into a fixed buffer of `count` units, narrowed to UTF-8: up to the
// first zero unit or the buffer's end. Empty when the text is not valid UTF-16.
std::string NarrowBufferUtf8(const wchar_t* units, std::size_t count);

// Whether a device instance ID names a USB device itself ("USB\VID_04B4&PID_E006\5&1A2B&0&2"),
// not one interface of a composite device ("USB\VID_...&MI_00\...") nor a devnode of another
// enumerator (HID, ROOT...). Case-insensitive, as the system compares IDs.
bool IsUsbDeviceInstance(const std::wstring& instance_id);

// The queries themselves. `path` is an interface's device path; each gives "" / kCannotTell
// when the system does not answer.
std::string SerialNumberOf(const std::wstring& path);
std::string UsbLocationOf(const std::wstring& path);
// A probe open with share mode 0: opened, nobody else had it; a sharing violation, another
// handle is open; any other error (access denied, a gone device) tells nothing.
InUse ProbeInUse(const std::wstring& path);

}  // namespace platform::win32
