#include "ole/ole_control.h"

#include <vector>

#include "ole/guard.h"
#include "ole/module_state.h"

namespace ole {

COleControl::COleControl(const ControlDescription& description)
    : description_(description),
      events_(static_cast<IConnectionPointContainer*>(this), *description.events_iid) {}

COleControl::~COleControl() = default;

InterfaceTable COleControl::Interfaces() {
  static const InterfaceEntry kTable[] = {
      OLE_INTERFACE_ENTRY(COleControl, IDispatch, IDispatch),
      OLE_INTERFACE_FUNC(nullptr, &COleControl::QueryPrimaryDispatch),
      OLE_INTERFACE_ENTRY(COleControl, IConnectionPointContainer, IConnectionPointContainer),
      OLE_INTERFACE_ENTRY(COleControl, IProvideClassInfo, IProvideClassInfo2),
      OLE_INTERFACE_ENTRY(COleControl, IProvideClassInfo2, IProvideClassInfo2),
      OLE_INTERFACE_FUNC(nullptr, &COleControl::QueryVisualSide),
  };
  return {kTable, ARRAYSIZE(kTable)};
}

HRESULT COleControl::QueryPrimaryDispatch(void* object, REFIID riid, void** ppv) {
  COleControl* self = static_cast<COleControl*>(object);
  if (!IsEqualIID(riid, *self->description_.dispatch_iid)) return E_NOINTERFACE;
  *ppv = static_cast<IDispatch*>(self);
  self->AddRef();
  return S_OK;
}

HRESULT COleControl::QueryVisualSide(void* object, REFIID riid, void** ppv) {
  CVisualControl* visual = static_cast<COleControl*>(object);
  return QueryInterfaceFromTable(visual, CVisualControl::Interfaces(), riid, ppv);
}

IFACEMETHODIMP COleControl::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 1;
  return S_OK;
}

IFACEMETHODIMP COleControl::GetTypeInfo(UINT index, LCID lcid, ITypeInfo** type_info) {
  return ole::Guarded([&]() -> HRESULT {
    if (!type_info) return E_POINTER;
    *type_info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    ModuleStateScope state;
    return LoadTypeInfoOfGuid(*description_.dispatch_iid, type_info, lcid);
  });
}

IFACEMETHODIMP COleControl::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) {
  return description_.dispatch->GetIDsOfNames(riid, names, count, ids);
}

IFACEMETHODIMP COleControl::Invoke(DISPID dispid, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* excep, UINT* arg_err) {
  ModuleStateScope state;
  // The script may drop its last reference from inside a handler (an event sink releasing
  // the control, say): keep the object alive until the call has unwound.
  const ComPtr<IDispatch> keep_alive(static_cast<IDispatch*>(this));
  return Guarded([&] {
    return description_.dispatch->Invoke(static_cast<COleControl*>(this), dispid, riid, flags,
                                         params, result, excep, arg_err);
  });
}

IFACEMETHODIMP COleControl::EnumConnectionPoints(IEnumConnectionPoints** ppenum) {
  if (ppenum) *ppenum = nullptr;
  return Guarded([&] {
    std::vector<IConnectionPoint*> points{&events_};
    return CreateConnectionPointEnumerator(static_cast<IDispatch*>(this), points, ppenum);
  });
}

IFACEMETHODIMP COleControl::FindConnectionPoint(REFIID riid, IConnectionPoint** ppcp) {
  if (!ppcp) return E_POINTER;
  *ppcp = nullptr;
  if (!IsEqualIID(riid, events_.iid())) return CONNECT_E_NOCONNECTION;
  *ppcp = &events_;
  events_.AddRef();
  return S_OK;
}

IFACEMETHODIMP COleControl::GetClassInfo(ITypeInfo** type_info) {
  return ole::Guarded([&]() -> HRESULT {
    if (!type_info) return E_POINTER;
    *type_info = nullptr;
    ModuleStateScope state;
    return LoadTypeInfoOfGuid(*description_.clsid, type_info, 0);
  });
}

IFACEMETHODIMP COleControl::GetGUID(DWORD kind, GUID* guid) {
  if (!guid) return E_POINTER;
  if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
    *guid = GUID_NULL;
    return E_INVALIDARG;
  }
  *guid = *description_.events_iid;
  return S_OK;
}

void COleControl::FireEvent(DISPID dispid, DISPPARAMS* params) {
  // A sink may drop the last reference from inside its handler. Held by an owner, not by a bare
  // AddRef/Release pair: a firing that fails (out of memory) must let go of it too.
  const ComPtr<IDispatch> keep_alive(static_cast<IDispatch*>(this));
  events_.Fire(dispid, params);
}

}  // namespace ole
