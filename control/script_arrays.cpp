#include "control/script_arrays.h"

#include <new>
#include <stdexcept>
#include <string>

#include "ole/dispatch_table.h"

namespace control {
namespace {

// Above this, the array service's size arithmetic (32-bit on every platform) would wrap.
constexpr std::size_t kMaxArrayBytes = 0x7FFF0000;

ole::Variant NewVariantVector(std::size_t count, SAFEARRAY** array) {
  ole::Variant result;
  *array = nullptr;
  if (count == 0) return result;  // VT_EMPTY
  if (!ArraySizeIsPossible(count)) throw std::bad_alloc();
  *array = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(count));
  if (!*array) throw std::bad_alloc();
  V_VT(result.Get()) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(result.Get()) = *array;
  return result;
}

template <class T, VARTYPE kType>
ole::Variant MakeArray(const T* values, std::size_t count) {
  SAFEARRAY* array;
  ole::Variant result = NewVariantVector(count, &array);
  if (!array) return result;
  ole::SafeArrayAccess access(array);
  if (FAILED(access.Result())) throw std::runtime_error("array data not accessible");
  VARIANT* elements = access.Data<VARIANT>();
  for (std::size_t i = 0; i < count; ++i) {
    V_VT(&elements[i]) = kType;
    if constexpr (kType == VT_UI1) {
      V_UI1(&elements[i]) = values[i];
    } else if constexpr (kType == VT_UI2) {
      V_UI2(&elements[i]) = values[i];
    } else {
      V_I4(&elements[i]) = values[i];
    }
  }
  return result;
}

}  // namespace

ole::Variant MakeStringArray(const std::vector<std::wstring>& texts) {
  SAFEARRAY* array;
  ole::Variant result = NewVariantVector(texts.size(), &array);
  if (!array) return result;
  ole::SafeArrayAccess access(array);
  if (FAILED(access.Result())) throw std::runtime_error("array data not accessible");
  VARIANT* elements = access.Data<VARIANT>();
  for (std::size_t i = 0; i < texts.size(); ++i) {
    // Each element is complete or still VT_EMPTY, so the array can be destroyed at any point.
    const BSTR text = SysAllocStringLen(texts[i].data(), static_cast<UINT>(texts[i].size()));
    if (!text) throw std::bad_alloc();
    V_VT(&elements[i]) = VT_BSTR;
    V_BSTR(&elements[i]) = text;
  }
  return result;
}

namespace {

// A VARIANT reached through any number of VT_BYREF|VT_VARIANT levels.
const VARIANT* Dereference(const VARIANT* v) {
  for (int depth = 0; v && V_VT(v) == (VT_BYREF | VT_VARIANT) && depth < 8; ++depth) {
    v = V_VARIANTREF(v);
  }
  return v;
}

bool ToByte(const VARIANT* element, std::uint8_t* out) {
  if (!element) return false;  // a by-reference VARIANT that points nowhere
  if (V_VT(element) == VT_UI1) {
    *out = V_UI1(element);
    return true;
  }
  ole::Variant converted;
  if (FAILED(VariantChangeType(converted.Put(), const_cast<VARIANT*>(element), 0, VT_UI1))) {
    return false;
  }
  *out = V_UI1(converted.Get());
  return true;
}

HRESULT GetProperty(IDispatch* object, const wchar_t* name, ole::Variant* value) {
  DISPID dispid = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &dispid);
  if (FAILED(hr)) return hr;
  DISPPARAMS none{};
  return object->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                        value->Put(), nullptr, nullptr);
}

// The member name of element `i` of a script array: its index in decimal.
void IndexName(std::size_t i, wchar_t (&name)[24]) {
  wchar_t digits[24];
  int n = 0;
  do {
    digits[n++] = static_cast<wchar_t>(L'0' + i % 10);
    i /= 10;
  } while (i != 0);
  for (int k = 0; k < n; ++k) name[k] = digits[n - 1 - k];
  name[n] = L'\0';
}

}  // namespace

void RefuseCount(const wchar_t* method, std::size_t count) {
  throw ole::DispatchError{std::wstring(method) + L": " + std::to_wstring(count) +
                           L" bytes asked for, but one call moves at most " +
                           std::to_wstring(kMaxArrayArgument) + L" bytes"};
}

