// A careless or hostile caller: seeded random Invoke calls on the emulated OCX's control with
// random DISPIDs, flags, argument counts, named arguments and VARIANTs of every kind, by value
// and by reference, and as many well-typed calls of the declared methods. Every call must
// return one of the documented results with a sound argument position and result, leave the
// caller's by-value arguments alone, and the process must not grow over the second half of the
// run.
//
// The control traces the whole run into a pcapng file (TraceStop is left out of the calls), which
// must be whole at the end.
//
// QVX_RANDOM_CALLS sets the number of calls (default 20000), QVX_RANDOM_SEED the seed (default:
// the clock). A failure names the seed and the call.
#include <olectl.h>
#include <windows.h>
// after windows.h, which it needs
#include <psapi.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "control/identity.h"
#include "dispatch_script_array.h"
#include "dispatch_support.h"
#include "tests/trace/trace_support.h"

namespace dispatch_test {
namespace {

// The results docs/reference.md lists for a script's call.
const HRESULT kDocumented[] = {S_OK,
                               DISP_E_TYPEMISMATCH,
                               DISP_E_OVERFLOW,
                               DISP_E_BADVARTYPE,
                               E_INVALIDARG,
                               DISP_E_BADPARAMCOUNT,
                               DISP_E_PARAMNOTOPTIONAL,
                               DISP_E_NONAMEDARGS,
                               DISP_E_MEMBERNOTFOUND,
                               DISP_E_EXCEPTION};

// Every method but the About box, which would wait for its OK; and some that are not there.
const DISPID kDispids[] = {
    QVX_DISPID_OPENUSBHIDDEVICE, QVX_DISPID_I2CM_SPEED, QVX_DISPID_I2CM_FREADLONGBYTES,
    QVX_DISPID_I2CM_FWRITELONGBYTES, QVX_DISPID_HARDWARERESET, QVX_DISPID_EEPROM_WRITEBYTE,
    QVX_DISPID_EEPROM_READBYTE, QVX_DISPID_SET_I2CM_POWER, QVX_DISPID_GET_I2CM_POWER,
    QVX_DISPID_SET_I2CM_RESET, QVX_DISPID_GET_I2CM_RESET, QVX_DISPID_SET_I2CM_BUZZER,
    QVX_DISPID_GET_I2CM_BUZZER, QVX_DISPID_SET_I2CM_LED_PASS, QVX_DISPID_GET_I2CM_LED_PASS,
    QVX_DISPID_SET_I2CM_LED_FAIL, QVX_DISPID_GET_I2CM_LED_FAIL, QVX_DISPID_SET_I2CM_LED_ERROR,
    QVX_DISPID_GET_I2CM_LED_ERROR, QVX_DISPID_SETEXPANDCHANNEL, QVX_DISPID_GETSENSORRAWDATAEX,
    QVX_DISPID_EEPROM_READBYTEEX, QVX_DISPID_GETSENSORRAWDATA, QVX_DISPID_I2CM_FREADLONGBYTESEX,
    QVX_DISPID_I2CM_FWRITELONGBYTESEX, QVX_DISPID_EEPROM_WRITEBYTEEX, QVX_DISPID_GET_I2CM_INT,
    QVX_DISPID_GET_KEY1, QVX_DISPID_GET_KEY2, QVX_DISPID_GET_KEY3,
    // not members
    0, 27, 37, -1, -4, -5, 1000};

unsigned long EnvNumber(const char* name, unsigned long fallback) {
  const char* text = std::getenv(name);
  return text && *text ? std::strtoul(text, nullptr, 10) : fallback;
}

SIZE_T PrivateBytes() {
  PROCESS_MEMORY_COUNTERS_EX counters = {};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                       sizeof counters);
  // Wine leaves PrivateUsage at 0; the pagefile usage counts the same private memory there.
  return counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
}

// A method as the control's type information declares it: by-reference parameters carry
// VT_BYREF. The About box is left out: it would wait for its OK; and TraceStop, so that the
// trace runs to the end.
struct Declared {
  DISPID id;
  std::vector<VARTYPE> params;
};

std::vector<Declared> DeclaredMethods(IDispatch* ctl) {
  std::vector<Declared> methods;
  ole::ComPtr<ITypeInfo> info;
  TYPEATTR* attr = nullptr;
  if (FAILED(ctl->GetTypeInfo(0, 0, info.Put())) || FAILED(info->GetTypeAttr(&attr))) {
    return methods;
  }
  for (UINT f = 0; f < attr->cFuncs; ++f) {
    FUNCDESC* desc = nullptr;
    if (FAILED(info->GetFuncDesc(f, &desc))) continue;
    Declared m{desc->memid, {}};
    for (SHORT i = 0; i < desc->cParams; ++i) {
      const TYPEDESC& t = desc->lprgelemdescParam[i].tdesc;
      m.params.push_back(t.vt == VT_PTR ? static_cast<VARTYPE>(t.lptdesc->vt | VT_BYREF) : t.vt);
    }
    if (m.id != DISPID_ABOUTBOX && m.id != QVX_DISPID_TRACESTOP) methods.push_back(m);
    info->ReleaseFuncDesc(desc);
  }
  info->ReleaseTypeAttr(attr);
  return methods;
}

// Makes random VARIANTs. What a by-reference VARIANT points at lives in the generator until
// Clear(), after the call.
class Generator {
 public:
  explicit Generator(unsigned seed) : rng_(seed) {}

  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
  bool Coin() { return Pick(2) == 0; }

