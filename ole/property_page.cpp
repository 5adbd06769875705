// The page object a property frame shows, and the exchange between its fields and the objects.
#include "ole/property_page.h"

#include <olectl.h>

#include <cstring>

#include "ole/dialog.h"
#include "ole/guard.h"
#include "ole/module.h"

namespace ole {

// --- the exchange ------------------------------------------------------------------------

void DataExchange::QueueProperty(const wchar_t* name, const VARIANT& value) {
  Pending pending;
  pending.name = name;
  pending.value.CopyFrom(&value);
  pending_.push_back(std::move(pending));
}

std::size_t DataExchange::ApplyQueued() {
  std::size_t applied = 0;
  for (Pending& pending : pending_) {
    for (const ComPtr<IUnknown>& object : objects_) {
      ComPtr<IDispatch> dispatch;
      if (FAILED(dispatch.QueryFrom(object.Get(), IID_IDispatch))) continue;
      LPOLESTR name = &pending.name[0];
      DISPID dispid = DISPID_UNKNOWN;
      if (FAILED(dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &dispid))) {
        continue;
      }
      DISPID put = DISPID_PROPERTYPUT;
      DISPPARAMS params = {pending.value.Get(), &put, 1, 1};
      if (SUCCEEDED(dispatch->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT,
                                     &params, nullptr, nullptr, nullptr))) {
        ++applied;
      }
    }
  }
  pending_.clear();
  return applied;
}

void DDP_PostProcessing(DataExchange* dx) {
  if (dx->saving()) dx->ApplyQueued();
}

// --- the page object -----------------------------------------------------------------------

InterfaceTable COlePropertyPage::Interfaces() {
  static const InterfaceEntry kTable[] = {
      OLE_INTERFACE_ENTRY(COlePropertyPage, IPropertyPage, IPropertyPage)};
  return {kTable, ARRAYSIZE(kTable)};
}

COlePropertyPage::COlePropertyPage(UINT dialog_id, UINT caption_id)
    : dialog_id_(dialog_id), caption_id_(caption_id) {}

COlePropertyPage::~COlePropertyPage() {
  if (hwnd_) DestroyWindow(hwnd_);
}

void COlePropertyPage::DoDataExchange(DataExchange* dx) {
  DDP_PostProcessing(dx);
}

HWND COlePropertyPage::CreatePageWindow(HWND parent) const {
  return CreateDialogParamW(ModuleInstance(), MAKEINTRESOURCEW(dialog_id_), parent, PageProc,
                            reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK COlePropertyPage::PageProc(HWND, UINT, WPARAM, LPARAM) {
  // The page's fields belong to the dialog manager, and the page never takes the focus itself.
  return FALSE;
}

STDMETHODIMP COlePropertyPage::SetPageSite(IPropertyPageSite* site) {
  site_ = ComPtr<IPropertyPageSite>(site);
  return S_OK;
}

STDMETHODIMP COlePropertyPage::Activate(HWND parent, LPCRECT rect, BOOL) {
  return ole::Guarded([&]() -> HRESULT {
    if (hwnd_) return E_UNEXPECTED;
    hwnd_ = CreatePageWindow(parent);
    if (!hwnd_) return E_FAIL;
    if (rect) Move(rect);
    DataExchange dx(false, objects_);
    DoDataExchange(&dx);
    return S_OK;
  });
}

STDMETHODIMP COlePropertyPage::Deactivate() {
  return ole::Guarded([&]() -> HRESULT {
    if (!hwnd_) return E_UNEXPECTED;
    DestroyWindow(hwnd_);
    hwnd_ = nullptr;
    return S_OK;
  });
}

STDMETHODIMP COlePropertyPage::GetPageInfo(PROPPAGEINFO* info) {
  return ole::Guarded([&]() -> HRESULT {
    if (!info) return E_POINTER;
    const std::wstring title = LoadModuleString(caption_id_);
    info->cb = sizeof *info;
    info->pszDocString = nullptr;
    info->pszHelpFile = nullptr;
    info->dwHelpContext = 0;
    info->size = {0, 0};
    // The size in pixels depends on the template's font: measure a hidden instance.
    HWND probe = CreatePageWindow(GetDesktopWindow());
    if (probe) {
      RECT rect;
      GetWindowRect(probe, &rect);
      info->size = {rect.right - rect.left, rect.bottom - rect.top};
      DestroyWindow(probe);
    }
    const std::size_t bytes = (title.size() + 1) * sizeof(wchar_t);
    info->pszTitle = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
    if (!info->pszTitle) return E_OUTOFMEMORY;
    std::memcpy(info->pszTitle, title.c_str(), bytes);
    return S_OK;
  });
}

STDMETHODIMP COlePropertyPage::SetObjects(ULONG count, IUnknown** objects) {
  return ole::Guarded([&]() -> HRESULT {
    if (count && !objects) return E_POINTER;
    objects_.clear();
    for (ULONG i = 0; i < count; ++i) objects_.emplace_back(objects[i]);
    return S_OK;
  });
}

STDMETHODIMP COlePropertyPage::Show(UINT cmd_show) {
  if (!hwnd_) return E_UNEXPECTED;
  ShowWindow(hwnd_, static_cast<int>(cmd_show));
  return S_OK;
}

STDMETHODIMP COlePropertyPage::Move(LPCRECT rect) {
  if (!rect) return E_POINTER;
  if (!hwnd_) return E_UNEXPECTED;
  MoveWindow(hwnd_, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top,
             TRUE);
  return S_OK;
}

// A page whose fields never change is never dirty.
STDMETHODIMP COlePropertyPage::IsPageDirty() {
  return S_FALSE;
}

STDMETHODIMP COlePropertyPage::Apply() {
  return ole::Guarded([&]() -> HRESULT {
    DataExchange dx(true, objects_);
    DoDataExchange(&dx);
    return S_OK;
  });
}

STDMETHODIMP COlePropertyPage::Help(LPCOLESTR) {
  return E_NOTIMPL;
}

STDMETHODIMP COlePropertyPage::TranslateAccelerator(MSG* msg) {
  if (!msg) return E_POINTER;
  return (hwnd_ && IsDialogMessageW(hwnd_, msg)) ? S_OK : S_FALSE;
}

}  // namespace ole
