#include "ole/connection_point.h"

#include "ole/com_object.h"
#include "ole/guard.h"
#include "ole/snapshot_enum.h"

#include <olectl.h>

#include <new>

namespace ole {
namespace {

struct ConnectionTraits {
  using Enum = IEnumConnections;
  using Item = CONNECTDATA;
  using Stored = CONNECTDATA;
  static const IID& Iid() { return IID_IEnumConnections; }
  static void Hold(CONNECTDATA& d) { d.pUnk->AddRef(); }
  static void Drop(CONNECTDATA& d) { d.pUnk->Release(); }
  static HRESULT Copy(const CONNECTDATA& d, ULONG, CONNECTDATA& out) {
    out = d;
    out.pUnk->AddRef();
    return S_OK;
  }
};

struct ConnectionPointTraits {
  using Enum = IEnumConnectionPoints;
  using Item = IConnectionPoint*;
  using Stored = IConnectionPoint*;
  static const IID& Iid() { return IID_IEnumConnectionPoints; }
  static void Hold(IConnectionPoint*& p) { p->AddRef(); }
  static void Drop(IConnectionPoint*& p) { p->Release(); }
  static HRESULT Copy(IConnectionPoint* p, ULONG, IConnectionPoint*& out) {
    out = p;
    out->AddRef();
    return S_OK;
  }
};

}  // namespace

void ConnectionPoint::Fire(DISPID dispid, DISPPARAMS* params) {
  // A handler may disconnect itself or others: call the sinks as they stood when firing began.
  std::vector<ComPtr<IDispatch>> targets;
  targets.reserve(sinks_.size());
  for (const Sink& s : sinks_) targets.push_back(s.dispatch);
  for (const ComPtr<IDispatch>& target : targets) {
    EXCEPINFO excep{};
    UINT arg_err = 0;
    target->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, params, nullptr, &excep,
                   &arg_err);
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrHelpFile);
  }
}

STDMETHODIMP ConnectionPoint::QueryInterface(REFIID riid, void** ppv) {
  static const InterfaceEntry kTable[] = {
      OLE_INTERFACE_ENTRY(ConnectionPoint, IConnectionPoint, IConnectionPoint)};
  return QueryInterfaceFromTable(this, {kTable, ARRAYSIZE(kTable)}, riid, ppv);
}

STDMETHODIMP ConnectionPoint::GetConnectionInterface(IID* piid) {
  if (!piid) return E_POINTER;
  *piid = iid_;
  return S_OK;
}

STDMETHODIMP ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** ppcpc) {
  if (!ppcpc) return E_POINTER;
  *ppcpc = owner_;
  owner_->AddRef();
  return S_OK;
}

STDMETHODIMP ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
  if (cookie) *cookie = 0;
  if (!sink || !cookie) return E_POINTER;
  // Sinks implement the event interface as a dispinterface; a plain IDispatch will do too.
  ComPtr<IDispatch> dispatch;
  if (FAILED(dispatch.QueryFrom(sink, iid_)) && FAILED(dispatch.QueryFrom(sink, IID_IDispatch))) {
    return CONNECT_E_CANNOTCONNECT;
  }
  const HRESULT hr = Guarded([&] {
    sinks_.push_back(Sink{next_cookie_, ComPtr<IUnknown>(sink), std::move(dispatch)});
    return S_OK;
  });
  if (SUCCEEDED(hr)) *cookie = next_cookie_++;
  return hr;
}

STDMETHODIMP ConnectionPoint::Unadvise(DWORD cookie) {
  for (auto it = sinks_.begin(); it != sinks_.end(); ++it) {
    if (it->cookie == cookie) {
      // Release after erasing: the sink's destructor may call back into this point.
      Sink gone = std::move(*it);
      sinks_.erase(it);
      return S_OK;
    }
  }
  return CONNECT_E_NOCONNECTION;
}

STDMETHODIMP ConnectionPoint::EnumConnections(IEnumConnections** ppenum) {
  if (!ppenum) return E_POINTER;
  *ppenum = nullptr;
  return Guarded([&] {
    std::vector<CONNECTDATA> items;
    for (const Sink& s : sinks_) items.push_back(CONNECTDATA{s.unknown.Get(), s.cookie});
    return SnapshotEnum<ConnectionTraits>::Create(owner_, std::move(items), ppenum);
  });
}

HRESULT CreateConnectionPointEnumerator(IUnknown* owner,
                                        const std::vector<IConnectionPoint*>& points,
                                        IEnumConnectionPoints** ppenum) {
  return SnapshotEnum<ConnectionPointTraits>::Create(owner, points, ppenum);
}

}  // namespace ole