  ole::Variant Value(int depth = 0) {
    ole::Variant v;
    VARIANT* p = v.Get();
    switch (Pick(22)) {
      case 0:
        break;  // VT_EMPTY
      case 1:
        V_VT(p) = VT_NULL;
        break;
      case 2:
        V_VT(p) = VT_I2;
        V_I2(p) = static_cast<SHORT>(Pick(70000) - 35000);
        break;
      case 3:
        V_VT(p) = VT_I4;
        V_I4(p) = Pick(3) ? Pick(300) : static_cast<LONG>(rng_());
        break;
      case 4:
        V_VT(p) = VT_R8;
        V_R8(p) = Double();
        break;
      case 5:
        V_VT(p) = VT_R4;
        V_R4(p) = static_cast<float>(Double());
        break;
      case 6:
        V_VT(p) = VT_BOOL;
        V_BOOL(p) = Coin() ? VARIANT_TRUE : static_cast<VARIANT_BOOL>(Pick(3));
        break;
      case 7: {
        static const wchar_t* kTexts[] = {L"12",    L"-1",  L"255", L"256", L"0x10",
                                          L"1e300", L"abc", L"",    L" 7 ", L"\x4E2D"};
        V_VT(p) = VT_BSTR;
        V_BSTR(p) = Pick(8) ? SysAllocString(kTexts[Pick(10)]) : nullptr;
        break;
      }
      case 8:
        V_VT(p) = VT_DATE;
        V_DATE(p) = Double();
        break;
      case 9:
        V_VT(p) = VT_CY;
        V_CY(p).int64 = static_cast<LONGLONG>(rng_()) * Pick(100000);
        break;
      case 10: {
        V_VT(p) = VT_DECIMAL;
        VARIANT r8;
        V_VT(&r8) = VT_R8;
        V_R8(&r8) = Pick(600) - 100;
        VariantChangeType(p, &r8, 0, VT_DECIMAL);
        break;
      }
      case 11:
        V_VT(p) = VT_ERROR;
        V_ERROR(p) = Coin() ? DISP_E_PARAMNOTFOUND : E_FAIL;
        break;
      case 12:
        V_VT(p) = VT_UI1;
        V_UI1(p) = static_cast<BYTE>(Pick(256));
        break;
      case 13:
        V_VT(p) = VT_UI4;
        V_UI4(p) = Pick(2) ? Pick(70000) : static_cast<ULONG>(rng_());
        break;
      case 14:
        V_VT(p) = VT_I8;
        V_I8(p) = static_cast<LONGLONG>(rng_()) << Pick(32);
        break;
      case 15:
        V_VT(p) = static_cast<VARTYPE>(Coin() ? VT_I1 : VT_UI2);
        V_UI2(p) = static_cast<USHORT>(Pick(65536));
        break;
      case 16:
        V_VT(p) = VT_DISPATCH;
        V_DISPATCH(p) = nullptr;
        break;
      case 17:
        return ScriptArrayValue(depth);
      case 18:
      case 19:
        return Array(depth);
      case 20:
        V_VT(p) = VT_UNKNOWN;
        V_UNKNOWN(p) = nullptr;
        break;
      default:
        if (depth < 2) return Reference(depth);
        break;
    }
    return v;
  }

