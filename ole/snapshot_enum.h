// The enumerators the framework hands out (connections, connection points, verbs) walk a copy of
// their items taken when they were created, so that connections made or broken, or verbs changed,
// while a container walks the list do not disturb the walk.
//
// `Traits` says what is enumerated:
//   using Enum = IEnumX;         the interface
//   using Item = X;              what Next fills in
//   using Stored = S;            what the snapshot holds
//   static const IID& Iid();     Enum's IID
//   static void Hold(S&);        called for each stored item when the snapshot is made
//   static void Drop(S&);        and when it goes
//   static HRESULT Copy(const S&, ULONG index, X& out);  one item out; a failure ends Next there
#pragma once

#include <unknwn.h>
#include <windows.h>

#include <utility>
#include <vector>

#include "ole/com_object.h"
#include "ole/guard.h"
#include "ole/raii.h"

namespace ole {

template <class Traits>
class SnapshotEnum : public ComObject<SnapshotEnum<Traits>, typename Traits::Enum> {
  using Enum = typename Traits::Enum;
  using Item = typename Traits::Item;
  using Stored = typename Traits::Stored;

 public:
  // `keep_alive` (may be null) is held as long as the enumerator lives.
  SnapshotEnum(IUnknown* keep_alive, std::vector<Stored> items, ULONG pos = 0)
      : keep_alive_(keep_alive), items_(std::move(items)), pos_(pos) {
    for (Stored& item : items_) Traits::Hold(item);
  }
  ~SnapshotEnum() override {
    for (Stored& item : items_) Traits::Drop(item);
  }

  static InterfaceTable Interfaces() {
    static const InterfaceEntry kTable[] = {
        {&Traits::Iid(), BaseOffset<SnapshotEnum, Enum>(), nullptr}};
    return {kTable, ARRAYSIZE(kTable)};
  }

  // Creates an enumerator over `items` and queries it for Enum.
  static HRESULT Create(IUnknown* keep_alive, std::vector<Stored> items, Enum** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    return Guarded([&] {
      return CreateAndQuery(new SnapshotEnum(keep_alive, std::move(items)), Traits::Iid(),
                            reinterpret_cast<void**>(out));
    });
  }

  STDMETHODIMP Next(ULONG count, Item* out, ULONG* fetched) override {
    if (!out || (count > 1 && !fetched)) return E_POINTER;
    ULONG n = 0;
    while (n < count && pos_ < items_.size()) {
      if (FAILED(Traits::Copy(items_[pos_], pos_, out[n]))) break;
      ++pos_;
      ++n;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    const ULONG left = static_cast<ULONG>(items_.size()) - pos_;
    pos_ += count < left ? count : left;
    return count <= left ? S_OK : S_FALSE;
  }
  STDMETHODIMP Reset() override {
    pos_ = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(Enum** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    // The copy of the items is made before the object exists: it can fail on its own.
    return Guarded([&] {
      return CreateAndQuery(new SnapshotEnum(keep_alive_.Get(), items_, pos_), Traits::Iid(),
                            reinterpret_cast<void**>(out));
    });
  }

 private:
  ComPtr<IUnknown> keep_alive_;
  std::vector<Stored> items_;
  ULONG pos_;
};

}  // namespace ole
