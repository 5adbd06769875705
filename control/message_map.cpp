// The control's message map: the Properties verb and WM_DEVICECHANGE, the two entries that have
// no DISPID.
#include "control/identity.h"
#include "control/qel_vantorix_ctrl.h"

namespace {

const ole::MessageMapEntry kMessageMap[] = {
    {ole::MessageMapEntry::Kind::kVerb, IDS_PROPERTIES_VERB,
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

}  // namespace

ole::MessageMap CQelVantorixActiveXCtrl::GetMessageMap() const {
  return {kMessageMap, sizeof kMessageMap / sizeof kMessageMap[0]};
}