  // A value a script would pass for a parameter declared `vt`: mostly small counts and
  // addresses, so that calls reach the board, sometimes in the declared type itself.
  ole::Variant Typed(VARTYPE vt) {
    if (vt == (VT_UI1 | VT_BYREF)) {
      auto target = std::make_unique<Target>();
      ole::Variant v = ByteRef(target->bytes);
      targets_.push_back(std::move(target));
      return v;
    }
    if (vt == VT_VARIANT) {
      std::vector<std::uint8_t> bytes(static_cast<std::size_t>(Pick(Pick(8) ? 65 : 300)));
      for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(Pick(256));
      if (Pick(3) == 0) {
        std::vector<ole::Variant> elements;
        for (std::uint8_t b : bytes) elements.push_back(U1(b));
        return MakeScriptArray(std::move(elements));
      }
      return ByteArray(bytes, Coin() ? VT_UI1 : VT_VARIANT);
    }
    ole::Variant v = vt == VT_BOOL ? Bool(Coin()) : I4(Pick(4) ? Pick(80) : Pick(600));
    if (vt == VT_UI1 && Pick(4)) v = U1(0x50);  // the board's EEPROM
    if (Coin()) VariantChangeType(v.Get(), v.Get(), 0, vt);
    return v;
  }

  void Clear() {
    targets_.clear();
    for (SAFEARRAY* a : locked_) SafeArrayUnlock(a);
    locked_.clear();
  }

 private:
  double Double() {
    switch (Pick(6)) {
      case 0:
        return std::numeric_limits<double>::quiet_NaN();
      case 1:
        return std::numeric_limits<double>::infinity();
      case 2:
        return (Coin() ? 1 : -1) * 1e300;
      case 3:
        return 4294967295.0 + Pick(3);
      default:
        return Pick(600) - 100 + 0.5 * Pick(2);
    }
  }

  ole::Variant ScriptArrayValue(int depth) {
    std::vector<ole::Variant> elements;
    const int n = Pick(6);
    for (int i = 0; i < n; ++i)
      elements.push_back(depth < 2 && Pick(4) == 0 ? Value(depth + 1)
                                                   : U1(static_cast<std::uint8_t>(Pick(256))));
    const long claimed = Pick(4) ? -1 : (Coin() ? Pick(10) : static_cast<long>(rng_() >> 1));
    return MakeScriptArray(std::move(elements), claimed);
  }

  ole::Variant Array(int depth) {
    static const VARTYPE kTypes[] = {VT_UI1,  VT_I2,      VT_I4,      VT_R8,      VT_BSTR,
                                     VT_BOOL, VT_DECIMAL, VT_VARIANT, VT_VARIANT, VT_DISPATCH};
    const VARTYPE vt = kTypes[Pick(10)];
    const UINT dims = 1 + (Pick(5) == 0);
    SAFEARRAYBOUND bounds[2];
    for (UINT d = 0; d < dims; ++d)
      bounds[d] = {static_cast<ULONG>(Pick(4) ? Pick(6) : 0), Pick(4) ? 0 : Pick(5) - 2};
    SAFEARRAY* array = SafeArrayCreate(vt, dims, bounds);
    ole::Variant v;
    if (!array) return v;
    if (vt == VT_VARIANT && dims == 1) {
      for (ULONG i = 0; i < bounds[0].cElements; ++i) {
        LONG index = bounds[0].lLbound + static_cast<LONG>(i);
        ole::Variant element =
            depth < 2 && Pick(3) == 0 ? Value(depth + 1) : U1(static_cast<std::uint8_t>(Pick(256)));
        SafeArrayPutElement(array, &index, element.Get());
      }
    } else if (vt == VT_UI1 && dims == 1) {
      for (ULONG i = 0; i < bounds[0].cElements; ++i) {
        LONG index = bounds[0].lLbound + static_cast<LONG>(i);
        BYTE b = static_cast<BYTE>(Pick(256));
        SafeArrayPutElement(array, &index, &b);
      }
    }
    if (Pick(6) == 0 && SUCCEEDED(SafeArrayLock(array))) locked_.push_back(array);
    V_VT(v.Get()) = VT_ARRAY | vt;
    V_ARRAY(v.Get()) = array;
    return v;
  }

  // By reference: a byte buffer large enough for any method, a null pointer, or a VARIANT.
  ole::Variant Reference(int depth) {
    ole::Variant v;
    auto target = std::make_unique<Target>();
    switch (Pick(5)) {
      case 0:
        V_VT(v.Get()) = VT_UI1 | VT_BYREF;
        V_UI1REF(v.Get()) = target->bytes;
        break;
      case 1:
        V_VT(v.Get()) = static_cast<VARTYPE>((Coin() ? VT_UI1 : VT_VARIANT) | VT_BYREF);
        V_BYREF(v.Get()) = nullptr;
        break;
      case 2:
        target->array = Array(depth + 1);
        if (V_VT(target->array.Get()) == VT_EMPTY) return v;
        V_VT(v.Get()) = V_VT(target->array.Get()) | VT_BYREF;
        V_ARRAYREF(v.Get()) = &V_ARRAY(target->array.Get());
        break;
      case 3:
        V_VT(v.Get()) = VT_I4 | VT_BYREF;
        V_I4REF(v.Get()) = &target->number;
        break;
      default:
        target->variant = Value(depth + 1);
        V_VT(v.Get()) = VT_VARIANT | VT_BYREF;
        V_VARIANTREF(v.Get()) = target->variant.Get();
        break;
    }
    targets_.push_back(std::move(target));
    return v;
  }

