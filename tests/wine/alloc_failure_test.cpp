// Allocation failures at every step: each scenario runs once to count the allocations the OCX
// makes for it, then once for every one of them with that allocation failing (the emulated
// OCX's QvxEmuFailAllocation). Every run must end in an error code or the documented result,
// never in an escaped exception, and leave nothing allocated once the control is gone.
#include <gtest/gtest.h>
#include <ocidl.h>
#include <olectl.h>
#include <windows.h>
// after windows.h, which it needs
#include <dbt.h>

#include <functional>
#include <string>
#include <vector>

#include "container_support.h"
#include "control/identity.h"
#include "dispatch_script_array.h"
#include "dispatch_support.h"
#include "ole/dispatch_table.h"

namespace container_test {
namespace {

using dispatch_test::Call;
using dispatch_test::CallResult;
using dispatch_test::EmulatedOcx;

// A result that a failed allocation may leave: success, or one of the failure codes.
bool Acceptable(HRESULT hr) {
  return hr == S_OK || hr == E_OUTOFMEMORY || hr == E_FAIL || hr == DISP_E_EXCEPTION;
}

HRESULT Create(ole::ComPtr<IDispatch>* ctl) {
  using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
  auto get = reinterpret_cast<GetClassObjectFn>(
      GetProcAddress(EmulatedOcx::Get().module(), "DllGetClassObject"));
  ole::ComPtr<IClassFactory> factory;
  HRESULT hr = get(qvx::kClsidCtrl, IID_IClassFactory, factory.PutVoid());
  if (FAILED(hr)) return hr;
  return factory->CreateInstance(nullptr, IID_IDispatch, ctl->PutVoid());
}

// Methods of every kind with arguments they accept, opening first (through the hidden window of
// a control that has none); then, with RaiseErrors on and no board, the exceptions they raise.
HRESULT InvokeEveryMethod(IDispatch* ctl) {
  std::uint8_t buffer[64] = {};
  struct Method {
    DISPID id;
    std::function<std::vector<ole::Variant>()> args;
  };
  using namespace dispatch_test;
  const Method methods[] = {
      {QVX_DISPID_OPENUSBHIDDEVICE, [] { return std::vector<ole::Variant>(); }},
      {QVX_DISPID_I2CM_FREADLONGBYTES,
       [&] { return ArgList(U1(0x50), ByteRef(buffer), I4(8), Bool(true), Bool(true)); }},
      {QVX_DISPID_EEPROM_READBYTE, [&] { return ArgList(I4(0), ByteRef(buffer), I4(8)); }},
      {QVX_DISPID_GET_I2CM_POWER, [] { return std::vector<ole::Variant>(); }},
      {QVX_DISPID_GETSENSORRAWDATAEX, [] { return ArgList(Bool(true), U1(1)); }},
      {QVX_DISPID_EEPROM_READBYTEEX, [] { return ArgList(I4(0), I4(100)); }},
      {QVX_DISPID_I2CM_FREADLONGBYTESEX, [] { return ArgList(U1(0x50), I4(70)); }},
      {QVX_DISPID_I2CM_FWRITELONGBYTESEX,
       [] {
         return ArgList(U1(0x50), ByteArray({1, 2, 3}, VT_VARIANT));
       }},
      {QVX_DISPID_EEPROM_WRITEBYTEEX,
       [] { return ArgList(I4(0), MakeScriptArray(ArgList(U1(4)))); }},
      {QVX_DISPID_I2CM_FWRITEREADEX,
       [] {
         return ArgList(U1(0x50), ByteArray({0, 1}, VT_VARIANT), I4(70));
       }},
      {QVX_DISPID_I2CM_FREADBYTESEX,
       [] { return ArgList(U1(0x50), I4(70), Bool(true), Bool(false)); }},
      {QVX_DISPID_I2CM_FWRITEBYTESEX,
       [] { return ArgList(U1(0x50), MakeScriptArray(ArgList(U1(4))), Bool(true), Bool(true)); }},
      {QVX_DISPID_GETSENSORVALUESEX, [] { return ArgList(Bool(false), U1(0)); }},
      {QVX_DISPID_GET_LASTSTATUS, [] { return std::vector<ole::Variant>(); }},
      {QVX_DISPID_GET_LASTANSWERED, [] { return std::vector<ole::Variant>(); }},
  };
  HRESULT worst = S_OK;
  for (bool raise : {false, true}) {
    for (const Method& m : methods) {
      std::vector<ole::Variant> args = m.args();
      CallResult r = Call(ctl, m.id, args);
      if (r.hr == DISP_E_EXCEPTION) {
        // With RaiseErrors on, the pulled board's own exception, when its text could be made
        // (no answer on the held handle, or no board once the opening has found none).
        const bool raised = raise && r.excep.wCode == 0 &&
                            (r.excep.scode == static_cast<HRESULT>(QVX_E_NO_ANSWER) ||
                             r.excep.scode == static_cast<HRESULT>(QVX_E_NO_BOARD));
        EXPECT_TRUE(raised || r.excep.wCode == ole::kExcepCodeOutOfMemory ||
                    r.excep.wCode == ole::kExcepCodeFailure)
            << m.id << ": wCode " << r.excep.wCode << ", scode " << r.excep.scode;
      } else {
        EXPECT_EQ(r.hr, S_OK) << m.id;
      }
      if (FAILED(r.hr)) worst = r.hr;
    }
    // The board is pulled for the second round (and back after it): every command then fails
    // and raises.
    std::vector<ole::Variant> on = dispatch_test::ArgList(dispatch_test::Bool(true));
    if (FAILED(Call(ctl, QVX_DISPID_SET_RAISEERRORS, on).hr)) return E_FAIL;
    EmulatedOcx::Get().SetPlugged(raise ? TRUE : FALSE);
  }
  return worst;
}

HRESULT SaveAndLoad(IDispatch* ctl) {
  ole::ComPtr<IPersistStreamInit> persist;
  HRESULT hr = persist.QueryFrom(ctl, IID_IPersistStreamInit);
  if (FAILED(hr)) return hr;
  ole::ComPtr<IStream> stream;
  if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, stream.Put()))) return E_FAIL;
  if (FAILED(hr = persist->InitNew()) || FAILED(hr = persist->Save(stream.Get(), TRUE))) return hr;
  LARGE_INTEGER zero = {};
  stream->Seek(zero, STREAM_SEEK_SET, nullptr);
  return persist->Load(stream.Get());
}

