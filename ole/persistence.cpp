// IPersistStreamInit, IPersistPropertyBag and IPersistStorage over the one property exchange.
#include "ole/persistence.h"

#include "ole/guard.h"
#include "ole/ole_object.h"

namespace ole {

namespace {

// The persistence calls given a medium (a stream, a bag, a storage, the size's slot): E_POINTER
// without one, and no exception out of `body`.
template <class Medium, class Body>
HRESULT OnMedium(Medium* medium, Body body) {
  return Guarded([&]() -> HRESULT { return medium ? body() : E_POINTER; });
}

}  // namespace

bool ResetPropExchange::ExchangeLong(const wchar_t*, LONG* value, LONG default_value) {
  *value = default_value;
  return true;
}

bool StreamPropExchange::ExchangeLong(const wchar_t*, LONG* value, LONG default_value) {
  if (FAILED(result())) return false;
  // Little-endian on the wire whatever the machine, so saved data moves between builds.
  BYTE bytes[4];
  if (mode() == Mode::kSave) {
    const DWORD v = static_cast<DWORD>(*value);
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<BYTE>(v >> (8 * i));
    ULONG written = 0;
    const HRESULT hr = stream_->Write(bytes, sizeof bytes, &written);
    if (FAILED(hr) || written != sizeof bytes) Fail(FAILED(hr) ? hr : STG_E_WRITEFAULT);
  } else if (mode() == Mode::kLoad) {
    ULONG read = 0;
    const HRESULT hr = stream_->Read(bytes, sizeof bytes, &read);
    if (FAILED(hr) || read != sizeof bytes) {
      Fail(FAILED(hr) ? hr : STG_E_READFAULT);
      *value = default_value;
    } else {
      DWORD v = 0;
      for (int i = 0; i < 4; ++i) v |= DWORD{bytes[i]} << (8 * i);
      *value = static_cast<LONG>(v);
    }
  } else {
    *value = default_value;
  }
  return SUCCEEDED(result());
}

bool BagPropExchange::ExchangeLong(const wchar_t* name, LONG* value, LONG default_value) {
  if (FAILED(result())) return false;
  Variant v;
  if (mode() == Mode::kSave) {
    V_VT(v.Get()) = VT_I4;
    V_I4(v.Get()) = *value;
    const HRESULT hr = bag_->Write(name, v.Get());
    if (FAILED(hr)) Fail(hr);
  } else if (mode() == Mode::kLoad) {
    V_VT(v.Get()) = VT_I4;
    // A value the bag does not hold (an older writer) keeps its default.
    *value = default_value;
    if (SUCCEEDED(bag_->Read(name, v.Get(), log_)) &&
        SUCCEEDED(VariantChangeType(v.Get(), v.Get(), 0, VT_I4))) {
      *value = V_I4(v.Get());
    }
  } else {
    *value = default_value;
  }
  return SUCCEEDED(result());
}

bool SizePropExchange::ExchangeLong(const wchar_t*, LONG*, LONG) {
  bytes_ += 4;
  return true;
}

// --- the control's side ------------------------------------------------------------------

void CVisualControl::ExchangeVersion(PropExchange& px, DWORD current) {
  LONG version = static_cast<LONG>(current);
  px.ExchangeLong(L"_Version", &version, static_cast<LONG>(current));
  if (px.IsLoading()) loaded_version_ = static_cast<DWORD>(version);
}

void CVisualControl::DoPropExchange(PropExchange& px) {
  // A reset keeps the size the container gave: the extent's default is the current one.
  LONG cx = extent_.cx;
  LONG cy = extent_.cy;
  px.ExchangeLong(L"_ExtentX", &cx, extent_.cx);
  px.ExchangeLong(L"_ExtentY", &cy, extent_.cy);
  LONG stock = 0;  // no stock properties
  px.ExchangeLong(L"_StockProps", &stock, 0);
  if (px.IsLoading() && SUCCEEDED(px.result())) {
    // A size of nothing or less (damaged or hostile data) would leave the control invisible
    // and its drawing inverted: such a value loads as the default size.
    extent_.cx = cx > 0 ? cx : kDefaultExtentX;
    extent_.cy = cy > 0 ? cy : kDefaultExtentY;
  }
}

HRESULT CVisualControl::ExchangeState(PropExchange& px, bool clear_dirty) {
  DoPropExchange(px);
  if (px.IsLoading()) {
    modified_ = false;
    InvalidateControl();
  } else if (clear_dirty && SUCCEEDED(px.result())) {
    modified_ = false;
  }
  return px.result();
}

void CVisualControl::ResetState() {
  ResetPropExchange px;
  ExchangeState(px);
}

STDMETHODIMP CVisualControl::GetClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = ControlClassId();
  return S_OK;
}

STDMETHODIMP CVisualControl::IsDirty() {
  return modified_ ? S_OK : S_FALSE;
}

STDMETHODIMP CVisualControl::Load(LPSTREAM stream) {
  return OnMedium(stream, [&] {
    StreamPropExchange px(stream, PropExchange::Mode::kLoad);
    return ExchangeState(px);
  });
}

STDMETHODIMP CVisualControl::Save(LPSTREAM stream, BOOL clear_dirty) {
  return OnMedium(stream, [&] {
    StreamPropExchange px(stream, PropExchange::Mode::kSave);
    return ExchangeState(px, clear_dirty != FALSE);
  });
}

STDMETHODIMP CVisualControl::GetSizeMax(ULARGE_INTEGER* size) {
  return OnMedium(size, [&] {
    SizePropExchange px;
    DoPropExchange(px);
    size->QuadPart = px.bytes();
    return S_OK;
  });
}

STDMETHODIMP CVisualControl::InitNew() {
  return ole::Guarded([&]() -> HRESULT {
    ResetState();
    return S_OK;
  });
}

STDMETHODIMP CVisualControl::Load(IPropertyBag* bag, IErrorLog* log) {
  return OnMedium(bag, [&] {
    BagPropExchange px(bag, log, PropExchange::Mode::kLoad);
    return ExchangeState(px);
  });
}

STDMETHODIMP CVisualControl::Save(IPropertyBag* bag, BOOL clear_dirty, BOOL) {
  return OnMedium(bag, [&] {
    BagPropExchange px(bag, nullptr, PropExchange::Mode::kSave);
    return ExchangeState(px, clear_dirty != FALSE);
  });
}

STDMETHODIMP CVisualControl::InitNew(IStorage* storage) {
  return OnMedium(storage, [&] {
    ResetState();
    return S_OK;
  });
}

STDMETHODIMP CVisualControl::Load(IStorage* storage) {
  return OnMedium(storage, [&] {
    ComPtr<IStream> stream;
    const HRESULT hr = storage->OpenStream(kContentsStreamName, nullptr,
                                           STGM_READ | STGM_SHARE_EXCLUSIVE, 0, stream.Put());
    return FAILED(hr) ? hr : Load(stream.Get());
  });
}

STDMETHODIMP CVisualControl::Save(IStorage* storage, BOOL) {
  return OnMedium(storage, [&] {
    ComPtr<IStream> stream;
    const HRESULT hr = storage->CreateStream(
        kContentsStreamName, STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0, stream.Put());
    return FAILED(hr) ? hr : Save(stream.Get(), TRUE);
  });
}

STDMETHODIMP CVisualControl::SaveCompleted(IStorage*) {
  return S_OK;
}

STDMETHODIMP CVisualControl::HandsOffStorage() {
  return S_OK;
}

}  // namespace ole
