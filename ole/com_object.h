// COM identity in one place: QueryInterface answered from a flat table of rows, and one
// reference count for heap objects.
//
//   class CThing : public ole::ComObject<CThing, IDispatch, IProvideClassInfo> {
//    public:
//     static ole::InterfaceTable Interfaces() {
//       static const ole::InterfaceEntry kTable[] = {
//           OLE_INTERFACE_ENTRY(CThing, IDispatch, IDispatch),   // first row answers IUnknown
//           OLE_INTERFACE_ENTRY(CThing, IProvideClassInfo, IProvideClassInfo)};
//       return {kTable, ARRAYSIZE(kTable)};
//     }
//   };
//
// The third macro argument names the base through which the IID is reached, so an interface
// derived from another (IProvideClassInfo2 from IProvideClassInfo) may have rows for both.
// A row may instead name a function for what a fixed offset cannot say (an IID known only at
// run time, or a second table to search); see OLE_INTERFACE_FUNC.
#pragma once

#include <unknwn.h>
#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace ole {

// A function row's work: S_OK with *ppv set and AddRef'ed, or E_NOINTERFACE to let the search
// go on to the next row.
using InterfaceFunc = HRESULT (*)(void* object, REFIID riid, void** ppv);

struct InterfaceEntry {
  const IID* iid;         // null in a function row that is asked about every IID
  std::ptrdiff_t offset;  // from the object's start to the interface's vtable pointer
  InterfaceFunc func;     // set: called instead of using the offset
};

struct InterfaceTable {
  const InterfaceEntry* rows;
  std::size_t count;
};

// The offset of base `Base` within `Derived`: where the `Base` of a `Derived` supposed to sit at
// a fixed non-null address would be, less that address. Nothing is read there; the address only
// has to be non-null (a null pointer converts to null) and aligned for any class.
template <class Derived, class Base>
std::ptrdiff_t BaseOffset() {
  constexpr std::uintptr_t kAddress = 0x10000;
  Derived* const derived = reinterpret_cast<Derived*>(kAddress);
  return static_cast<std::ptrdiff_t>(reinterpret_cast<std::uintptr_t>(static_cast<Base*>(derived)) -
                                     kAddress);
}

#define OLE_INTERFACE_ENTRY(Derived, Iid, Base)             \
  ::ole::InterfaceEntry {                                   \
    &IID_##Iid, ::ole::BaseOffset<Derived, Base>(), nullptr \
  }
// A row that calls `func` for `iid`, or for every IID when `iid` is null.
#define OLE_INTERFACE_FUNC(iid, func) \
  ::ole::InterfaceEntry {             \
    (iid), 0, (func)                  \
  }

// IUnknown answers the first row (which must be an offset row); an unknown IID gives
// E_NOINTERFACE with *ppv cleared. AddRef's the interface handed out.
HRESULT QueryInterfaceFromTable(void* object, const InterfaceTable& table, REFIID riid, void** ppv);

// The one reference count.
class RefCount {
 public:
  explicit RefCount(ULONG initial) : count_(initial) {}
  ULONG Add() { return ++count_; }
  ULONG Release() { return --count_; }
  ULONG value() const { return count_; }

 private:
  std::atomic<ULONG> count_;
};

// IUnknown for objects created with new and deleted on the last Release. The count starts at 0:
// the creator QueryInterfaces the new object (see CreateAndQuery). A class whose objects outlive
// their references (a factory the module holds) declares its own static FinalRelease.
template <class Derived, class... Bases>
class ComObject : public Bases... {
 public:
  IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    return QueryInterfaceFromTable(static_cast<Derived*>(this), Derived::Interfaces(), riid, ppv);
  }
  IFACEMETHODIMP_(ULONG) AddRef() override { return refs_.Add(); }
  IFACEMETHODIMP_(ULONG) Release() override {
    const ULONG left = refs_.Release();
    if (left == 0) Derived::FinalRelease(static_cast<Derived*>(this));
    return left;
  }

  static void FinalRelease(Derived* object) { delete object; }

 protected:
  ComObject() = default;
  ULONG ReferenceCount() const { return refs_.value(); }
  virtual ~ComObject() = default;
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

 private:
  RefCount refs_{0};
};

// Hands a freshly constructed object out through `riid`; deletes it when the query fails.
template <class T>
HRESULT CreateAndQuery(T* object, REFIID riid, void** ppv) {
  if (ppv == nullptr) {
    delete object;
    return E_POINTER;
  }
  *ppv = nullptr;
  if (object == nullptr) return E_OUTOFMEMORY;
  object->AddRef();
  const HRESULT hr = object->QueryInterface(riid, ppv);
  object->Release();
  return hr;
}

}  // namespace ole
