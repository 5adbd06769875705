// IOleControl and the ambient properties of the container.
#include "ole/ole_control_site.h"

#include <olectl.h>

#include "ole/guard.h"
#include "ole/ole_object.h"

namespace ole {

bool GetAmbientProperty(IOleClientSite* site, DISPID dispid, VARIANT* value) {
  if (!site) return false;
  ComPtr<IDispatch> ambient;
  if (FAILED(ambient.QueryFrom(site, IID_IDispatch))) return false;
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  VariantClear(value);
  return SUCCEEDED(ambient->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET,
                                   &none, value, nullptr, nullptr));
}

LCID CVisualControl::AmbientLocaleId() const {
  Variant value;
  if (GetAmbientProperty(client_site_.Get(), DISPID_AMBIENT_LOCALEID, value.Get()) &&
      SUCCEEDED(VariantChangeType(value.Get(), value.Get(), 0, VT_I4))) {
    return static_cast<LCID>(V_I4(value.Get()));
  }
  return GetUserDefaultLCID();
}

STDMETHODIMP CVisualControl::GetControlInfo(CONTROLINFO* info) {
  if (!info) return E_POINTER;
  // No mnemonics: the control takes no keyboard input of its own.
  info->hAccel = nullptr;
  info->cAccel = 0;
  info->dwFlags = 0;
  return S_OK;
}

STDMETHODIMP CVisualControl::OnMnemonic(MSG*) {
  return S_OK;
}

STDMETHODIMP CVisualControl::OnAmbientPropertyChange(DISPID) {
  return ole::Guarded([&]() -> HRESULT {
    InvalidateControl();
    return S_OK;
  });
}

STDMETHODIMP CVisualControl::FreezeEvents(BOOL freeze) {
  freeze_events_ += freeze ? 1 : -1;
  return S_OK;
}

}  // namespace ole
