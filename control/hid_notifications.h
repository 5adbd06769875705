// Registrations for HID interface arrivals and removals, made through one place so that the
// process knows which of its windows hear them: the emulated module delivers its board's
// plugging and unplugging to exactly those windows, as the system does for a real board.
#pragma once

#include <windows.h>

#include <vector>

namespace control {

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
