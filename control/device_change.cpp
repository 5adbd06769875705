// WM_DEVICECHANGE: every HID interface arrival reopens the board (the one the kept selector
// names), every removal marks it disconnected; the script hears EVENT_PLUG and the lamp is
// repainted.
#include <windows.h>
// after windows.h, which it needs
#include <dbt.h>

#include <string>

#include "control/qel_vantorix_ctrl.h"
#include "ole/module.h"
#include "ole/module_path.h"
#include "ole/raii.h"

namespace {

// The caption of the control's own message boxes: the module's file name without its
// extension, as the class library names an application.
std::wstring ApplicationName() {
  wchar_t path[MAX_PATH];
  ole::ModuleFilePath(ole::ModuleInstance(), path);
  std::wstring name(path);
  const std::size_t slash = name.find_last_of(L"\\/");
  if (slash != std::wstring::npos) name.erase(0, slash + 1);
  const std::size_t dot = name.find_last_of(L'.');
  if (dot != std::wstring::npos) name.erase(dot);
  return name;
}

}  // namespace

BOOL CQelVantorixActiveXCtrl::OnDeviceChange(UINT nEventType, DWORD_PTR dwData) {
  if (nEventType != DBT_DEVICEARRIVAL && nEventType != DBT_DEVICEREMOVECOMPLETE) return FALSE;
  const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(dwData);
  if (!header) return FALSE;
  // A sink may drop the last reference to the control from inside EVENT_PLUG: keep it alive
  // until the repaint has been asked for.
  const ole::ComPtr<IDispatch> keep_alive(static_cast<IDispatch*>(this));
  switch (header->dbch_devicetype) {
    case DBT_DEVTYP_OEM:
      MessageBoxW(GetSafeHwnd(), L"DBT_DEVTYP_OEM", ApplicationName().c_str(), MB_OK);
      return FALSE;
    case DBT_DEVTYP_DEVICEINTERFACE:
      // The state first, so that a script's handler sees it; the repaint after the handlers.
      if (nEventType == DBT_DEVICEARRIVAL) {
        const int failed = OpenKeptBoard();
        m_bConnected = failed ? 0 : 1;
        FireEVENT_PLUG(m_bConnected ? TRUE : FALSE);
      } else {
        // The handle stays held: only an opening replaces it.
        m_bConnected = 0;
        FireEVENT_PLUG(FALSE);
      }
      InvalidateControl();
      return FALSE;
    default:
      return FALSE;
  }
}
