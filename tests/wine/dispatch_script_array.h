// An object shaped like a JScript array as the control sees one: IDispatch with "length" and
// members "0", "1", ... (each answering DISPATCH_PROPERTYGET).
#pragma once

#include <oaidl.h>
#include <windows.h>

#include <string>
#include <vector>

#include "ole/raii.h"

namespace dispatch_test {

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class ScriptArray : public IDispatch {
 public:
  // `elements` are copied; `length` may claim more elements than there are (a sparse array).
  explicit ScriptArray(std::vector<ole::Variant>* elements, long length = -1);
  virtual ~ScriptArray() = default;

  IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  IFACEMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  IFACEMETHODIMP_(ULONG) Release() override;
  IFACEMETHODIMP GetTypeInfoCount(UINT* count) override;
  IFACEMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  IFACEMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
  IFACEMETHODIMP Invoke(DISPID dispid, REFIID, LCID, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO*, UINT*) override;

 private:
  ULONG refs_ = 1;
  std::vector<ole::Variant> elements_;
  long length_;
};
#pragma GCC diagnostic pop

// A VT_DISPATCH VARIANT holding a new ScriptArray.
ole::Variant MakeScriptArray(std::vector<ole::Variant> elements, long length = -1);

}  // namespace dispatch_test
