#include "dispatch_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "control/identity.h"
#include "test_files.h"

namespace dispatch_test {

namespace {

// A VARIANT of type `vt` whose value `set` writes.
template <class Set>
ole::Variant Typed(VARTYPE vt, Set set) {
  ole::Variant r;
  V_VT(r.Get()) = vt;
  set(r.Get());
  return r;
}

}  // namespace

ole::Variant U1(std::uint8_t v) {
  return Typed(VT_UI1, [&](VARIANT* p) { V_UI1(p) = v; });
}
ole::Variant I2(short v) {
  return Typed(VT_I2, [&](VARIANT* p) { V_I2(p) = v; });
}
ole::Variant I4(long v) {
  return Typed(VT_I4, [&](VARIANT* p) { V_I4(p) = v; });
}
ole::Variant R8(double v) {
  return Typed(VT_R8, [&](VARIANT* p) { V_R8(p) = v; });
}
ole::Variant Bool(bool v) {
  return Typed(VT_BOOL, [&](VARIANT* p) { V_BOOL(p) = v ? VARIANT_TRUE : VARIANT_FALSE; });
}
ole::Variant Str(const wchar_t* text) {
  return Typed(VT_BSTR, [&](VARIANT* p) { V_BSTR(p) = SysAllocString(text); });
}
ole::Variant ByteRef(std::uint8_t* target) {
  return Typed(VT_UI1 | VT_BYREF, [&](VARIANT* p) { V_UI1REF(p) = target; });
}
ole::Variant VariantRef(VARIANT* target) {
  return Typed(VT_VARIANT | VT_BYREF, [&](VARIANT* p) { V_VARIANTREF(p) = target; });
}
ole::Variant Error(HRESULT scode) {
  return Typed(VT_ERROR, [&](VARIANT* p) { V_ERROR(p) = scode; });
}

ole::Variant ByteArray(const std::vector<std::uint8_t>& bytes, VARTYPE element, LONG lower) {
  SAFEARRAYBOUND bound = {static_cast<ULONG>(bytes.size()), lower};
  SAFEARRAY* array = SafeArrayCreate(element, 1, &bound);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    LONG index = lower + static_cast<LONG>(i);
    if (element == VT_UI1) {
      BYTE b = bytes[i];
      SafeArrayPutElement(array, &index, &b);
    } else {
      ole::Variant v = U1(bytes[i]);
      SafeArrayPutElement(array, &index, v.Get());
    }
  }
  ole::Variant r;
  V_VT(r.Get()) = VT_ARRAY | element;
  V_ARRAY(r.Get()) = array;
  return r;
}

CallResult::~CallResult() {
  SysFreeString(excep.bstrSource);
  SysFreeString(excep.bstrDescription);
  SysFreeString(excep.bstrHelpFile);
}

CallResult Call(IDispatch* object, DISPID dispid, std::vector<ole::Variant>& args, WORD flags) {
  std::vector<VARIANT> reversed;
  for (auto it = args.rbegin(); it != args.rend(); ++it) reversed.push_back(*it->Get());
  DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), nullptr,
                       static_cast<UINT>(reversed.size()), 0};
  CallResult r;
  r.hr = object->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, r.value.Put(),
                        &r.excep, &r.arg_err);
  return r;
}

CallResult Call(IDispatch* object, DISPID dispid, WORD flags) {
  std::vector<ole::Variant> none;
  return Call(object, dispid, none, flags);
}

namespace {

// Calls `take(index, element)` for each element of a returned VT_ARRAY|VT_VARIANT, which must
// be one-dimensional and start at 0; nothing for anything else.
template <class Take>
void ForEachElement(const VARIANT* array, Take take) {
  if (V_VT(array) != (VT_ARRAY | VT_VARIANT)) return;
  SAFEARRAY* psa = V_ARRAY(array);
  LONG lower = -1, upper = -2;
  SafeArrayGetLBound(psa, 1, &lower);
  SafeArrayGetUBound(psa, 1, &upper);
  EXPECT_EQ(lower, 0);
  EXPECT_EQ(SafeArrayGetDim(psa), 1u);
  for (LONG i = lower; i <= upper; ++i) {
    ole::Variant e;
    SafeArrayGetElement(psa, &i, e.Get());
    take(i, e);
  }
}

}  // namespace

std::vector<Element> Elements(const VARIANT* array) {
  std::vector<Element> out;
  ForEachElement(array, [&](LONG, const ole::Variant& e) {
    const VARTYPE vt = e.Type();
    const unsigned value = vt == VT_UI1   ? V_UI1(e.Get())
                           : vt == VT_UI2 ? V_UI2(e.Get())
                           : vt == VT_I4  ? static_cast<unsigned>(V_I4(e.Get()))
                                          : 0xDEADu;
    out.push_back({vt, value});
  });
  return out;
}

std::vector<std::wstring> Strings(const VARIANT* array) {
  std::vector<std::wstring> out;
  ForEachElement(array, [&](LONG i, const ole::Variant& e) {
    EXPECT_EQ(e.Type(), VT_BSTR) << "element " << i;
    out.push_back(e.Type() == VT_BSTR && V_BSTR(e.Get()) ? V_BSTR(e.Get()) : L"<not a string>");
  });
  return out;
}

std::vector<std::uint8_t> Bytes(const VARIANT* array) {
  std::vector<std::uint8_t> out;
  for (const Element& e : Elements(array)) {
    EXPECT_EQ(e.vt, VT_UI1);
    out.push_back(static_cast<std::uint8_t>(e.value));
  }
  return out;
}

