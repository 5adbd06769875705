// Helpers for the dispatch tests: loading the emulated OCX without registration (or, with
// QVX_CREATE_REGISTERED set, creating the control through the registry), reaching its emulated
// board through the QvxEmu* exports, and calling IDispatch with arguments written left to right
// as a script writes them.
#pragma once

#include <oaidl.h>
#include <ocidl.h>
#include <windows.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "ole/raii.h"

namespace dispatch_test {

// VARIANT builders.
ole::Variant U1(std::uint8_t v);
ole::Variant I2(short v);
ole::Variant I4(long v);
ole::Variant R8(double v);
ole::Variant Bool(bool v);
ole::Variant Str(const wchar_t* text);
ole::Variant ByteRef(std::uint8_t* p);
ole::Variant VariantRef(VARIANT* target);
ole::Variant Error(HRESULT scode);
// A one-dimensional array of `vt` elements (VT_UI1 or VT_VARIANT holding VT_UI1) with lower
// bound `lower`.
ole::Variant ByteArray(const std::vector<std::uint8_t>& bytes, VARTYPE element = VT_UI1,
                       LONG lower = 0);

// The arguments of one call, left to right.
template <class... Values>
std::vector<ole::Variant> ArgList(Values&&... values) {
  std::vector<ole::Variant> args;
  args.reserve(sizeof...(values));
  (args.push_back(std::forward<Values>(values)), ...);
  return args;
}

struct CallResult {
  HRESULT hr = E_FAIL;
  ole::Variant value;
  UINT arg_err = 0xFFFFFFFF;
  EXCEPINFO excep{};
  CallResult() = default;
  CallResult(CallResult&& other) noexcept
      : hr(other.hr), value(std::move(other.value)), arg_err(other.arg_err), excep(other.excep) {
    other.excep = EXCEPINFO{};
  }
  CallResult& operator=(CallResult&&) = delete;
  ~CallResult();
};

// Invokes `dispid` with `args` given left to right; DISPPARAMS receives them right to left.
CallResult Call(IDispatch* object, DISPID dispid, std::vector<ole::Variant>& args,
                WORD flags = DISPATCH_METHOD | DISPATCH_PROPERTYGET);
CallResult Call(IDispatch* object, DISPID dispid,
                WORD flags = DISPATCH_METHOD | DISPATCH_PROPERTYGET);

// Elements of a returned VT_ARRAY|VT_VARIANT as (type, value) pairs.
struct Element {
  VARTYPE vt;
  unsigned value;
};
std::vector<Element> Elements(const VARIANT* array);
std::vector<std::uint8_t> Bytes(const VARIANT* array);
// Elements of a returned VT_ARRAY|VT_VARIANT that must all be VT_BSTR.
std::vector<std::wstring> Strings(const VARIANT* array);

// The emulated OCX (test_files::EmulatedOcx()), loaded once for the process; a program whose
// OCX cannot be loaded says so and exits with 1.
class EmulatedOcx {
 public:
  static EmulatedOcx& Get();

  ole::ComPtr<IDispatch> CreateControl();
  HMODULE module() const { return module_; }

  // Plug and Unplug notify the registered windows as the system would; SetPlugged does not
  // (for tests that send WM_DEVICECHANGE themselves).
  void(WINAPI* Plug)();
  void(WINAPI* Unplug)();
  void(WINAPI* SetPlugged)(BOOL plugged);
  void(WINAPI* RefuseNotifications)(BOOL refuse);
  void(WINAPI* SetSilent)(BOOL silent);
  UINT(WINAPI* OpenHandleCount)();
  UINT(WINAPI* CommandCount)(int code);
  void(WINAPI* GetLines)(BYTE* record);
  void(WINAPI* ReadEeprom)(UINT address, BYTE* bytes, UINT count);
  void(WINAPI* WriteEeprom)(UINT address, const BYTE* bytes, UINT count);
  void(WINAPI* SetSensor)(int channel, const BYTE* block);
  int(WINAPI* ExpanderChannel)();
  BYTE(WINAPI* SpeedCode)();
  void(WINAPI* SetKey)(int key, BOOL pressed);
  void(WINAPI* SetInt)(BOOL high);
  // Boards besides the default one: each with its own memories; ids from 1.
  int(WINAPI* AddBoard)(const wchar_t* serial, const wchar_t* location);
  void(WINAPI* RemoveBoard)(int id);
  void(WINAPI* PlugBoard)(int id, BOOL plugged);
  void(WINAPI* ReadBoardEeprom)(int id, UINT address, BYTE* bytes, UINT count);
  void(WINAPI* FailAllocation)(UINT nth);
  UINT(WINAPI* AllocationCount)();
  UINT(WINAPI* LiveAllocations)();
  UINT(WINAPI* LiveBytes)();

  std::vector<std::uint8_t> Eeprom(UINT address, UINT count);
  // The EEPROM of board `id`, or of the default board for id 0.
  std::vector<std::uint8_t> BoardEeprom(int id, UINT address, UINT count);
  std::vector<std::uint8_t> Lines();

 private:
  EmulatedOcx();
  HMODULE module_ = nullptr;
};

}  // namespace dispatch_test
