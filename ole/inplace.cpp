// In-place and UI activation, and the control's own window that lives from the one to the end
// of the other.
#include "ole/inplace.h"

#include "ole/dialog.h"
#include "ole/guard.h"
#include "ole/module.h"
#include "ole/ole_object.h"

namespace ole {
namespace {

constexpr wchar_t kWindowClass[] = L"QvxOleControlWindow";
constexpr wchar_t kWindowProperty[] = L"QvxOleControl";

// Windows of the class that exist now: the class is unregistered with the last one, so that an
// unloaded and reloaded library never finds a class whose procedure points into freed code.
LONG g_live_windows = 0;

LRESULT CALLBACK ControlWindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    if (!SetPropW(hwnd, kWindowProperty, create->lpCreateParams)) return FALSE;
    ++g_live_windows;
  }
  auto* control = static_cast<CVisualControl*>(GetPropW(hwnd, kWindowProperty));
  if (message == WM_NCDESTROY) {
    RemovePropW(hwnd, kWindowProperty);
    --g_live_windows;
  }
  if (!control) return DefWindowProcW(hwnd, message, wparam, lparam);
  return GuardedOr<LRESULT>(0,
                            [&] { return control->WindowMessage(hwnd, message, wparam, lparam); });
}

bool RegisterControlClass() {
  WNDCLASSEXW existing = {};
  existing.cbSize = sizeof existing;
  if (GetClassInfoExW(ModuleInstance(), kWindowClass, &existing)) return true;
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.style = CS_DBLCLKS;
  wc.lpfnWndProc = ControlWindowProc;
  wc.hInstance = ModuleInstance();
  wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  // No background brush: the control paints every pixel of itself.
  wc.lpszClassName = kWindowClass;
  return RegisterClassExW(&wc) != 0;
}

}  // namespace

const wchar_t* ControlWindowClassName() {
  return kWindowClass;
}

HRESULT CVisualControl::CreateControlWindow(HWND parent, const RECT& pos) {
  if (hwnd_) return S_OK;
  if (!RegisterControlClass()) return HRESULT_FROM_WIN32(GetLastError());
  hwnd_ = CreateWindowExW(0, kWindowClass, L"", WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
                          pos.left, pos.top, pos.right - pos.left, pos.bottom - pos.top, parent,
                          nullptr, ModuleInstance(), static_cast<CVisualControl*>(this));
  if (!hwnd_) return HRESULT_FROM_WIN32(GetLastError());
  ShowWindow(hwnd_, SW_SHOWNA);
  return S_OK;
}

void CVisualControl::DestroyControlWindow() {
  if (hwnd_) DestroyWindow(hwnd_);  // WM_DESTROY reaches OnDestroyWindow, WM_NCDESTROY forgets it
  hwnd_ = nullptr;
  // Also after a window its parent destroyed: the class goes with the last window of it.
  if (g_live_windows == 0) UnregisterClassW(kWindowClass, ModuleInstance());
}

void CVisualControl::WindowGone() {
  hwnd_ = nullptr;
  // Nothing is on the screen any more: the control is no longer in place, and its site hears so
  // as it would from InPlaceDeactivate.
  InPlaceDeactivate();
}

LRESULT CVisualControl::WindowMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  const MessageMap map = GetMessageMap();
  for (std::size_t i = 0; i < map.count; ++i) {
    const MessageMapEntry& entry = map.entries[i];
    if (entry.kind == MessageMapEntry::Kind::kMessage && entry.id == message) {
      return entry.message(*this, wparam, lparam);
    }
  }
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC hdc = BeginPaint(hwnd, &ps);
      RECT client;
      GetClientRect(hwnd, &client);
      OnDraw(hdc, client, ps.rcPaint);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;  // the paint covers everything; erasing first would only flicker
    case WM_MOUSEACTIVATE:
    case WM_SETFOCUS:
      // A click or the focus landing in the in-place active control UI-activates it. The
      // container may release the control meanwhile (inside the notification failure's
      // message box, say): hold it until UIActivate has returned.
      if (inplace_active_ && !ui_active_) {
        const ComPtr<IOleObject> keep_alive(static_cast<IOleObject*>(this));
        UIActivate();
      }
      return DefWindowProcW(hwnd, message, wparam, lparam);
    case WM_DESTROY:
      OnDestroyWindow();
      break;
    case WM_NCDESTROY:
      // Destroyed by its parent, or by DestroyControlWindow: either way the handle is dead and
      // may soon name another window.
      if (hwnd == hwnd_) WindowGone();
      break;
    default:
      break;
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

// --- activation ----------------------------------------------------------------------------

