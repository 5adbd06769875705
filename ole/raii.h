// RAII holders for the COM, OLE Automation and Win32 resources the framework and the
// control juggle: interface pointers, BSTRs, VARIANTs, SAFEARRAYs, registry keys and GDI
// objects. Every holder but ComPtr is move-only, so ownership is explicit at call sites.
#pragma once

#include <oaidl.h>
#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <utility>

namespace ole {

// Owning interface pointer. Put() hands out the slot for an out parameter
// after releasing what was held.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  explicit ComPtr(T* p, bool add_ref = true) : p_(p) {
    if (p_ && add_ref) p_->AddRef();
  }
  ComPtr(const ComPtr& other) : p_(other.p_) {
    if (p_) p_->AddRef();
  }
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~ComPtr() { Reset(); }

  void Reset() {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  // Takes over a reference the caller already owns.
  void Attach(T* p) {
    Reset();
    p_ = p;
  }
  T* Detach() { return std::exchange(p_, nullptr); }
  T** Put() {
    Reset();
    return &p_;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }
  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

  // QueryInterface from any interface into this holder.
  template <class U>
  HRESULT QueryFrom(U* from, REFIID iid) {
    Reset();
    if (!from) return E_POINTER;
    return from->QueryInterface(iid, reinterpret_cast<void**>(&p_));
  }

 private:
  T* p_ = nullptr;
};

// Owning handle of type T (a Win32 or an OLE Automation one), released with `Close` when the holder
// goes or is Reset. Put() hands out the slot for functions that return a handle through a pointer
// (RegOpenKeyExW), after releasing what was held.
template <class T, auto Close>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(T handle) : handle_(handle) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  ~UniqueHandle() { Reset(); }

  void Reset() {
    if (T handle = std::exchange(handle_, nullptr)) Close(handle);
  }
  T* Put() {
    Reset();
    return &handle_;
  }
  T Get() const { return handle_; }
  T Detach() { return std::exchange(handle_, nullptr); }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  T handle_ = nullptr;
};

// BSTR, freed with SysFreeString; made from a copy of the text it is given.
class Bstr : public UniqueHandle<BSTR, &SysFreeString> {
 public:
  Bstr() = default;
  explicit Bstr(const wchar_t* text) : UniqueHandle(text ? SysAllocString(text) : nullptr) {}
  Bstr(const wchar_t* text, UINT length) : UniqueHandle(SysAllocStringLen(text, length)) {}
  UINT Length() const { return Get() ? SysStringLen(Get()) : 0; }
};

class Variant {
 public:
  Variant() { VariantInit(&v_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  Variant(Variant&& other) noexcept : v_(other.v_) { VariantInit(&other.v_); }
  Variant& operator=(Variant&& other) noexcept {
    if (this != &other) {
      Clear();
      v_ = other.v_;
      VariantInit(&other.v_);
    }
    return *this;
  }
  ~Variant() { Clear(); }

  void Clear() { VariantClear(&v_); }
  // Cleared slot for an out parameter.
  VARIANT* Put() {
    Clear();
    return &v_;
  }
  VARIANT* Get() { return &v_; }
  const VARIANT* Get() const { return &v_; }
  VARTYPE Type() const { return V_VT(&v_); }
  // Moves the value into a caller's VARIANT, which must not hold anything.
  void Detach(VARIANT* out) {
    *out = v_;
    VariantInit(&v_);
  }
  HRESULT CopyFrom(const VARIANT* src) {
    Clear();
    return VariantCopy(&v_, const_cast<VARIANT*>(src));
  }

 private:
  VARIANT v_;
};

// SAFEARRAY, destroyed with SafeArrayDestroy.
using SafeArray = UniqueHandle<SAFEARRAY*, &SafeArrayDestroy>;

// Direct access to an array's data for the span of a scope.
class SafeArrayAccess {
 public:
  explicit SafeArrayAccess(SAFEARRAY* psa) : psa_(psa) {
    hr_ = SafeArrayAccessData(psa_, &data_);
    if (FAILED(hr_)) data_ = nullptr;
  }
  SafeArrayAccess(const SafeArrayAccess&) = delete;
  SafeArrayAccess& operator=(const SafeArrayAccess&) = delete;
  ~SafeArrayAccess() {
    if (data_) SafeArrayUnaccessData(psa_);
  }
  HRESULT Result() const { return hr_; }
  template <class T>
  T* Data() const {
    return static_cast<T*>(data_);
  }

 private:
  SAFEARRAY* psa_;
  void* data_ = nullptr;
  HRESULT hr_;
};

// Registry key, closed with RegCloseKey.
using RegKey = UniqueHandle<HKEY, &RegCloseKey>;
// GDI object (brush, font, bitmap...), deleted with DeleteObject. It must no longer be selected
// into a device context by then: see SelectedObject and MemoryDC.
template <class T>
using GdiObject = UniqueHandle<T, &DeleteObject>;
// Memory device context, deleted with DeleteDC. A DC lets go of the objects selected into it as
// it goes, so a holder declared after those objects' holders releases them safely.
using MemoryDC = UniqueHandle<HDC, &DeleteDC>;

// An object selected into a device context for the span of a scope; the previous selection
// comes back when the scope ends.
class SelectedObject {
 public:
  SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
  SelectedObject(const SelectedObject&) = delete;
  SelectedObject& operator=(const SelectedObject&) = delete;
  ~SelectedObject() { SelectObject(dc_, previous_); }

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

}  // namespace ole
