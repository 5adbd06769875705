// What the control tells the framework about its visual side: the message map, its activation
// flags and toolbar hook, its persistent state and its property page.
#include <olectl.h>

#include "control/identity.h"
#include "control/qel_vantorix_ctrl.h"

namespace {

constexpr UINT kPropertiesVerbName = 0xFE41;  // the framework's "Properties" verb name

// The control's two DISPID-less entries.
const ole::MessageMapEntry kMessageMap[] = {
    {ole::MessageMapEntry::Kind::kVerb, kPropertiesVerbName,
     [](ole::CVisualControl& control, LPMSG msg, HWND parent, LPCRECT rect) {
       return control.OnProperties(msg, parent, rect);
     },
     nullptr},
    {ole::MessageMapEntry::Kind::kMessage, WM_DEVICECHANGE, nullptr,
     [](ole::CVisualControl& control, WPARAM wparam, LPARAM lparam) -> LRESULT {
       return static_cast<CQelVantorixActiveXCtrl&>(control).OnDeviceChange(
           static_cast<UINT>(wparam), static_cast<DWORD_PTR>(lparam));
     }},
};

// Activated when visible, inside-out, and given its site before it is loaded.
constexpr DWORD kMiscStatus = OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_SETCLIENTSITEFIRST |
                              OLEMISC_INSIDEOUT | OLEMISC_CANTLINKINSIDE |
                              OLEMISC_RECOMPOSEONRESIZE;
static_assert(kMiscStatus == 0x20191, "the registry's MiscStatus");

// The version pair of the persistent state: major in the high 16 bits.
constexpr DWORD kStateVersion = (DWORD{qvx::kVersionMajor} << 16) | qvx::kVersionMinor;

}  // namespace

ole::MessageMap CQelVantorixActiveXCtrl::GetMessageMap() const {
  return {kMessageMap, sizeof kMessageMap / sizeof kMessageMap[0]};
}

DWORD CQelVantorixActiveXCtrl::GetControlFlags() const {
  return ole::kClipPaintDC | ole::kNoFlickerActivate;
}

DWORD CQelVantorixActiveXCtrl::MiscStatus() const {
  return kMiscStatus;
}

std::vector<CLSID> CQelVantorixActiveXCtrl::PropertyPageIds() const {
  return {qvx::kClsidPropPage};
}

void CQelVantorixActiveXCtrl::DoPropExchange(ole::PropExchange& px) {
  ExchangeVersion(px, kStateVersion);
  COleControl::DoPropExchange(px);
}

void CQelVantorixActiveXCtrl::OnShowToolBars() {
  RegisterBoardNotification();
  // The exchange lock alone, inside OpenBoard: UI activation does not take the board-state lock.
  const int failed = m_UsbChannel.OpenBoard();
  m_bConnected = failed ? 0 : 1;
  InvalidateControl();
  COleControl::OnShowToolBars();
}

void CQelVantorixActiveXCtrl::OnDestroyWindow() {
  // The registration is made for this window: it goes with it.
  WithdrawBoardNotification();
  COleControl::OnDestroyWindow();
}
