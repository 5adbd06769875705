// IOleObject: the control's embedding in its container, its verbs and its extent.
#include "ole/ole_object.h"

#include <new>

#include <olectl.h>

#include <cstring>
#include <utility>

#include "ole/dialog.h"
#include "ole/guard.h"
#include "ole/snapshot_enum.h"

namespace ole {
namespace {

// Copies `text` into task memory, which the caller frees with CoTaskMemFree.
HRESULT TaskString(const std::wstring& text, LPOLESTR* out) {
  if (!out) return E_POINTER;
  const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  *out = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
  if (!*out) return E_OUTOFMEMORY;
  std::memcpy(*out, text.c_str(), bytes);
  return S_OK;
}

// The enumerator of a control's custom verbs hands out copies of their names.
struct VerbTraits {
  using Enum = IEnumOLEVERB;
  using Item = OLEVERB;
  using Stored = std::wstring;
  static const IID& Iid() { return IID_IEnumOLEVERB; }
  static void Hold(std::wstring&) {}
  static void Drop(std::wstring&) {}
  static HRESULT Copy(const std::wstring& name, ULONG index, OLEVERB& verb) {
    verb.lVerb = static_cast<LONG>(index);
    verb.fuFlags = 0;
    verb.grfAttribs = OLEVERBATTRIB_ONCONTAINERMENU;
    return TaskString(name, &verb.lpszVerbName);
  }
};

}  // namespace

CVisualControl::CVisualControl() = default;

CVisualControl::~CVisualControl() {
  DestroyControlWindow();
}

InterfaceTable CVisualControl::Interfaces() {
  using C = CVisualControl;
  static const InterfaceEntry kTable[] = {
      OLE_INTERFACE_ENTRY(C, IOleObject, IOleObject),
      OLE_INTERFACE_ENTRY(C, IOleWindow, IOleInPlaceObject),
      OLE_INTERFACE_ENTRY(C, IOleInPlaceObject, IOleInPlaceObject),
      OLE_INTERFACE_ENTRY(C, IOleInPlaceActiveObject, IOleInPlaceActiveObject),
      OLE_INTERFACE_ENTRY(C, IOleControl, IOleControl),
      OLE_INTERFACE_ENTRY(C, IViewObject, IViewObjectEx),
      OLE_INTERFACE_ENTRY(C, IViewObject2, IViewObjectEx),
      OLE_INTERFACE_ENTRY(C, IViewObjectEx, IViewObjectEx),
      // IPersistStream's methods are a prefix of IPersistStreamInit's.
      OLE_INTERFACE_ENTRY(C, IPersistStreamInit, IPersistStreamInit),
      OLE_INTERFACE_ENTRY(C, IPersistStream, IPersistStreamInit),
      OLE_INTERFACE_ENTRY(C, IPersist, IPersistStreamInit),
      OLE_INTERFACE_ENTRY(C, IPersistPropertyBag, IPersistPropertyBag),
      OLE_INTERFACE_ENTRY(C, IPersistStorage, IPersistStorage),
      OLE_INTERFACE_ENTRY(C, ISpecifyPropertyPages, ISpecifyPropertyPages),
  };
  return {kTable, ARRAYSIZE(kTable)};
}

void CVisualControl::OnDraw(HDC, const RECT&, const RECT&) {}

// --- IOleObject ----------------------------------------------------------------------------

STDMETHODIMP CVisualControl::SetClientSite(IOleClientSite* site) {
  client_site_ = ComPtr<IOleClientSite>(site);
  return S_OK;
}

STDMETHODIMP CVisualControl::GetClientSite(IOleClientSite** site) {
  if (!site) return E_POINTER;
  *site = client_site_.Get();
  if (*site) (*site)->AddRef();
  return S_OK;
}

STDMETHODIMP CVisualControl::SetHostNames(LPCOLESTR, LPCOLESTR) {
  return S_OK;
}

STDMETHODIMP CVisualControl::Close(DWORD save_option) {
  return ole::Guarded([&]() -> HRESULT {
    if (modified_ && client_site_ &&
        (save_option == OLECLOSE_SAVEIFDIRTY || save_option == OLECLOSE_PROMPTSAVE)) {
      client_site_->SaveObject();
    }
    InPlaceDeactivate();
    if (advise_holder_) advise_holder_->SendOnClose();
    return S_OK;
  });
}

STDMETHODIMP CVisualControl::SetMoniker(DWORD, IMoniker*) {
  return E_NOTIMPL;
}

STDMETHODIMP CVisualControl::GetMoniker(DWORD, DWORD, IMoniker** mk) {
  if (mk) *mk = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP CVisualControl::InitFromData(IDataObject*, BOOL, DWORD) {
  return E_NOTIMPL;
}

STDMETHODIMP CVisualControl::GetClipboardData(DWORD, IDataObject** data) {
  if (data) *data = nullptr;
  return E_NOTIMPL;
}

std::size_t CVisualControl::VerbCount() const {
  const MessageMap map = GetMessageMap();
  std::size_t count = 0;
  for (std::size_t i = 0; i < map.count; ++i) {
    if (map.entries[i].kind == MessageMapEntry::Kind::kVerb) ++count;
  }
  return count;
}

HRESULT CVisualControl::RunVerb(std::size_t index, LPMSG msg, HWND parent, LPCRECT pos) {
  const MessageMap map = GetMessageMap();
  std::size_t seen = 0;
  for (std::size_t i = 0; i < map.count; ++i) {
    const MessageMapEntry& entry = map.entries[i];
    if (entry.kind != MessageMapEntry::Kind::kVerb) continue;
    if (seen++ == index) return entry.verb(*this, msg, parent, pos) ? S_OK : E_FAIL;
  }
  return OLEOBJ_S_INVALIDVERB;
}

STDMETHODIMP CVisualControl::DoVerb(LONG verb, LPMSG msg, IOleClientSite*, LONG, HWND parent,
                                    LPCRECT pos) {
  return ole::Guarded([&]() -> HRESULT {
    if (verb >= 0) {
      const std::size_t count = VerbCount();
      if (static_cast<std::size_t>(verb) < count) return RunVerb(verb, msg, parent, pos);
      // An unknown custom verb runs the primary one and says so.
      if (count > 0) RunVerb(0, msg, parent, pos);
      return OLEOBJ_S_INVALIDVERB;
    }
    switch (verb) {
      case OLEIVERB_PROPERTIES:
        return OnProperties(msg, parent, pos) ? S_OK : E_FAIL;
      case OLEIVERB_SHOW:
      case OLEIVERB_UIACTIVATE:
        return InPlaceActivate(true);
      case OLEIVERB_INPLACEACTIVATE:
        return InPlaceActivate(false);
      case OLEIVERB_HIDE:
        UIDeactivate();
        if (hwnd_) ShowWindow(hwnd_, SW_HIDE);
        return S_OK;
      default:
        return E_NOTIMPL;
    }
  });
}

STDMETHODIMP CVisualControl::EnumVerbs(IEnumOLEVERB** verbs) {
  if (!verbs) return E_POINTER;
  *verbs = nullptr;
  return Guarded([&] {
    std::vector<std::wstring> names;
    const MessageMap map = GetMessageMap();
    for (std::size_t i = 0; i < map.count; ++i) {
      if (map.entries[i].kind != MessageMapEntry::Kind::kVerb) continue;
      std::wstring name = LoadModuleString(map.entries[i].id);
      names.push_back(name.empty() ? std::wstring(L"<unknown verb>") : name);
    }
    return SnapshotEnum<VerbTraits>::Create(nullptr, std::move(names), verbs);
  });
}

STDMETHODIMP CVisualControl::Update() {
  return S_OK;
}

STDMETHODIMP CVisualControl::IsUpToDate() {
  return S_OK;
}

STDMETHODIMP CVisualControl::GetUserClassID(CLSID* clsid) {
  return GetClassID(clsid);
}

STDMETHODIMP CVisualControl::GetUserType(DWORD, LPOLESTR* type) {
  return ole::Guarded(
      [&]() -> HRESULT { return TaskString(LoadModuleString(UserTypeNameId()), type); });
}

STDMETHODIMP CVisualControl::SetExtent(DWORD aspect, SIZEL* size) {
  if (!size) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (size->cx != extent_.cx || size->cy != extent_.cy) {
    extent_ = *size;
    modified_ = true;
  }
  return S_OK;
}

STDMETHODIMP CVisualControl::GetExtent(DWORD aspect, SIZEL* size) {
  if (!size) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  *size = extent_;
  return S_OK;
}

STDMETHODIMP CVisualControl::Advise(IAdviseSink* sink, DWORD* connection) {
  if (!advise_holder_) {
    const HRESULT hr = CreateOleAdviseHolder(advise_holder_.Put());
    if (FAILED(hr)) return hr;
  }
  return advise_holder_->Advise(sink, connection);
}

STDMETHODIMP CVisualControl::Unadvise(DWORD connection) {
  if (!advise_holder_) return OLE_E_NOCONNECTION;
  return advise_holder_->Unadvise(connection);
}

STDMETHODIMP CVisualControl::EnumAdvise(IEnumSTATDATA** advise) {
  if (!advise) return E_POINTER;
  *advise = nullptr;
  if (!advise_holder_) return S_OK;
  return advise_holder_->EnumAdvise(advise);
}

STDMETHODIMP CVisualControl::GetMiscStatus(DWORD, DWORD* status) {
  if (!status) return E_POINTER;
  *status = MiscStatus();
  return S_OK;
}

STDMETHODIMP CVisualControl::SetColorScheme(LOGPALETTE*) {
  return E_NOTIMPL;
}

}  // namespace ole