  struct Target {
    BYTE bytes[65536] = {};  // the most any method writes through a byte reference
    LONG number = 7;
    ole::Variant variant;
    ole::Variant array;
  };

  std::mt19937 rng_;
  std::vector<std::unique_ptr<Target>> targets_;
  std::vector<SAFEARRAY*> locked_;
};

// What a returned VARIANT may be: nothing, a flag, a status byte, a string (the selected
// board), or a documented array (of numbers, or of strings from ListBoards).
::testing::AssertionResult WellFormedResult(VARIANT* result) {
  const VARTYPE vt = V_VT(result);
  if (vt == (VT_ARRAY | VT_VARIANT)) {
    SAFEARRAY* array = V_ARRAY(result);
    LONG lower = -1;
    VARTYPE element = VT_EMPTY;
    if (!array || SafeArrayGetDim(array) != 1 || FAILED(SafeArrayGetLBound(array, 1, &lower)) ||
        lower != 0 || FAILED(SafeArrayGetVartype(array, &element)) || element != VT_VARIANT) {
      return ::testing::AssertionFailure() << "an array of another shape";
    }
    for (const Element& e : Elements(result)) {
      if (e.vt != VT_UI1 && e.vt != VT_UI2 && e.vt != VT_I4 && e.vt != VT_BSTR)
        return ::testing::AssertionFailure() << "element " << e.vt;
    }
  } else if (vt != VT_EMPTY && vt != VT_BOOL && vt != VT_UI1 && vt != VT_BSTR) {
    return ::testing::AssertionFailure() << "result type " << vt;
  }
  if (FAILED(VariantClear(result))) return ::testing::AssertionFailure() << "VariantClear failed";
  return ::testing::AssertionSuccess();
}

TEST(RandomCaller, EveryCallEndsAsDocumented) {
  EmulatedOcx& ocx = EmulatedOcx::Get();
  ole::ComPtr<IDispatch> ctl = ocx.CreateControl();
  ASSERT_TRUE(ctl);
  const unsigned long calls = EnvNumber("QVX_RANDOM_CALLS", 20000);
  const unsigned seed = static_cast<unsigned>(EnvNumber(
      "QVX_RANDOM_SEED",
      static_cast<unsigned long>(std::chrono::steady_clock::now().time_since_epoch().count())));
  SCOPED_TRACE("QVX_RANDOM_SEED=" + std::to_string(seed));
  Generator gen(seed);
  const std::vector<Declared> methods = DeclaredMethods(ctl.Get());
  ASSERT_FALSE(methods.empty()) << "no type information";
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring trace_path =
      std::wstring(temp) + L"qvx_random_" + std::to_wstring(GetCurrentProcessId()) + L".pcapng";
  DeleteFileW(trace_path.c_str());
  {
    std::vector<ole::Variant> name = ArgList(Str(trace_path.c_str()));
    const CallResult started_trace = Call(ctl.Get(), QVX_DISPID_TRACESTART, name);
    ASSERT_EQ(started_trace.hr, S_OK);
    ASSERT_EQ(V_VT(started_trace.value.Get()), VT_BOOL);
    ASSERT_EQ(V_BOOL(started_trace.value.Get()), VARIANT_TRUE) << "the trace did not start";
  }
  SIZE_T half_way = 0;
  UINT library_half_way = 0;  // the library's own live bytes
  unsigned long succeeded = 0;
  unsigned long typed = 0;
  const auto started = std::chrono::steady_clock::now();
  for (unsigned long n = 0; n < calls; ++n) {
    if (n == calls / 2) {
      half_way = PrivateBytes();
      library_half_way = ocx.LiveBytes();
    }
    // Half the calls are well typed for a declared method, as a script's would be, so that
    // they reach the board; the other half are anything at all.
    const bool well_typed = gen.Coin();
    typed += well_typed;
    const Declared& method = methods[static_cast<std::size_t>(gen.Pick(int(methods.size())))];
    const DISPID dispid =
        well_typed ? method.id : kDispids[gen.Pick(sizeof kDispids / sizeof kDispids[0])];
    const WORD flags = static_cast<WORD>(
        well_typed || gen.Pick(4) ? DISPATCH_METHOD | DISPATCH_PROPERTYGET : gen.Pick(16));
    std::vector<ole::Variant> args;
    const int count = well_typed ? int(method.params.size()) : gen.Pick(7);
    for (int i = 0; i < count; ++i) {
      // The last parameter comes first.
      args.push_back(well_typed ? gen.Typed(method.params[std::size_t(count - 1 - i)])
                                : gen.Value());
    }
    std::vector<VARIANT> before(args.size());
    for (std::size_t i = 0; i < args.size(); ++i) before[i] = *args[i].Get();
    DISPID named[2] = {0, DISPID_PROPERTYPUT};
    DISPPARAMS params = {args.empty() ? nullptr : args[0].Get(), named,
                         static_cast<UINT>(args.size()), 0};
    if (!well_typed && !args.empty() && gen.Pick(10) == 0)
      params.cNamedArgs = 1 + (args.size() > 1 && gen.Coin());
    ole::Variant result;
    EXCEPINFO excep = {};
    UINT arg_err = 0xFFFFFFFF;
    // Laid out contiguously, as DISPPARAMS needs them.
    std::vector<VARIANT> slots(args.size());
    for (std::size_t i = 0; i < args.size(); ++i) slots[i] = *args[i].Get();
    params.rgvarg = slots.empty() ? nullptr : slots.data();
    const HRESULT hr =
        ctl->Invoke(dispid, IID_NULL, 0, flags, &params, result.Put(), &excep, &arg_err);
    const std::string call = "call " + std::to_string(n) + ": DISPID " + std::to_string(dispid) +
                             ", flags " + std::to_string(flags) + ", " + std::to_string(count) +
                             " arguments, " + std::to_string(params.cNamedArgs) + " named";
    bool documented = false;
    for (HRESULT ok : kDocumented) documented = documented || hr == ok;
    ASSERT_TRUE(documented) << call << ": 0x" << std::hex << hr;
    succeeded += hr == S_OK;
    if (arg_err != 0xFFFFFFFF) {
      // Too few arguments name the first missing parameter's place in the method's whole list;
      // every other error a place in rgvarg.
      std::size_t places = args.size();
      if (hr == DISP_E_PARAMNOTOPTIONAL) {
        for (const Declared& d : methods) {
          if (d.id == dispid) places = d.params.size();
        }
      }
      ASSERT_LT(arg_err, places) << call;
    }
    ASSERT_TRUE(WellFormedResult(result.Get())) << call;
    if (hr == DISP_E_EXCEPTION) {
      ASSERT_TRUE(excep.wCode != 0 || excep.scode != S_OK) << call;
    }
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrHelpFile);
    for (std::size_t i = 0; i < args.size(); ++i) {
      if (V_VT(&before[i]) & VT_BYREF) continue;
      ASSERT_EQ(std::memcmp(&before[i], &slots[i], sizeof(VARIANT)), 0)
          << call << ": by-value argument " << i << " changed";
    }
    gen.Clear();
  }
  const SIZE_T at_end = PrivateBytes();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf(
      "%lu calls (%lu well typed, %lu succeeded) in %.1f s; private bytes %zu KiB at half way, "
      "%zu KiB at the end; the library's own live bytes %u at half way, %u at the end\n",
      calls, typed, succeeded, seconds, static_cast<std::size_t>(half_way / 1024),
      static_cast<std::size_t>(at_end / 1024), library_half_way, ocx.LiveBytes());
  // Most well-typed calls succeed: otherwise the board's paths went untried.
  EXPECT_GT(succeeded * 2, typed) << "too few calls reached the board";
  // Heaps settle in steps; a leak of one block per call would show as megabytes.
  EXPECT_LT(at_end, half_way + 2 * 1024 * 1024) << "the process grew over the second half";

  EXPECT_EQ(Call(ctl.Get(), QVX_DISPID_TRACESTOP).hr, S_OK);
  std::ifstream in(trace_path.c_str(), std::ios::binary);
  const testing_support::Pcapng trace =
      testing_support::ReadPcapng(std::string(std::istreambuf_iterator<char>(in), {}));
  in.close();
  std::printf("trace: %zu packets\n", trace.packets.size());
  EXPECT_EQ(trace.problem, "");
  EXPECT_EQ(trace.link_types, (std::vector<std::uint16_t>{249, 209}));
  EXPECT_GT(trace.packets.size(), succeeded / 2) << "the calls that reached the board are missing";
  DeleteFileW(trace_path.c_str());
}

}  // namespace
}  // namespace dispatch_test
