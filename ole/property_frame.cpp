// The control's side of property pages: ISpecifyPropertyPages and the Properties verb's frame.
#include <olectl.h>

#include <cstring>

#include "ole/dialog.h"
#include "ole/guard.h"
#include "ole/ole_object.h"

namespace ole {

STDMETHODIMP CVisualControl::GetPages(CAUUID* pages) {
  return ole::Guarded([&]() -> HRESULT {
    if (!pages) return E_POINTER;
    const std::vector<CLSID> ids = PropertyPageIds();
    pages->cElems = 0;
    pages->pElems = nullptr;
    if (ids.empty()) return S_OK;
    pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(ids.size() * sizeof(GUID)));
    if (!pages->pElems) return E_OUTOFMEMORY;
    std::memcpy(pages->pElems, ids.data(), ids.size() * sizeof(GUID));
    pages->cElems = static_cast<ULONG>(ids.size());
    return S_OK;
  });
}

BOOL CVisualControl::OnProperties(LPMSG, HWND parent, LPCRECT) {
  // A container that shows property frames itself (with its own extended properties) goes first.
  ComPtr<IOleControlSite> control_site;
  if (client_site_ && SUCCEEDED(control_site.QueryFrom(client_site_.Get(), IID_IOleControlSite)) &&
      SUCCEEDED(control_site->ShowPropertyFrame())) {
    return TRUE;
  }

  ComPtr<IUnknown> object;
  if (FAILED(object.QueryFrom(static_cast<IOleObject*>(this), IID_IDispatch))) {
    object.QueryFrom(static_cast<IOleObject*>(this), IID_IUnknown);
  }
  HWND start = parent ? parent : (hwnd_ ? hwnd_ : GetActiveWindow());
  HWND owner = start ? GetAncestor(start, GA_ROOT) : nullptr;
  RECT parent_rect = {0, 0, 0, 0};
  RECT owner_rect = {0, 0, 0, 0};
  if (parent) GetWindowRect(parent, &parent_rect);
  if (owner) GetWindowRect(owner, &owner_rect);
  if (!parent) parent_rect = owner_rect;
  const std::wstring caption = LoadModuleString(UserTypeNameId());
  std::vector<CLSID> pages = PropertyPageIds();
  IUnknown* objects[] = {object.Get()};

  // The container is modal for as long as the frame is open.
  if (frame_) {
    frame_->EnableModeless(FALSE);
  } else if (owner) {
    EnableWindow(owner, FALSE);
  }
  const HRESULT hr = OleCreatePropertyFrame(
      owner, static_cast<UINT>(parent_rect.left - owner_rect.left),
      static_cast<UINT>(parent_rect.top - owner_rect.top), caption.c_str(), 1, objects,
      static_cast<ULONG>(pages.size()), pages.data(), AmbientLocaleId(), 0, nullptr);
  if (frame_) {
    frame_->EnableModeless(TRUE);
  } else if (owner) {
    EnableWindow(owner, TRUE);
  }
  return SUCCEEDED(hr);
}

}  // namespace ole
