// The control's window coming and going: UI activation opens the board (the one the kept
// selector names), and the board
// notification registration goes with the window it was made for.
#include "control/qel_vantorix_ctrl.h"

void CQelVantorixActiveXCtrl::OnShowToolBars() {
  RegisterBoardNotification();
  // The exchange lock alone, inside OpenBoard: UI activation does not take the board-state lock.
  const int failed = OpenKeptBoard();
  m_bConnected = failed ? 0 : 1;
  InvalidateControl();
  COleControl::OnShowToolBars();
}

void CQelVantorixActiveXCtrl::OnDestroyWindow() {
  // The registration is made for this window: it goes with it.
  WithdrawBoardNotification();
  COleControl::OnDestroyWindow();
}
