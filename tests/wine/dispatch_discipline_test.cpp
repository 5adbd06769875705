// The calling discipline of the control's IDispatch on the emulated OCX: argument order and
// coercion, every error with its argument position, the array shapes accepted and refused, and
// the control's type and connection information.
#include <gtest/gtest.h>
#include <olectl.h>

#include <cwchar>
#include <functional>
#include <thread>

#include "board/protocol.h"
#include "control/identity.h"
#include "dispatch_script_array.h"
#include "dispatch_support.h"

namespace dispatch_test {
namespace {

// Short names for the DISPIDs the tests below call.
constexpr DISPID kOpen = QVX_DISPID_OPENUSBHIDDEVICE, kSpeed = QVX_DISPID_I2CM_SPEED,
                 kRead = QVX_DISPID_I2CM_FREADLONGBYTES, kSetPower = QVX_DISPID_SET_I2CM_POWER,
                 kGetPower = QVX_DISPID_GET_I2CM_POWER,
                 kEepromReadEx = QVX_DISPID_EEPROM_READBYTEEX,
                 kReadEx = QVX_DISPID_I2CM_FREADLONGBYTESEX,
                 kWriteEx = QVX_DISPID_I2CM_FWRITELONGBYTESEX,
                 kEepromWriteEx = QVX_DISPID_EEPROM_WRITEBYTEEX;

class DisciplineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ctl_ = ocx_.CreateControl();
    ASSERT_TRUE(ctl_);
    ASSERT_EQ(Call(ctl_.Get(), kOpen).hr, S_OK);
  }
  CallResult Do(DISPID dispid, std::vector<ole::Variant> args,
                WORD flags = DISPATCH_METHOD | DISPATCH_PROPERTYGET) {
    return Call(ctl_.Get(), dispid, args, flags);
  }
  UINT Sent() { return ocx_.CommandCount(-1); }

  EmulatedOcx& ocx_ = EmulatedOcx::Get();
  ole::ComPtr<IDispatch> ctl_;
};

std::vector<ole::Variant> Args(std::initializer_list<std::function<ole::Variant()>> makers) {
  std::vector<ole::Variant> v;
  for (auto& m : makers) v.push_back(m());
  return v;
}

TEST_F(DisciplineTest, ArgumentErrorsReportTheirPositionCountedFromTheRight) {
  std::uint8_t buffer[8] = {};
  ole::Variant by_value_byte = U1(7);
  ole::Variant target = U1(7);
  struct Case {
    const char* what;
    std::size_t bad;  // the parameter given a bad value, left to right
    std::function<ole::Variant()> value;
    HRESULT hr;
  };
  const Case cases[] = {
      {"slave from text", 0, [] { return Str(L"abc"); }, DISP_E_TYPEMISMATCH},
      {"slave overflow", 0, [] { return I4(256); }, DISP_E_OVERFLOW},
      {"byte reference by value", 1, [] { return U1(7); }, DISP_E_TYPEMISMATCH},
      {"variant reference", 1, [&] { return VariantRef(target.Get()); }, DISP_E_TYPEMISMATCH},
      {"null byte reference", 1, [] { return ByteRef(nullptr); }, DISP_E_TYPEMISMATCH},
      {"count negative", 2, [] { return I4(-1); }, DISP_E_OVERFLOW},
      {"start from text", 3, [] { return Str(L"maybe"); }, DISP_E_TYPEMISMATCH},
      {"stop from text", 4, [] { return Str(L"never"); }, DISP_E_TYPEMISMATCH},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::function<ole::Variant()>> good = {
        [] { return U1(0x50); }, [&] { return ByteRef(buffer); }, [] { return I4(1); },
        [] { return Bool(true); }, [] { return Bool(true); }};
    good[c.bad] = c.value;
    std::vector<ole::Variant> args;
    for (auto& m : good) args.push_back(m());
    const UINT sent = Sent();
    CallResult r = Do(kRead, std::move(args));
    EXPECT_EQ(r.hr, c.hr);
    EXPECT_EQ(r.arg_err, 4 - c.bad);
    EXPECT_EQ(Sent(), sent) << "nothing reaches the board";
  }
}

