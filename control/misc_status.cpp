// What the control tells its container about itself before it is activated: its OLEMISC bits,
// its activation flags and its user type name.
#include "control/identity.h"
#include "control/qel_vantorix_ctrl.h"

DWORD CQelVantorixActiveXCtrl::MiscStatus() const {
  return qvx::kMiscStatus;
}

DWORD CQelVantorixActiveXCtrl::GetControlFlags() const {
  return ole::kClipPaintDC | ole::kNoFlickerActivate;
}

UINT CQelVantorixActiveXCtrl::UserTypeNameId() const {
  return IDS_QELVANTORIXACTIVEX;
}
