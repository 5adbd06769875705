#include "dispatch_script_array.h"

#include <cwchar>

namespace dispatch_test {

constexpr DISPID kLengthId = 1000000;

ScriptArray::ScriptArray(std::vector<ole::Variant>* elements, long length)
    : elements_(std::move(*elements)),
      length_(length < 0 ? static_cast<long>(elements_.size()) : length) {}

IFACEMETHODIMP ScriptArray::QueryInterface(REFIID riid, void** ppv) {
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
    *ppv = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

IFACEMETHODIMP_(ULONG) ScriptArray::Release() {
  const ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}

IFACEMETHODIMP ScriptArray::GetTypeInfoCount(UINT* count) {
  *count = 0;
  return S_OK;
}

IFACEMETHODIMP ScriptArray::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (count != 1) return DISP_E_UNKNOWNNAME;
  if (wcscmp(names[0], L"length") == 0) {
    ids[0] = kLengthId;
    return S_OK;
  }
  wchar_t* end = nullptr;
  const unsigned long index = wcstoul(names[0], &end, 10);
  if (*names[0] == L'\0' || *end != L'\0' || index >= elements_.size()) {
    ids[0] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
  }
  ids[0] = static_cast<DISPID>(index);
  return S_OK;
}

IFACEMETHODIMP ScriptArray::Invoke(DISPID dispid, REFIID, LCID, WORD flags, DISPPARAMS*,
                                   VARIANT* result, EXCEPINFO*, UINT*) {
  if (!(flags & DISPATCH_PROPERTYGET) || !result) return DISP_E_MEMBERNOTFOUND;
  VariantInit(result);
  if (dispid == kLengthId) {
    V_VT(result) = VT_I4;
    V_I4(result) = length_;
    return S_OK;
  }
  if (dispid < 0 || static_cast<std::size_t>(dispid) >= elements_.size()) {
    return DISP_E_MEMBERNOTFOUND;
  }
  return VariantCopy(result, elements_[static_cast<std::size_t>(dispid)].Get());
}

ole::Variant MakeScriptArray(std::vector<ole::Variant> elements, long length) {
  ole::Variant v;
  V_VT(v.Get()) = VT_DISPATCH;
  V_DISPATCH(v.Get()) = new ScriptArray(&elements, length);
  return v;
}

}  // namespace dispatch_test