// A reference that ends in a null pointer is never read: whatever the parameter's type, the
// call is a type mismatch at that argument (a conversion would read through it, and Wine's
// dies there).
TEST_F(DisciplineTest, ANullReferenceIsRefusedWithItsPositionWhateverTheParameterType) {
  ole::Variant nowhere;  // a byte reference to nothing
  V_VT(nowhere.Get()) = VT_UI1 | VT_BYREF;
  V_UI1REF(nowhere.Get()) = nullptr;
  const auto null_ref = [] { return ByteRef(nullptr); };
  const auto ref_to_null = [&] { return VariantRef(nowhere.Get()); };
  const auto null_long = [] {  // a long reference to nothing
    ole::Variant v;
    V_VT(v.Get()) = VT_I4 | VT_BYREF;
    V_I4REF(v.Get()) = nullptr;
    return v;
  };
  struct Case {
    const char* what;
    DISPID dispid;
    std::vector<std::function<ole::Variant()>> args;
    UINT arg_err;  // counted from the right
  };
  const std::function<ole::Variant()> addr = [] { return U1(0x50); };
  const Case cases[] = {
      {"a string (trace name)", QVX_DISPID_TRACESTART, {null_ref}, 0},
      {"a string, through a VARIANT reference", QVX_DISPID_TRACESTART, {ref_to_null}, 0},
      {"an unsigned short (speed)", QVX_DISPID_I2CM_SPEED, {null_long}, 0},
      {"a byte (slave address)", kReadEx, {ref_to_null, [] { return I4(1); }}, 1},
      {"an unsigned long (count)", kReadEx, {addr, null_long}, 0},
      {"a boolean (line)", kSetPower, {null_ref}, 0},
      {"a boolean (START flag)",
       QVX_DISPID_I2CM_FREADBYTESEX,
       {addr, [] { return I4(1); }, ref_to_null, [] { return Bool(true); }},
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<ole::Variant> args;
    for (const auto& make : c.args) args.push_back(make());
    const UINT sent = Sent();
    CallResult r = Do(c.dispid, std::move(args));
    EXPECT_EQ(r.hr, DISP_E_TYPEMISMATCH);
    EXPECT_EQ(r.arg_err, c.arg_err);
    EXPECT_EQ(Sent(), sent) << "nothing reaches the board";
  }
  CallResult named = Do(QVX_DISPID_TRACESTART, Args({[] { return I4(12); }}));
  EXPECT_EQ(named.hr, S_OK) << "a number converts to a name, which is refused";
  EXPECT_EQ(V_BOOL(named.value.Get()), VARIANT_FALSE);
}

TEST_F(DisciplineTest, CallErrorsOfTheDispatchLayer) {
  EXPECT_EQ(Do(27, {}).hr, DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Do(0, {}).hr, DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Do(kSetPower, Args({[] { return Bool(true); }}), DISPATCH_PROPERTYPUT).hr,
            DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Do(kSetPower, Args({[] { return Bool(true); }}), DISPATCH_PROPERTYPUTREF).hr,
            DISP_E_MEMBERNOTFOUND);
  // Too many arguments name the first one past the last parameter, too few the first parameter
  // missing, both counted from the right (of the whole parameter list when some are missing).
  const auto number = [] { return I4(1); };
  const auto slave = [] { return U1(0x50); };
  struct CountCase {
    const char* what;
    DISPID dispid;
    std::vector<std::function<ole::Variant()>> args;
    HRESULT hr;
    UINT arg_err;
  };
  const CountCase count_cases[] = {
      {"one too many", kSpeed, {number, number}, DISP_E_BADPARAMCOUNT, 0},
      {"two too many", kSpeed, {number, number, number}, DISP_E_BADPARAMCOUNT, 1},
      {"one to a method of none", kGetPower, {number}, DISP_E_BADPARAMCOUNT, 0},
      {"three to a method of none", kGetPower, {number, number, number}, DISP_E_BADPARAMCOUNT, 2},
      {"none of one", kSpeed, {}, DISP_E_PARAMNOTOPTIONAL, 0},
      {"one of two", kReadEx, {slave}, DISP_E_PARAMNOTOPTIONAL, 0},
      {"none of five", kRead, {}, DISP_E_PARAMNOTOPTIONAL, 4},
      {"three of five", kRead, {slave, number, number}, DISP_E_PARAMNOTOPTIONAL, 1},
  };
  for (const CountCase& c : count_cases) {
    SCOPED_TRACE(c.what);
    std::vector<ole::Variant> args;
    for (auto& m : c.args) args.push_back(m());
    const UINT sent = Sent();
    CallResult r = Do(c.dispid, std::move(args));
    EXPECT_EQ(r.hr, c.hr);
    EXPECT_EQ(r.arg_err, c.arg_err);
    EXPECT_EQ(Sent(), sent) << "nothing reaches the board";
  }

  ole::Variant arg = I4(400);
  DISPID named = 0;
  DISPPARAMS params = {arg.Get(), &named, 1, 1};
  ole::Variant result;
  EXPECT_EQ(
      ctl_->Invoke(kSpeed, IID_NULL, 0, DISPATCH_METHOD, &params, result.Put(), nullptr, nullptr),
      DISP_E_NONAMEDARGS);
}

TEST_F(DisciplineTest, MethodsAnswerMethodAndPropertyGetCalls) {
  for (WORD flags : {WORD(DISPATCH_METHOD), WORD(DISPATCH_PROPERTYGET),
                     WORD(DISPATCH_METHOD | DISPATCH_PROPERTYGET)}) {
    ASSERT_EQ(Do(kSetPower, Args({[] { return Bool(true); }}), flags).hr, S_OK) << flags;
    CallResult r = Do(kGetPower, {}, flags);
    ASSERT_EQ(r.hr, S_OK) << flags;
    EXPECT_EQ(V_BOOL(r.value.Get()), VARIANT_TRUE);
  }
}

TEST_F(DisciplineTest, AMissingArrayIsNotOptionalAndSendsNothing) {
  const UINT sent = Sent();
  EXPECT_EQ(Do(kWriteEx, Args({[] { return U1(0x50); }})).hr, DISP_E_PARAMNOTOPTIONAL);
  EXPECT_EQ(Do(kEepromWriteEx, Args({[] { return I4(0); }})).hr, DISP_E_PARAMNOTOPTIONAL);
  // Written out as a skipped argument, the same.
  EXPECT_EQ(
      Do(kWriteEx, Args({[] { return U1(0x50); }, [] { return Error(DISP_E_PARAMNOTFOUND); }})).hr,
      DISP_E_PARAMNOTOPTIONAL);
  EXPECT_EQ(Sent(), sent);
}

ole::Variant TwoDimensional() {
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
  ole::Variant v;
  V_VT(v.Get()) = VT_ARRAY | VT_UI1;
  V_ARRAY(v.Get()) = SafeArrayCreate(VT_UI1, 2, bounds);
  return v;
}

ole::Variant VariantArray(std::vector<std::function<ole::Variant()>> makers) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(makers.size()));
  for (LONG i = 0; i < static_cast<LONG>(makers.size()); ++i) {
    ole::Variant e = makers[static_cast<std::size_t>(i)]();
    SafeArrayPutElement(array, &i, e.Get());
  }
  ole::Variant v;
  V_VT(v.Get()) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(v.Get()) = array;
  return v;
}