// Hosted and activated in place, UI-activated, each verb, opening the board, and a HID arrival
// with a sink. Should a failure leave no window, the registration-failure box is closed from
// another thread.
HRESULT Activated(IDispatch* ctl) {
  AtlHost host(ctl);
  if (!host.ok()) return E_FAIL;
  ole::ComPtr<IOleObject> object;
  HRESULT hr = object.QueryFrom(ctl, IID_IOleObject);
  if (FAILED(hr)) return hr;
  ole::ComPtr<IOleClientSite> site;
  object->GetClientSite(site.Put());
  RECT pos = {10, 10, 112, 42};
  HRESULT worst = S_OK;
  for (LONG verb : {OLEIVERB_UIACTIVATE, OLEIVERB_HIDE, OLEIVERB_SHOW, OLEIVERB_INPLACEACTIVATE}) {
    hr = object->DoVerb(verb, nullptr, site.Get(), 0, host.host(), &pos);
    EXPECT_TRUE(Acceptable(hr)) << verb << ": 0x" << std::hex << hr;
    if (FAILED(hr)) worst = hr;
    PumpMessages();
  }
  {
    ModalCloser box(L"RegisterDeviceNotification", IDOK);
    const CallResult r = Call(ctl, kOpenUSBHidDevice);
    box.Stop();
    if (r.hr == DISP_E_EXCEPTION) {
      EXPECT_TRUE(r.excep.wCode == 0xF10A || r.excep.wCode == 0xF108);
    }
    if (FAILED(r.hr)) worst = r.hr;
  }
  EventSink sink;
  const DWORD cookie = Connect(ctl, &sink);
  if (HWND window = ControlWindow(ctl)) {
    SendDeviceChange(window, DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE);
  }
  if (cookie) Disconnect(ctl, cookie);
  object->Close(OLECLOSE_NOSAVE);
  host.Destroy();
  PumpMessages();
  return worst;
}