bool ArraySizeIsPossible(std::size_t count) {
  return count <= kMaxArrayBytes / sizeof(VARIANT);
}

ole::Variant MakeByteArray(const std::uint8_t* bytes, std::size_t count) {
  return MakeArray<std::uint8_t, VT_UI1>(bytes, count);
}

ole::Variant MakeWordArray(const std::uint16_t* words, std::size_t count) {
  return MakeArray<std::uint16_t, VT_UI2>(words, count);
}

ole::Variant MakeLongArray(const std::int32_t* values, std::size_t count) {
  return MakeArray<std::int32_t, VT_I4>(values, count);
}

ByteArrayArgument::ByteArrayArgument(const VARIANT* arg, std::size_t param_index,
                                     const wchar_t* method)
    : param_index_(param_index) {
  const VARIANT* v = Dereference(arg);
  if (!v) Refuse();
  const VARTYPE vt = V_VT(v);
  if (vt == VT_ERROR && V_ERROR(v) == DISP_E_PARAMNOTFOUND) Refuse(DISP_E_PARAMNOTOPTIONAL);
  if (vt == VT_DISPATCH || vt == (VT_BYREF | VT_DISPATCH)) {
    script_array_ = vt == VT_DISPATCH ? V_DISPATCH(v) : *V_DISPATCHREF(v);
    if (!script_array_) Refuse();
    ole::Variant length;
    if (FAILED(GetProperty(script_array_, L"length", &length))) Refuse();
    ole::Variant n;
    if (FAILED(VariantChangeType(n.Put(), length.Get(), 0, VT_UI4))) Refuse();
    count_ = V_UI4(n.Get());
    if (count_ > kMaxArrayArgument) RefuseCount(method, count_);
    return;
  }
  const VARTYPE base = vt & ~(VT_ARRAY | VT_BYREF);
  if (!(vt & VT_ARRAY) || (base != VT_UI1 && base != VT_VARIANT)) Refuse();
  array_ = (vt & VT_BYREF) ? (V_ARRAYREF(v) ? *V_ARRAYREF(v) : nullptr) : V_ARRAY(v);
  if (!array_ || SafeArrayGetDim(array_) != 1) Refuse();
  // The array must really hold what the VARIANT says, or element reads would overrun it, and
  // a record or decimal array of the same element size would be read (and cleared) as VARIANTs.
  VARTYPE recorded = VT_EMPTY;
  if (FAILED(SafeArrayGetVartype(array_, &recorded)) || recorded != base) Refuse();
  const UINT element_size = base == VT_UI1 ? 1 : sizeof(VARIANT);
  if (SafeArrayGetElemsize(array_) != element_size) Refuse();
  LONG lower = 0;
  if (FAILED(SafeArrayGetLBound(array_, 1, &lower)) || lower != 0) Refuse();
  element_type_ = base;
  count_ = array_->rgsabound[0].cElements;
  if (count_ > kMaxArrayArgument) RefuseCount(method, count_);
}

void ByteArrayArgument::CopyTo(std::uint8_t* out) const {
  if (script_array_) return CopyFromDispatch(out);
  for (std::size_t i = 0; i < count_; ++i) {
    LONG index = static_cast<LONG>(i);
    if (element_type_ == VT_UI1) {
      if (FAILED(SafeArrayGetElement(array_, &index, &out[i]))) Refuse();
      continue;
    }
    ole::Variant element;
    if (FAILED(SafeArrayGetElement(array_, &index, element.Get()))) Refuse();
    if (!ToByte(Dereference(element.Get()), &out[i])) Refuse();
  }
}

void ByteArrayArgument::CopyFromDispatch(std::uint8_t* out) const {
  for (std::size_t i = 0; i < count_; ++i) {
    wchar_t name[24];
    IndexName(i, name);
    ole::Variant element;
    if (FAILED(GetProperty(script_array_, name, &element))) Refuse();
    if (!ToByte(Dereference(element.Get()), &out[i])) Refuse();
  }
}

void ByteArrayArgument::Refuse(HRESULT hr) const {
  throw ole::ArgumentError{param_index_, hr};
}

}  // namespace control