// An array recorded as `recorded` (decimals, here) whose elements are the size of a VARIANT and
// read, taken as VARIANTs, as valid bytes: only its VARTYPE tells it apart.
ole::Variant DisguisedAsVariants(VARTYPE recorded) {
  SAFEARRAY* array = nullptr;
  SafeArrayAllocDescriptorEx(recorded, 1, &array);
  array->cbElements = sizeof(VARIANT);
  array->rgsabound[0] = {2, 0};
  SafeArrayAllocData(array);
  auto* elements = static_cast<VARIANT*>(array->pvData);
  for (int i = 0; i < 2; ++i) {
    V_VT(&elements[i]) = VT_UI1;
    V_UI1(&elements[i]) = 5;
  }
  ole::Variant v;
  V_VT(v.Get()) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(v.Get()) = array;
  return v;
}

ole::Variant ArrayOfLongs() {
  ole::Variant v;
  V_VT(v.Get()) = VT_ARRAY | VT_I4;
  V_ARRAY(v.Get()) = SafeArrayCreateVector(VT_I4, 0, 3);
  return v;
}

TEST_F(DisciplineTest, RefusedArrayShapesFailWithTheirPositionBeforeAnythingIsSent) {
  ole::Variant held_by_ref = ByteArray({1, 2, 3});
  struct Case {
    const char* what;
    std::function<ole::Variant()> make;
  };
  const Case cases[] = {
      {"a number", [] { return I4(5); }},
      {"a string", [] { return Str(L"\x01\x02"); }},
      {"null",
       [] {
         ole::Variant v;
         V_VT(v.Get()) = VT_NULL;
         return v;
       }},
      {"two dimensions", TwoDimensional},
      {"lower bound 1",
       [] {
         return ByteArray({1, 2, 3}, VT_UI1, 1);
       }},
      {"lower bound 1, variants",
       [] {
         return ByteArray({1, 2, 3}, VT_VARIANT, 1);
       }},
      {"array of longs", ArrayOfLongs},
      {"element 256",
       [] {
         return VariantArray({[] { return U1(1); }, [] { return I4(256); }});
       }},
      {"element -1", [] { return VariantArray({[] { return I4(-1); }}); }},
      {"element text", [] { return VariantArray({[] { return Str(L"zz"); }}); }},
      {"element null",
       [] {
         return VariantArray({[] {
           ole::Variant v;
           V_VT(v.Get()) = VT_NULL;
           return v;
         }});
       }},
      {"script array with a hole",
       [] {
         std::vector<ole::Variant> e;
         e.push_back(U1(1));
         return MakeScriptArray(std::move(e), 3);
       }},
      {"script array element 300",
       [] {
         std::vector<ole::Variant> e;
         e.push_back(I4(300));
         return MakeScriptArray(std::move(e));
       }},
      {"decimals the size of variants", [] { return DisguisedAsVariants(VT_DECIMAL); }},
      {"element a null variant reference",
       [] {
         return VariantArray({[] { return U1(1); }, [] { return VariantRef(nullptr); }});
       }},
      {"script array element a null variant reference",
       [] {
         std::vector<ole::Variant> e;
         e.push_back(VariantRef(nullptr));
         return MakeScriptArray(std::move(e));
       }},
      {"null array by reference",
       [] {
         ole::Variant v;
         V_VT(v.Get()) = VT_ARRAY | VT_UI1 | VT_BYREF;
         V_ARRAYREF(v.Get()) = nullptr;
         return v;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const UINT i2c = ocx_.CommandCount(board::CMD_I2C_WRITE),
               eeprom = ocx_.CommandCount(board::CMD_EEPROM_WRITE);
    CallResult w = Do(kWriteEx, Args({[] { return U1(0x50); }, c.make}));
    EXPECT_EQ(w.hr, DISP_E_TYPEMISMATCH);
    EXPECT_EQ(w.arg_err, 0u);
    CallResult e = Do(kEepromWriteEx, Args({[] { return I4(0); }, c.make}));
    EXPECT_EQ(e.hr, DISP_E_TYPEMISMATCH);
    EXPECT_EQ(e.arg_err, 0u);
    EXPECT_EQ(ocx_.CommandCount(board::CMD_I2C_WRITE), i2c);
    EXPECT_EQ(ocx_.CommandCount(board::CMD_EEPROM_WRITE), eeprom);
  }
}

TEST_F(DisciplineTest, AcceptedArrayShapesAllWriteTheSameBytes) {
  const std::vector<std::uint8_t> bytes = {0x10, 0x20, 0xFF, 0x00, 0x7F};
  ole::Variant ui1 = ByteArray(bytes), variants = ByteArray(bytes, VT_VARIANT);
  SAFEARRAY* ui1_array = V_ARRAY(ui1.Get());
  SAFEARRAY* variant_array = V_ARRAY(variants.Get());
  ole::Variant mixed_target =
      VariantArray({[] { return Str(L"16"); }, [] { return R8(32.0); }, [] { return I4(255); },
                    [] { return Bool(false); }, [] { return I2(127); }});
  struct Case {
    const char* what;
    std::function<ole::Variant()> make;
  };
  const Case cases[] = {
      {"bytes", [&] { return ByteArray(bytes); }},
      {"variants", [&] { return ByteArray(bytes, VT_VARIANT); }},
      {"bytes by reference",
       [&] {
         ole::Variant v;
         V_VT(v.Get()) = VT_ARRAY | VT_UI1 | VT_BYREF;
         V_ARRAYREF(v.Get()) = &ui1_array;
         return v;
       }},
      {"variants by reference",
       [&] {
         ole::Variant v;
         V_VT(v.Get()) = VT_ARRAY | VT_VARIANT | VT_BYREF;
         V_ARRAYREF(v.Get()) = &variant_array;
         return v;
       }},
      {"VBScript variable", [&] { return VariantRef(variants.Get()); }},
      {"converting elements", [&] { return VariantRef(mixed_target.Get()); }},
      {"script array",
       [&] {
         std::vector<ole::Variant> e;
         e.push_back(I4(0x10));
         e.push_back(R8(32.0));
         e.push_back(I4(255));
         e.push_back(Str(L"0"));
         e.push_back(I4(127));
         return MakeScriptArray(std::move(e));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<std::uint8_t> zeros(8, 0);
    ocx_.WriteEeprom(0x0600, zeros.data(), 8);
    CallResult r = Do(kEepromWriteEx, Args({[] { return I4(0x0600); }, c.make}));
    ASSERT_EQ(r.hr, S_OK);
    std::vector<std::uint8_t> want = bytes;
    want.resize(8, 0);
    EXPECT_EQ(ocx_.Eeprom(0x0600, 8), want);
  }
}

TEST_F(DisciplineTest, TransfersAbove65535AreRefusedWithAReasonBeforeAnythingIsSent) {
  const UINT sent = Sent();
  // A script array is refused on its claimed length alone: not one element is fetched (the
  // first missing one would otherwise end the call as a type mismatch).
  for (long claimed : {65536L, 70000L, 0x7FFFFFFFL}) {
    for (DISPID method : {kWriteEx, kEepromWriteEx}) {
      SCOPED_TRACE(claimed);
      CallResult c = Do(method, Args({[] { return U1(0); },
                                      [&] {
                                        std::vector<ole::Variant> e;
                                        e.push_back(U1(1));
                                        return MakeScriptArray(std::move(e), claimed);
                                      }}));
      EXPECT_EQ(c.hr, DISP_E_EXCEPTION);
      ASSERT_NE(c.excep.bstrDescription, nullptr);
      EXPECT_NE(wcsstr(c.excep.bstrDescription, L"65535"), nullptr);
      EXPECT_EQ(c.excep.scode, E_INVALIDARG);
    }
  }
  CallResult r = Do(kReadEx, Args({[] { return U1(0x50); }, [] { return I4(65536); }}));
  EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
  ASSERT_NE(r.excep.bstrDescription, nullptr);
  EXPECT_NE(wcsstr(r.excep.bstrDescription, L"65535"), nullptr);
  EXPECT_NE(r.excep.scode, S_OK);

  CallResult w = Do(kWriteEx, Args({[] { return U1(0x50); },
                                    [] { return ByteArray(std::vector<std::uint8_t>(65536)); }}));
  EXPECT_EQ(w.hr, DISP_E_EXCEPTION);
  ASSERT_NE(w.excep.bstrDescription, nullptr);
  EXPECT_NE(wcsstr(w.excep.bstrDescription, L"65535"), nullptr);
  EXPECT_EQ(Sent(), sent);
}

TEST_F(DisciplineTest, AnImpossibleArrayEndsAsOutOfMemoryBeforeAnythingIsSent) {
  const UINT sent = Sent();
  CallResult r = Do(kEepromReadEx, Args({[] { return I4(0); }, [] { return R8(4294967295.0); }}));
  EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(r.excep.wCode, 0xF10A);
  EXPECT_EQ(r.excep.bstrDescription, nullptr);
  EXPECT_EQ(Sent(), sent);
}

// The standard marshaller carries a by-reference byte as one byte: a call from another apartment
// may use one byte of buffer and no more.
TEST(AnotherApartment, ByteBuffersOfMoreThanOneByteAreRefused) {
  EmulatedOcx& ocx = EmulatedOcx::Get();
  const std::vector<std::uint8_t> page = {0x5A, 0x6B};
  ocx.WriteEeprom(0x0100, page.data(), 2);
  IStream* marshalled = nullptr;
  DWORD server_thread = 0;
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread server([&] {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
      ole::ComPtr<IDispatch> ctl = ocx.CreateControl();
      Call(ctl.Get(), kOpen);
      CoMarshalInterThreadInterfaceInStream(IID_IDispatch, ctl.Get(), &marshalled);
      server_thread = GetCurrentThreadId();
      SetEvent(ready);
      MSG msg;
      while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    }
    CoUninitialize();
  });
  WaitForSingleObject(ready, INFINITE);
  CloseHandle(ready);
  {
    ole::ComPtr<IDispatch> proxy;
    ASSERT_EQ(CoGetInterfaceAndReleaseStream(marshalled, IID_IDispatch, proxy.PutVoid()), S_OK);
    struct Case {
      DISPID method;
      int count;
      HRESULT hr;
    };
    for (Case c : {Case{7, 64, DISP_E_TYPEMISMATCH}, Case{6, 2, DISP_E_TYPEMISMATCH},
                   Case{3, 2, DISP_E_TYPEMISMATCH}, Case{7, 1, S_OK}}) {
      SCOPED_TRACE(c.method * 100 + c.count);
      std::uint8_t byte = 0;
      std::vector<ole::Variant> args;
      if (c.method == 3) {
        args.push_back(U1(0x50));
        args.push_back(ByteRef(&byte));
        args.push_back(I4(c.count));
        args.push_back(Bool(true));
        args.push_back(Bool(true));
      } else {
        args.push_back(I4(0x0100));
        args.push_back(ByteRef(&byte));
        args.push_back(I4(c.count));
      }
      CallResult r = Call(proxy.Get(), c.method, args);
      EXPECT_EQ(r.hr, c.hr);
      if (FAILED(c.hr)) {
        EXPECT_EQ(r.arg_err, c.method == 3 ? 3u : 1u);
      } else {
        EXPECT_EQ(byte, 0x5A);
      }
    }
  }
  PostThreadMessageW(server_thread, WM_QUIT, 0, 0);
  server.join();
}

TEST_F(DisciplineTest, NamesResolveWithoutRegardToCase) {
  struct Case {
    const wchar_t* name;
    DISPID id;
  };
  for (Case c : {Case{L"OpenUSBHidDevice", 1}, Case{L"openusbhiddevice", 1},
                 Case{L"ABOUTBOX", DISPID_ABOUTBOX}, Case{L"get_key3", 42},
                 Case{L"EEPROM_WriteByteEx", 26}, Case{L"i2cm_freadlongbytesex", 24}}) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(c.name)};
    DISPID id = 12345;
    EXPECT_EQ(ctl_->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
    EXPECT_EQ(id, c.id);
  }
  LPOLESTR unknown[] = {const_cast<LPOLESTR>(L"Get_Key4")};
  DISPID id = 0;
  EXPECT_EQ(ctl_->GetIDsOfNames(IID_NULL, unknown, 1, 0, &id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(id, DISPID_UNKNOWN);
  LPOLESTR with_params[] = {const_cast<LPOLESTR>(L"I2Cm_fReadLongBytes"),
                            const_cast<LPOLESTR>(L"FGENSTOP"), const_cast<LPOLESTR>(L"bSlaveAddr"),
                            const_cast<LPOLESTR>(L"nope")};
  DISPID ids[4] = {};
  EXPECT_EQ(ctl_->GetIDsOfNames(IID_NULL, with_params, 4, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], 3);
  EXPECT_EQ(ids[1], 4);
  EXPECT_EQ(ids[2], 0);
  EXPECT_EQ(ids[3], DISPID_UNKNOWN);
}

TEST_F(DisciplineTest, TypeAndClassInformation) {
  UINT count = 0;
  ASSERT_EQ(ctl_->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  ole::ComPtr<ITypeInfo> info;
  ASSERT_EQ(ctl_->GetTypeInfo(0, 0, info.Put()), S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  EXPECT_TRUE(IsEqualGUID(attr->guid, qvx::kDiidDispatch));
  EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
  info->ReleaseTypeAttr(attr);
  EXPECT_EQ(ctl_->GetTypeInfo(1, 0, info.Put()), DISP_E_BADINDEX);

  ole::ComPtr<IProvideClassInfo2> pci;
  ASSERT_EQ(pci.QueryFrom(ctl_.Get(), IID_IProvideClassInfo2), S_OK);
  GUID events = GUID_NULL;
  ASSERT_EQ(pci->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &events), S_OK);
  EXPECT_TRUE(IsEqualGUID(events, qvx::kDiidEvents));
  ole::ComPtr<ITypeInfo> coclass;
  ASSERT_EQ(pci->GetClassInfo(coclass.Put()), S_OK);
  ASSERT_EQ(coclass->GetTypeAttr(&attr), S_OK);
  EXPECT_TRUE(IsEqualGUID(attr->guid, qvx::kClsidCtrl));
  coclass->ReleaseTypeAttr(attr);

  // One identity whichever interface it is reached through.
  ole::ComPtr<IUnknown> a, b;
  ASSERT_EQ(a.QueryFrom(ctl_.Get(), IID_IUnknown), S_OK);
  ASSERT_EQ(b.QueryFrom(pci.Get(), IID_IUnknown), S_OK);
  EXPECT_EQ(a.Get(), b.Get());
  ole::ComPtr<IDispatch> by_diid;
  EXPECT_EQ(by_diid.QueryFrom(ctl_.Get(), qvx::kDiidDispatch), S_OK);
}

TEST_F(DisciplineTest, TheEventConnectionPointIsFoundAndEnumerated) {
  ole::ComPtr<IConnectionPointContainer> cpc;
  ASSERT_EQ(cpc.QueryFrom(ctl_.Get(), IID_IConnectionPointContainer), S_OK);
  ole::ComPtr<IConnectionPoint> cp;
  ASSERT_EQ(cpc->FindConnectionPoint(qvx::kDiidEvents, cp.Put()), S_OK);
  IID iid = GUID_NULL;
  ASSERT_EQ(cp->GetConnectionInterface(&iid), S_OK);
  EXPECT_TRUE(IsEqualGUID(iid, qvx::kDiidEvents));
  EXPECT_EQ(cpc->FindConnectionPoint(qvx::kDiidDispatch, cp.Put()), CONNECT_E_NOCONNECTION);

  ole::ComPtr<IEnumConnectionPoints> points;
  ASSERT_EQ(cpc->EnumConnectionPoints(points.Put()), S_OK);
  IConnectionPoint* got[2] = {};
  ULONG fetched = 0;
  EXPECT_EQ(points->Next(2, got, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 1u);
  ASSERT_EQ(got[0]->GetConnectionInterface(&iid), S_OK);
  EXPECT_TRUE(IsEqualGUID(iid, qvx::kDiidEvents));
  got[0]->Release();
}

}  // namespace
}  // namespace dispatch_test
