#include "ole/com_object.h"

namespace ole {

HRESULT QueryInterfaceFromTable(void* object, const InterfaceTable& table, REFIID riid,
                                void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (table.count == 0) return E_NOINTERFACE;
  const InterfaceEntry* found = nullptr;
  if (IsEqualIID(riid, IID_IUnknown)) {
    // One identity: IUnknown is always the first row's pointer.
    found = &table.rows[0];
  } else {
    for (std::size_t i = 0; i < table.count && found == nullptr; ++i) {
      const InterfaceEntry& row = table.rows[i];
      if (row.iid != nullptr && !IsEqualIID(riid, *row.iid)) continue;
      if (row.func == nullptr) {
        found = &row;
        continue;
      }
      const HRESULT hr = row.func(object, riid, ppv);
      if (hr != E_NOINTERFACE) return hr;
      *ppv = nullptr;
    }
  }
  if (found == nullptr) return E_NOINTERFACE;
  IUnknown* unknown = reinterpret_cast<IUnknown*>(static_cast<char*>(object) + found->offset);
  unknown->AddRef();
  *ppv = unknown;
  return S_OK;
}

}  // namespace ole