HRESULT CVisualControl::InPlaceActivate(bool ui_activate) {
  if (!client_site_) return E_UNEXPECTED;
  if (!inplace_active_) {
    // With flicker-free activation asked for, a container that offers the extended site (a
    // windowless site is one too) learns that the control redraws itself.
    if (GetControlFlags() & kNoFlickerActivate) {
      inplace_site_ex_.QueryFrom(client_site_.Get(), IID_IOleInPlaceSiteEx);
    }
    if (inplace_site_ex_) {
      inplace_site_ = ComPtr<IOleInPlaceSite>(inplace_site_ex_.Get());
    } else {
      const HRESULT hr = inplace_site_.QueryFrom(client_site_.Get(), IID_IOleInPlaceSite);
      if (FAILED(hr)) return hr;
    }
    if (inplace_site_->CanInPlaceActivate() != S_OK) {
      inplace_site_.Reset();
      inplace_site_ex_.Reset();
      return E_FAIL;
    }
    BOOL no_redraw = FALSE;
    const HRESULT activated = inplace_site_ex_
                                  ? inplace_site_ex_->OnInPlaceActivateEx(&no_redraw, 0)
                                  : inplace_site_->OnInPlaceActivate();
    if (FAILED(activated)) {
      inplace_site_.Reset();
      inplace_site_ex_.Reset();
      return activated;
    }
    inplace_active_ = true;

    HWND parent = nullptr;
    inplace_site_->GetWindow(&parent);
    RECT pos = {0, 0, 0, 0};
    RECT clip = {0, 0, 0, 0};
    OLEINPLACEFRAMEINFO frame_info = {};
    frame_info.cb = sizeof frame_info;
    inplace_site_->GetWindowContext(frame_.Put(), ui_window_.Put(), &pos, &clip, &frame_info);
    pos_rect_ = pos;
    const HRESULT created = CreateControlWindow(parent, pos);
    if (FAILED(created)) {
      InPlaceDeactivate();
      return created;
    }
  }
  if (ui_activate) return UIActivate();
  return S_OK;
}

HRESULT CVisualControl::UIActivate() {
  if (!inplace_active_) return E_UNEXPECTED;
  if (ui_active_) return S_OK;
  // Allocated before any state changes: a failure here leaves the control as it was.
  const std::wstring name = LoadModuleString(UserTypeNameId());
  ui_active_ = true;  // before the focus moves: WM_SETFOCUS must not come back here
  inplace_site_->OnUIActivate();
  if (hwnd_ && GetFocus() != hwnd_) SetFocus(hwnd_);
  if (frame_) frame_->SetActiveObject(this, name.c_str());
  if (ui_window_) ui_window_->SetActiveObject(this, name.c_str());
  AddFrameLevelUI();
  return S_OK;
}

void CVisualControl::AddFrameLevelUI() {
  if (!frame_) return;
  // The control brings no menu of its own: the frame keeps its menu.
  frame_->SetMenu(nullptr, nullptr, hwnd_);
  OnShowToolBars();
}

void CVisualControl::OnShowToolBars() {
  if (frame_) frame_->SetBorderSpace(nullptr);
}

STDMETHODIMP CVisualControl::UIDeactivate() {
  return ole::Guarded([&]() -> HRESULT {
    if (!ui_active_) return S_OK;
    ui_active_ = false;
    if (ui_window_) ui_window_->SetActiveObject(nullptr, nullptr);
    if (frame_) frame_->SetActiveObject(nullptr, nullptr);
    if (inplace_site_) inplace_site_->OnUIDeactivate(FALSE);
    return S_OK;
  });
}

STDMETHODIMP CVisualControl::InPlaceDeactivate() {
  return ole::Guarded([&]() -> HRESULT {
    if (!inplace_active_) return S_OK;
    UIDeactivate();
    inplace_active_ = false;
    DestroyControlWindow();
    if (inplace_site_ex_) {
      inplace_site_ex_->OnInPlaceDeactivateEx(TRUE);
    } else if (inplace_site_) {
      inplace_site_->OnInPlaceDeactivate();
    }
    frame_.Reset();
    ui_window_.Reset();
    inplace_site_ex_.Reset();
    inplace_site_.Reset();
    return S_OK;
  });
}

// --- IOleWindow, IOleInPlaceObject, IOleInPlaceActiveObject --------------------------------

STDMETHODIMP CVisualControl::GetWindow(HWND* hwnd) {
  if (!hwnd) return E_POINTER;
  *hwnd = hwnd_;
  return hwnd_ ? S_OK : E_FAIL;
}

STDMETHODIMP CVisualControl::ContextSensitiveHelp(BOOL) {
  return E_NOTIMPL;
}

STDMETHODIMP CVisualControl::SetObjectRects(LPCRECT pos, LPCRECT) {
  if (!pos) return E_POINTER;
  pos_rect_ = *pos;
  if (hwnd_) {
    SetWindowPos(hwnd_, nullptr, pos->left, pos->top, pos->right - pos->left,
                 pos->bottom - pos->top, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  return S_OK;
}

STDMETHODIMP CVisualControl::ReactivateAndUndo() {
  return E_NOTIMPL;
}

STDMETHODIMP CVisualControl::TranslateAccelerator(LPMSG) {
  return S_FALSE;
}

STDMETHODIMP CVisualControl::OnFrameWindowActivate(BOOL) {
  return S_OK;
}

STDMETHODIMP CVisualControl::OnDocWindowActivate(BOOL activate) {
  return ole::Guarded([&]() -> HRESULT {
    // The document window coming back to the front restores the control's frame-level UI.
    if (activate && ui_active_) AddFrameLevelUI();
    return S_OK;
  });
}

STDMETHODIMP CVisualControl::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) {
  return S_OK;
}

STDMETHODIMP CVisualControl::EnableModeless(BOOL) {
  return S_OK;
}

}  // namespace ole