namespace {

template <class F>
void Resolve(HMODULE module, const char* name, F* out) {
  *out = reinterpret_cast<F>(GetProcAddress(module, name));
  if (!*out) ADD_FAILURE() << "the emulated OCX does not export " << name;
}

}  // namespace

EmulatedOcx::EmulatedOcx() {
  const test_files::Location ocx = test_files::EmulatedOcx();
  module_ = LoadLibraryW(ocx.path.c_str());
  if (!module_) {
    // Every test of the program needs it: one message, and the program fails.
    const DWORD error = GetLastError();
    const bool present = GetFileAttributesW(ocx.path.c_str()) != INVALID_FILE_ATTRIBUTES;
    std::fprintf(stderr, "the emulated OCX %s %s (error %lu)\n", ocx.Describe().c_str(),
                 present ? "cannot be loaded" : "does not exist",
                 static_cast<unsigned long>(error));
    std::fflush(stderr);
    std::exit(1);
  }
  Resolve(module_, "QvxEmuPlug", &Plug);
  Resolve(module_, "QvxEmuUnplug", &Unplug);
  Resolve(module_, "QvxEmuSetPlugged", &SetPlugged);
  Resolve(module_, "QvxEmuRefuseNotifications", &RefuseNotifications);
  Resolve(module_, "QvxEmuSetSilent", &SetSilent);
  Resolve(module_, "QvxEmuOpenHandleCount", &OpenHandleCount);
  Resolve(module_, "QvxEmuCommandCount", &CommandCount);
  Resolve(module_, "QvxEmuGetLines", &GetLines);
  Resolve(module_, "QvxEmuReadEeprom", &ReadEeprom);
  Resolve(module_, "QvxEmuWriteEeprom", &WriteEeprom);
  Resolve(module_, "QvxEmuSetSensor", &SetSensor);
  Resolve(module_, "QvxEmuExpanderChannel", &ExpanderChannel);
  Resolve(module_, "QvxEmuSpeedCode", &SpeedCode);
  Resolve(module_, "QvxEmuSetKey", &SetKey);
  Resolve(module_, "QvxEmuSetInt", &SetInt);
  Resolve(module_, "QvxEmuAddBoard", &AddBoard);
  Resolve(module_, "QvxEmuRemoveBoard", &RemoveBoard);
  Resolve(module_, "QvxEmuPlugBoard", &PlugBoard);
  Resolve(module_, "QvxEmuReadBoardEeprom", &ReadBoardEeprom);
  Resolve(module_, "QvxEmuFailAllocation", &FailAllocation);
  Resolve(module_, "QvxEmuAllocationCount", &AllocationCount);
  Resolve(module_, "QvxEmuLiveAllocations", &LiveAllocations);
  Resolve(module_, "QvxEmuLiveBytes", &LiveBytes);
}

EmulatedOcx& EmulatedOcx::Get() {
  static EmulatedOcx* ocx = [] {
    CoInitialize(nullptr);
    return new EmulatedOcx();
  }();
  return *ocx;
}

namespace {

// The coexistence run (one OCX of each bitness registered in one prefix) creates the control as
// a host does, by ProgID through the registry of this process's bitness, whose type library
// registration must name this build's OCX.
ole::ComPtr<IDispatch> CreateRegistered(HMODULE module) {
  ole::ComPtr<IDispatch> control;
  CLSID clsid{};
  EXPECT_EQ(CLSIDFromProgID(L"QELVANTORIXAC.QelVantorixAcCtrl.1", &clsid), S_OK);
  EXPECT_TRUE(IsEqualCLSID(clsid, qvx::kClsidCtrl));
  BSTR registered = nullptr;
  EXPECT_EQ(QueryPathOfRegTypeLib(qvx::kLibId, 1, 8, 0, &registered), S_OK);
  wchar_t own[MAX_PATH] = {};
  GetModuleFileNameW(module, own, MAX_PATH);
  if (registered != nullptr) {
    EXPECT_EQ(_wcsicmp(registered, own), 0) << "the registered type library is another file";
    SysFreeString(registered);
  }
  EXPECT_EQ(
      CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, control.PutVoid()),
      S_OK);
  return control;
}

}  // namespace

ole::ComPtr<IDispatch> EmulatedOcx::CreateControl() {
  if (GetEnvironmentVariableW(L"QVX_CREATE_REGISTERED", nullptr, 0) != 0) {
    return CreateRegistered(module_);
  }
  ole::ComPtr<IDispatch> control;
  using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
  GetClassObjectFn get_class_object = nullptr;
  Resolve(module_, "DllGetClassObject", &get_class_object);
  if (!get_class_object) return control;
  ole::ComPtr<IClassFactory> factory;
  HRESULT hr = get_class_object(qvx::kClsidCtrl, IID_IClassFactory, factory.PutVoid());
  EXPECT_EQ(hr, S_OK);
  if (FAILED(hr)) return control;
  hr = factory->CreateInstance(nullptr, IID_IDispatch, control.PutVoid());
  EXPECT_EQ(hr, S_OK);
  return control;
}

std::vector<std::uint8_t> EmulatedOcx::Eeprom(UINT address, UINT count) {
  std::vector<std::uint8_t> bytes(count);
  ReadEeprom(address, bytes.data(), count);
  return bytes;
}

std::vector<std::uint8_t> EmulatedOcx::BoardEeprom(int id, UINT address, UINT count) {
  if (id == 0) return Eeprom(address, count);
  std::vector<std::uint8_t> bytes(count);
  ReadBoardEeprom(id, address, bytes.data(), count);
  return bytes;
}

std::vector<std::uint8_t> EmulatedOcx::Lines() {
  std::vector<std::uint8_t> record(64);
  GetLines(record.data());
  return record;
}

}  // namespace dispatch_test
