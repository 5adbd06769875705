// Several boards on one PC: the boards there are, the board a control keeps to, and which one it
// has open. Every opening route opens the board the kept selector names; the default selector
// (empty, "first") opens the first board exactly as a control always did.
#include <string>
#include <vector>

#include "control/qel_vantorix_ctrl.h"
#include "control/script_arrays.h"
#include "link/board_selector.h"
#include "ole/dispatch_table.h"
#include "platform/win32/wide_text.h"

namespace {

[[noreturn]] void Refuse(const wchar_t* method, const std::string& what) {
  throw ole::DispatchError{std::wstring(method) + L": " + platform::win32::WidenUtf8(what),
                           E_INVALIDARG};
}

}  // namespace

int CQelVantorixActiveXCtrl::OpenKeptBoard() {
  const int failed = m_UsbChannel.OpenBoard(m_sBoardSelector, &m_sOpenBoardPath);
  m_sSelectedBoard.clear();
  m_fSelectedBoardKnown = false;
  return failed;
}

ole::Variant CQelVantorixActiveXCtrl::ListBoards(const wchar_t* bstrField) {
  const std::wstring field = bstrField;
  std::string BoardCandidate::*member = nullptr;
  if (field == L"serial") {
    member = &BoardCandidate::serial;
  } else if (field == L"location") {
    member = &BoardCandidate::location;
  } else if (field == L"path") {
    member = &BoardCandidate::path;
  } else {
    Refuse(L"ListBoards", "unknown field '" + platform::win32::NarrowUtf8(bstrField) +
                              "': expected serial, location or path");
  }
  const std::vector<BoardCandidate> boards = ListBoardCandidates(m_BoardOpener.Backend());
  std::vector<std::wstring> texts;
  texts.reserve(boards.size());
  for (const BoardCandidate& b : boards) texts.push_back(platform::win32::WidenUtf8(b.*member));
  return control::MakeStringArray(texts);
}

VARIANT_BOOL CQelVantorixActiveXCtrl::SelectBoard(const wchar_t* bstrSelector) {
  const std::string text = platform::win32::NarrowUtf8(bstrSelector);
  BoardSelector selector;
  std::string error;
  if (*bstrSelector != 0 && text.empty()) {
    Refuse(L"SelectBoard", "the board selector is not valid UTF-16");
  }
  if (!text.empty() && !ParseBoardSelector(text, &selector, &error)) Refuse(L"SelectBoard", error);
  // What OpenUSBHidDevice does, with the board the selector names.
  RegisterBoardNotification();
  m_sBoardSelector = text == "first" ? std::string() : text;
  int failed;
  {
    platform::CsLock board_state(m_UsbChannel.m_csBoardState);
    failed = OpenKeptBoard();
  }
  m_bConnected = failed ? 0 : 1;
  InvalidateControl();
  return failed ? VARIANT_FALSE : VARIANT_TRUE;
}

std::wstring CQelVantorixActiveXCtrl::Get_SelectedBoard() {
  if (!m_UsbChannel.HasDevice()) return std::wstring();
  if (!m_fSelectedBoardKnown) {
    m_sSelectedBoard =
        platform::win32::WidenUtf8(StableBoardSelector(m_BoardOpener.Backend(), m_sOpenBoardPath));
    m_fSelectedBoardKnown = true;
  }
  return m_sSelectedBoard;
}
