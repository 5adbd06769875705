#include "module/prop_page_creator.h"

#include <new>

#include "module/prop_page.h"

HRESULT CreateQelVantorixActiveXPropPage(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  auto* page = new (std::nothrow) CQelVantorixActiveXPropPage;
  if (!page) return E_OUTOFMEMORY;
  page->AddRef();
  const HRESULT hr = page->QueryInterface(riid, ppv);
  page->Release();
  return hr;
}
