#include "ole/connection_point.h"

#include "ole/com_object.h"
#include "ole/guard.h"

#include <olectl.h>

#include <new>

namespace ole {
namespace {

// A snapshot enumerator: copies its items when created, so that connections made or broken
// while a container walks the list do not disturb the walk.
template <class Enum, class Item, const IID* Iid>
class SnapshotEnum : public ComObject<SnapshotEnum<Enum, Item, Iid>, Enum> {
 public:
  SnapshotEnum(IUnknown* keep_alive, std::vector<Item> items, ULONG pos = 0)
      : keep_alive_(keep_alive), items_(std::move(items)), pos_(pos) {
    for (Item& item : items_) AddRefItem(item);
  }
  ~SnapshotEnum() override {
    for (Item& item : items_) ReleaseItem(item);
  }

  static InterfaceTable Interfaces() {
    static const InterfaceEntry kTable[] = {{Iid, BaseOffset<SnapshotEnum, Enum>(), nullptr}};
    return {kTable, ARRAYSIZE(kTable)};
  }

  STDMETHODIMP Next(ULONG count, Item* out, ULONG* fetched) override {
    if (!out || (count > 1 && !fetched)) return E_POINTER;
    ULONG n = 0;
    while (n < count && pos_ < items_.size()) {
      out[n] = items_[pos_++];
      AddRefItem(out[n]);
      ++n;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    const ULONG left = static_cast<ULONG>(items_.size()) - pos_;
    pos_ += count < left ? count : left;
    return count <= left ? S_OK : S_FALSE;
  }
  STDMETHODIMP Reset() override {
    pos_ = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(Enum** ppenum) override {
    if (!ppenum) return E_POINTER;
    *ppenum = nullptr;
    // The copy of the items is made before the object exists: it can fail on its own.
    return Guarded([&] {
      return CreateAndQuery(new SnapshotEnum(keep_alive_.Get(), items_, pos_), *Iid,
                            reinterpret_cast<void**>(ppenum));
    });
  }

 private:
  static void AddRefItem(CONNECTDATA& d) { d.pUnk->AddRef(); }
  static void ReleaseItem(CONNECTDATA& d) { d.pUnk->Release(); }
  static void AddRefItem(IConnectionPoint*& p) { p->AddRef(); }
  static void ReleaseItem(IConnectionPoint*& p) { p->Release(); }

  ComPtr<IUnknown> keep_alive_;
  std::vector<Item> items_;
  ULONG pos_;
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
    using Enum = SnapshotEnum<IEnumConnections, CONNECTDATA, &IID_IEnumConnections>;
    return CreateAndQuery(new Enum(owner_, std::move(items)), IID_IEnumConnections,
                          reinterpret_cast<void**>(ppenum));
  });
}

HRESULT CreateConnectionPointEnumerator(IUnknown* owner,
                                        const std::vector<IConnectionPoint*>& points,
                                        IEnumConnectionPoints** ppenum) {
  if (!ppenum) return E_POINTER;
  *ppenum = nullptr;
  return Guarded([&] {
    using Enum = SnapshotEnum<IEnumConnectionPoints, IConnectionPoint*, &IID_IEnumConnectionPoints>;
    return CreateAndQuery(new Enum(owner, points), IID_IEnumConnectionPoints,
                          reinterpret_cast<void**>(ppenum));
  });
}

}  // namespace ole