// The property frame (the Properties verb; the custom verb 0 takes the same path), closed from
// another thread. Each frame costs Wine about a second to take down, so it walks on its own,
// without a container. The About box allocates nothing of the control's and is left out.
HRESULT PropertyFrame(IDispatch* ctl) {
  ole::ComPtr<IOleObject> object;
  HRESULT hr = object.QueryFrom(ctl, IID_IOleObject);
  if (FAILED(hr)) return hr;
  ModalCloser frame(L"QelVantorixActiveX Control", IDCANCEL);
  hr = object->DoVerb(OLEIVERB_PROPERTIES, nullptr, nullptr, 0, nullptr, nullptr);
  frame.Stop();
  return hr;
}

struct Scenario {
  const char* name;
  std::function<HRESULT(IDispatch*)> run;
};

void Walk(std::initializer_list<Scenario> scenarios) {
  EmulatedOcx& ocx = EmulatedOcx::Get();
  ASSERT_NE(ocx.FailAllocation, nullptr);
  RegisterPageClass();
  for (const Scenario& s : scenarios) {
    SCOPED_TRACE(s.name);
    auto run = [&](UINT fail_at) {
      ocx.FailAllocation(fail_at);
      ole::ComPtr<IDispatch> ctl;
      const HRESULT created = Create(&ctl);
      EXPECT_TRUE(Acceptable(created)) << std::hex << created;
      if (SUCCEEDED(created)) {
        const HRESULT hr = s.run(ctl.Get());
        EXPECT_TRUE(Acceptable(hr)) << std::hex << hr;
      }
      ocx.FailAllocation(0);
      ctl.Reset();
      PumpMessages();
    };
    run(0);  // warm: what stays for the process (the emulated board's state) is made here
    const UINT live = ocx.LiveAllocations();
    const UINT before = ocx.AllocationCount();
    run(0);
    const UINT allocations = ocx.AllocationCount() - before;
    ASSERT_GT(allocations, 0u);
    ASSERT_EQ(ocx.LiveAllocations(), live);
    for (UINT n = 1; n <= allocations; ++n) {
      run(n);
      ASSERT_EQ(ocx.LiveAllocations(), live) << "allocation " << n << " of " << allocations;
    }
    std::printf("%s: %u allocations walked\n", s.name, allocations);
  }
}

TEST(AllocationFailures, EveryFailedAllocationEndsAsAnErrorAndLeavesNothingBehind) {
  Walk({{"creation", [](IDispatch*) { return S_OK; }},
        {"every method", InvokeEveryMethod},
        {"persistence", SaveAndLoad},
        {"activation, verbs, opening and a HID arrival", Activated},
        {"property frame", PropertyFrame}});
}

// Creating, activating, opening and destroying the control again and again leaves nothing of
// the library's own behind once the first cycles have made what stays for the process.
TEST(AllocationFailures, CreateActivateDestroyCyclesKeepLiveAllocationsFlat) {
  EmulatedOcx& ocx = EmulatedOcx::Get();
  ASSERT_NE(ocx.LiveAllocations, nullptr);
  const auto cycle = [] {
    ole::ComPtr<IDispatch> ctl;
    ASSERT_EQ(Create(&ctl), S_OK);
    EXPECT_EQ(Activated(ctl.Get()), S_OK);
    EXPECT_EQ(Call(ctl.Get(), QVX_DISPID_GET_I2CM_POWER).hr, S_OK);
    ctl.Reset();
    PumpMessages();
  };
  constexpr int kWarmUp = 5;
  constexpr int kCycles = 150;
  for (int i = 0; i < kWarmUp; ++i) cycle();
  const UINT live = ocx.LiveAllocations();
  const UINT bytes = ocx.LiveBytes();
  const UINT commands = ocx.CommandCount(-1);
  for (int i = 0; i < kCycles; ++i) cycle();
  EXPECT_GT(ocx.CommandCount(-1), commands) << "the cycles reached the board";
  EXPECT_EQ(ocx.LiveAllocations(), live) << "after " << kCycles << " cycles";
  EXPECT_EQ(ocx.LiveBytes(), bytes) << "after " << kCycles << " cycles";
}

}  // namespace
}  // namespace container_test
