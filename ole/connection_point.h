// The outgoing side of a control: one connection point per event interface, and the enumerators
// a container asks for. Sinks are called in the order they connected; a sink's failure is
// discarded so that one broken handler cannot keep the others from hearing an event.
#pragma once

#include <ocidl.h>
#include <windows.h>

#include <utility>
#include <vector>

#include "ole/raii.h"

namespace ole {

class ConnectionPoint : public IConnectionPoint {
 public:
  // `owner` supplies the reference count (the point lives inside it) and is the container
  // handed out by GetConnectionPointContainer.
  ConnectionPoint(IConnectionPointContainer* owner, const IID& iid) : owner_(owner), iid_(iid) {}
  ConnectionPoint(const ConnectionPoint&) = delete;
  ConnectionPoint& operator=(const ConnectionPoint&) = delete;
  virtual ~ConnectionPoint() = default;

  const IID& iid() const { return iid_; }
  std::size_t SinkCount() const { return sinks_.size(); }

  // Invokes `dispid` as a method on every sink, in connection order, and waits for each.
  void Fire(DISPID dispid, DISPPARAMS* params);
  // Drops every connection (the control is closing).
  void DisconnectAll() { sinks_.clear(); }

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override { return owner_->AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return owner_->Release(); }

  // IConnectionPoint
  STDMETHODIMP GetConnectionInterface(IID* piid) override;
  STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** ppcpc) override;
  STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
  STDMETHODIMP Unadvise(DWORD cookie) override;
  STDMETHODIMP EnumConnections(IEnumConnections** ppenum) override;

 private:
  struct Sink {
    DWORD cookie;
    ComPtr<IUnknown> unknown;  // as advised, for EnumConnections
    ComPtr<IDispatch> dispatch;
  };

  IConnectionPointContainer* owner_;
  IID iid_;
  std::vector<Sink> sinks_;
  DWORD next_cookie_ = 1;
};

// IEnumConnectionPoints over a fixed list of points of one container.
HRESULT CreateConnectionPointEnumerator(IUnknown* owner,
                                        const std::vector<IConnectionPoint*>& points,
                                        IEnumConnectionPoints** ppenum);

}  // namespace ole
