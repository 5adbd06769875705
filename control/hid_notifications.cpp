#include "control/hid_notifications.h"

#include <dbt.h>

#include <algorithm>
#include <mutex>
#include <utility>

namespace control {
namespace {

struct Registrations {
  std::mutex mutex;  // controls on several threads register and withdraw
  std::vector<std::pair<HDEVNOTIFY, HWND>> held;
  bool refuse = false;
};

// Never destroyed: a control released during shut-down may still withdraw its registration.
Registrations& All() {
  static Registrations* const all = new Registrations;
  return *all;
}

}  // namespace

HDEVNOTIFY RegisterForHidInterfaces(HWND window) {
  Registrations& all = All();
  std::lock_guard<std::mutex> lock(all.mutex);
  if (all.refuse) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // Room first, so that a registration the system made is never lost to a failed allocation.
  all.held.reserve(all.held.size() + 1);
  DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
  filter.dbcc_size = sizeof(filter);
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_reserved = 0;
  filter.dbcc_classguid = kHidInterfaceClass;
  HDEVNOTIFY registration =
      RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
  if (registration) all.held.emplace_back(registration, window);
  return registration;
}

void UnregisterForHidInterfaces(HDEVNOTIFY registration) {
  if (!registration) return;
  Registrations& all = All();
  std::lock_guard<std::mutex> lock(all.mutex);
  UnregisterDeviceNotification(registration);
  all.held.erase(std::remove_if(all.held.begin(), all.held.end(),
                                [&](const auto& held) { return held.first == registration; }),
                 all.held.end());
}

std::vector<HWND> WindowsRegisteredForHid() {
  Registrations& all = All();
  std::lock_guard<std::mutex> lock(all.mutex);
  std::vector<HWND> windows;
  windows.reserve(all.held.size());
  for (const auto& held : all.held) windows.push_back(held.second);
  return windows;
}

void RefuseHidRegistrations(bool refuse) {
  Registrations& all = All();
  std::lock_guard<std::mutex> lock(all.mutex);
  all.refuse = refuse;
}

}  // namespace control
