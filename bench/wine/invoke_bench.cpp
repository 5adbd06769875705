// Invoke benchmark under wine64: what the dispatch layer costs on top of the board operation,
// and whether building returned arrays stays linear. Prints figures; never fails on them.
//
//   invoke_bench.exe            (the emulated OCX of this build is loaded directly)
#include <oaidl.h>
#include <objbase.h>
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "board/usb_channel.h"
#include "control/identity.h"
#include "link/board_link.h"
#include "ole/raii.h"
#include "platform/critical_section.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr DISPID kOpen = 1, kGetPower = 9, kEepromReadEx = 22, kReadEx = 24;

struct Rate {
  double calls_per_second;
  double ms_per_call;
  long calls;
};

// Calls `op` repeatedly for about `seconds` (at least `min_calls` times).
Rate Measure(const std::function<void()>& op, double seconds, long min_calls = 1) {
  long calls = 0;
  const auto start = Clock::now();
  double elapsed = 0;
  do {
    op();
    ++calls;
    elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  } while (elapsed < seconds || calls < min_calls);
  return {calls / elapsed, elapsed * 1000.0 / calls, calls};
}

HRESULT Invoke(IDispatch* d, DISPID id, VARIANT* args, UINT count, VARIANT* result) {
  DISPPARAMS params = {args, nullptr, count, 0};
  return d->Invoke(id, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params, result,
                   nullptr, nullptr);
}

VARIANT I4(long v) {
  VARIANT r;
  V_VT(&r) = VT_I4;
  V_I4(&r) = v;
  return r;
}

}  // namespace

int main() {
  CoInitialize(nullptr);
  const std::string path = std::string("Z:") + QVX_EMULATED_OCX;
  HMODULE ocx = LoadLibraryA(path.c_str());
  if (!ocx) {
    std::fprintf(stderr, "cannot load %s\n", path.c_str());
    return 1;
  }
  using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
  auto get_class_object =
      reinterpret_cast<GetClassObjectFn>(GetProcAddress(ocx, "DllGetClassObject"));
  ole::ComPtr<IClassFactory> factory;
  ole::ComPtr<IDispatch> ctl;
  if (!get_class_object ||
      FAILED(get_class_object(qvx::kClsidCtrl, IID_IClassFactory, factory.PutVoid())) ||
      FAILED(factory->CreateInstance(nullptr, IID_IDispatch, ctl.PutVoid()))) {
    std::fprintf(stderr, "cannot create the control\n");
    return 1;
  }
  ole::Variant result;
  if (FAILED(Invoke(ctl.Get(), kOpen, nullptr, 0, result.Put())) ||
      V_BOOL(result.Get()) != VARIANT_FALSE) {
    std::fprintf(stderr, "the emulated board did not open\n");
    return 1;
  }

  std::printf("QelVantorixActiveX Invoke benchmark (wine64, emulated board)\n");

  const Rate invoke_power =
      Measure([&] { Invoke(ctl.Get(), kGetPower, nullptr, 0, result.Put()); }, 1.0);

  // The same board operation without COM: the line-state read under both locks, on a board link
  // of this program over its own emulated board.
  CUSBChannel channel(DefaultBoardOpener());
  channel.OpenBoard();
  const Rate direct_power = Measure(
      [&] {
        std::uint8_t record[board::kLineRecordSize];
        platform::CsLock board_state(channel.m_csBoardState);
        platform::CsLock exchange(channel.m_csExchange);
        channel.ReadLineState(record);
      },
      1.0);

  std::printf("%-44s %12.0f calls/s  %9.4f ms/call\n", "Get_I2Cm_Power through Invoke",
              invoke_power.calls_per_second, invoke_power.ms_per_call);
  std::printf("%-44s %12.0f calls/s  %9.4f ms/call\n", "ReadLineState directly in C++",
              direct_power.calls_per_second, direct_power.ms_per_call);

  VARIANT eeprom_args[2] = {I4(64), I4(0)};  // right to left: cnt, nAddr
  const Rate eeprom =
      Measure([&] { Invoke(ctl.Get(), kEepromReadEx, eeprom_args, 2, result.Put()); }, 1.0);
  std::printf("%-44s %12.0f calls/s  %9.4f ms/call\n", "EEPROM_ReadByteEx(0, 64)",
              eeprom.calls_per_second, eeprom.ms_per_call);

  double ms_per_byte[2] = {};
  const long counts[2] = {4096, 65535};
  for (int i = 0; i < 2; ++i) {
    VARIANT args[2] = {I4(counts[i]), I4(0x50)};
    const Rate r = Measure([&] { Invoke(ctl.Get(), kReadEx, args, 2, result.Put()); }, 1.0, 3);
    ms_per_byte[i] = r.ms_per_call / counts[i];
    char label[64];
    std::snprintf(label, sizeof label, "I2Cm_fReadLongBytesEx(0x50, %ld)", counts[i]);
    std::printf("%-44s %12.1f calls/s  %9.4f ms/call  %8.2f MB/s\n", label, r.calls_per_second,
                r.ms_per_call, counts[i] / (r.ms_per_call / 1000.0) / 1e6);
  }
  std::printf("time per byte, 65535 vs 4096 bytes: %.2f (1.0 means linear)\n",
              ms_per_byte[1] / ms_per_byte[0]);
  result.Clear();
  ctl.Reset();
  factory.Reset();
  return 0;
}
