// The control's persistent state: the version pair, then the framework's extent and stock mask.
#include "control/identity.h"
#include "control/qel_vantorix_ctrl.h"

namespace {

// The version pair of the persistent state: major in the high 16 bits.
constexpr DWORD kStateVersion = (DWORD{qvx::kVersionMajor} << 16) | qvx::kVersionMinor;

}  // namespace

void CQelVantorixActiveXCtrl::DoPropExchange(ole::PropExchange& px) {
  ExchangeVersion(px, kStateVersion);
  COleControl::DoPropExchange(px);
}
