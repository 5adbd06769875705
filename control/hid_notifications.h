// Registrations for HID interface arrivals and removals, made through one place so that the
// process knows which of its windows hear them: the emulated module delivers its board's
// plugging and unplugging to exactly those windows, as the system does for a real board.
#pragma once

#include <windows.h>

#include <vector>

namespace control {

// GUID_DEVINTERFACE_HID: every HID interface, whichever device it belongs to.
inline constexpr GUID kHidInterfaceClass = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

// RegisterDeviceNotificationW for every HID interface, to `window`; nullptr when the system
// refuses (or a test has asked for refusals).
HDEVNOTIFY RegisterForHidInterfaces(HWND window);
void UnregisterForHidInterfaces(HDEVNOTIFY registration);

// The windows that hold a registration now, in the order they registered.
std::vector<HWND> WindowsRegisteredForHid();

// For the emulated module's tests: with true, every registration is refused as the system
// would refuse it, so that the refusal's path can be seen.
void RefuseHidRegistrations(bool refuse);

}  // namespace control
