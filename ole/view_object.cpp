// IViewObjectEx: rendering the control for its container, in or out of activation.
#include <olectl.h>

#include "ole/guard.h"
#include "ole/ole_object.h"

namespace ole {

void CVisualControl::InvalidateControl() {
  if (hwnd_) {
    InvalidateRect(hwnd_, nullptr, TRUE);
  } else if (view_sink_) {
    view_sink_->OnViewChange(DVASPECT_CONTENT, -1);
  }
}

STDMETHODIMP CVisualControl::Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC hdc,
                                  LPCRECTL bounds, LPCRECTL, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR),
                                  ULONG_PTR) {
  return ole::Guarded([&]() -> HRESULT {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!bounds) return E_INVALIDARG;
    const RECT rect = {bounds->left, bounds->top, bounds->right, bounds->bottom};
    OnDraw(hdc, rect, rect);
    return S_OK;
  });
}

STDMETHODIMP CVisualControl::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC,
                                         LOGPALETTE** colors) {
  if (colors) *colors = nullptr;
  return S_FALSE;  // no palette of its own
}

STDMETHODIMP CVisualControl::Freeze(DWORD, LONG, void*, DWORD*) {
  return E_NOTIMPL;
}

STDMETHODIMP CVisualControl::Unfreeze(DWORD) {
  return E_NOTIMPL;
}

STDMETHODIMP CVisualControl::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) {
  return ole::Guarded([&]() -> HRESULT {
    view_sink_ = ComPtr<IAdviseSink>(sink);
    view_sink_aspects_ = aspects;
    view_sink_flags_ = flags;
    return S_OK;
  });
}

STDMETHODIMP CVisualControl::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) {
  if (aspects) *aspects = view_sink_aspects_;
  if (flags) *flags = view_sink_flags_;
  if (sink) {
    *sink = view_sink_.Get();
    if (*sink) (*sink)->AddRef();
  }
  return S_OK;
}

STDMETHODIMP CVisualControl::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) {
  return GetExtent(aspect, size);
}

STDMETHODIMP CVisualControl::GetRect(DWORD aspect, LPRECTL rect) {
  if (!rect) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  *rect = {0, 0, extent_.cx, extent_.cy};
  return S_OK;
}

STDMETHODIMP CVisualControl::GetViewStatus(DWORD* status) {
  if (!status) return E_POINTER;
  // The lamp fills its whole rectangle.
  *status = VIEWSTATUS_OPAQUE | VIEWSTATUS_SOLIDBKGND;
  return S_OK;
}

STDMETHODIMP CVisualControl::QueryHitPoint(DWORD aspect, LPCRECT bounds, POINT loc, LONG,
                                           DWORD* hit) {
  if (!bounds || !hit) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  *hit = PtInRect(bounds, loc) ? HITRESULT_HIT : HITRESULT_OUTSIDE;
  return S_OK;
}

STDMETHODIMP CVisualControl::QueryHitRect(DWORD aspect, LPCRECT bounds, LPCRECT loc, LONG,
                                          DWORD* hit) {
  if (!bounds || !loc || !hit) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  RECT overlap;
  *hit = IntersectRect(&overlap, bounds, loc) ? HITRESULT_HIT : HITRESULT_OUTSIDE;
  return S_OK;
}

STDMETHODIMP CVisualControl::GetNaturalExtent(DWORD, LONG, DVTARGETDEVICE*, HDC, DVEXTENTINFO*,
                                              LPSIZEL) {
  return E_NOTIMPL;
}

}  // namespace ole
