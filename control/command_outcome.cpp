// What a method's board commands came to: the verdict and status the additions report, and the
// exceptions they raise on request. The verdict comes from the board link alone
// (LastCommandAnswered after each command); a method made of several commands is answered
// only when each of them was.
#include <cstdio>
#include <string>

#include "control/identity.h"
#include "control/qel_vantorix_ctrl.h"
#include "ole/dispatch_table.h"

namespace {

[[noreturn]] void Raise(const wchar_t* method, const wchar_t* what, HRESULT scode) {
  throw ole::DispatchError{std::wstring(method) + L": " + what, scode};
}

}  // namespace

void CQelVantorixActiveXCtrl::Conclude(const wchar_t* method, bool answered) {
  m_fLastAnswered = answered;
  if (!m_fRaiseErrors || answered) return;
  if (!m_UsbChannel.HasDevice()) {
    Raise(method, L"no board is open", static_cast<HRESULT>(QVX_E_NO_BOARD));
  }
  Raise(method, L"the board did not answer", static_cast<HRESULT>(QVX_E_NO_ANSWER));
}

void CQelVantorixActiveXCtrl::ConcludeTransfer(const wchar_t* method, bool answered,
                                               std::uint8_t bSlaveAddr, int status) {
  m_bLastStatus = static_cast<std::uint8_t>(status);
  Conclude(method, answered);
  if (!m_fRaiseErrors || status == 0) return;
  wchar_t what[64];
  std::swprintf(what, sizeof what / sizeof what[0], L"I2C slave 0x%02X: status 0x%02X",
                static_cast<unsigned>(bSlaveAddr), static_cast<unsigned>(status & 0xFF));
  Raise(method, what, static_cast<HRESULT>(QVX_E_I2C_STATUS));
}
