// Table-driven IDispatch: one row per member (name, DISPID, parameter types, result type,
// handler). The table does the automation calling discipline once for every member: argument
// order, coercion, missing and surplus arguments, and turning a handler's failure into
// DISP_E_EXCEPTION. Handlers see converted arguments in declaration order.
#pragma once

#include <oaidl.h>
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "ole/raii.h"

namespace ole {

inline constexpr std::size_t kMaxDispParams = 8;

// EXCEPINFO codes for a handler's failure, as scripts have always seen them.
inline constexpr WORD kExcepCodeOutOfMemory = 0xF10A;
inline constexpr WORD kExcepCodeFailure = 0xF108;

// Thrown by a handler to fail the call with DISP_E_EXCEPTION and a description of its own.
struct DispatchError {
  std::wstring description;
  HRESULT scode = E_INVALIDARG;
};

// Thrown by a handler that finds argument `index` (declaration order) unusable; the table
// reports `hr` with the argument's position in DISPPARAMS.
struct ArgumentError {
  std::size_t index;
  HRESULT hr = DISP_E_TYPEMISMATCH;
};

// The converted arguments of one call and its result slot.
class DispCall {
 public:
  std::uint8_t U1(std::size_t i) const { return V_UI1(Arg(i)); }
  std::uint16_t U2(std::size_t i) const { return V_UI2(Arg(i)); }
  std::int32_t I4(std::size_t i) const { return V_I4(Arg(i)); }
  std::uint32_t U4(std::size_t i) const { return V_UI4(Arg(i)); }
  // VARIANT_BOOL arrives as the integer flag 1 or 0.
  int Bool(std::size_t i) const { return V_BOOL(Arg(i)) != VARIANT_FALSE ? 1 : 0; }
  std::uint8_t* ByteRef(std::size_t i) const { return V_UI1REF(Arg(i)); }
  // A by-reference byte argument the method will use as a buffer of `bytes` bytes. The standard
  // marshaller carries such an argument as one byte, so a call that came through COM's channel
  // (from another apartment or process) is refused with DISP_E_TYPEMISMATCH for more than one
  // byte rather than written beyond the marshaller's buffer; so is a buffer that is a block of
  // COM's task allocator known to be smaller (which is what the marshaller's stub hands on, on
  // systems that do not tell a channel call). Other in-process callers are trusted to pass
  // enough (the first element of a byte array).
  std::uint8_t* ByteBuffer(std::size_t i, std::size_t bytes) const;
  // A VT_BSTR parameter; a null BSTR is the empty string.
  const wchar_t* Str(std::size_t i) const {
    const BSTR text = V_BSTR(Arg(i));
    return text ? text : L"";
  }
  // A VT_VARIANT parameter: the caller's VARIANT as passed.
  const VARIANT* Var(std::size_t i) const { return Arg(i); }
  // The member called, by its row's name: for a handler that serves several rows.
  const wchar_t* Member() const { return member_; }

  void ReturnBool(int value) {
    V_VT(result_.Get()) = VT_BOOL;
    V_BOOL(result_.Get()) = value ? VARIANT_TRUE : VARIANT_FALSE;
  }
  void ReturnU1(std::uint8_t value) {
    V_VT(result_.Get()) = VT_UI1;
    V_UI1(result_.Get()) = value;
  }
  // Throws std::bad_alloc when the string cannot be allocated.
  void ReturnStr(const std::wstring& value);
  // Takes ownership of `value`'s content.
  void ReturnVariant(Variant&& value) { result_ = std::move(value); }

 private:
  friend class DispatchTable;
  const VARIANT* Arg(std::size_t i) const { return args_[i]; }

  const wchar_t* member_ = L"";
  const VARIANT* args_[kMaxDispParams] = {};
  Variant converted_[kMaxDispParams];
  Variant result_;
};

// `object` is what the caller of Invoke passes (COleControl passes itself as COleControl*).
using DispHandler = void (*)(void* object, DispCall& call);

struct DispParam {
  const wchar_t* name;
  VARTYPE type;  // VT_UI1, VT_UI2, VT_I4, VT_UI4, VT_BOOL, VT_BSTR, VT_UI1|VT_BYREF or VT_VARIANT
};

struct DispMember {
  const wchar_t* name;
  DISPID dispid;
  const DispParam* params;
  std::size_t param_count;
  VARTYPE result;  // VT_EMPTY for none, VT_BOOL, VT_UI1, VT_BSTR or VT_VARIANT
  DispHandler handler;
};

class DispatchTable {
 public:
  // `members` must outlive the table (a static array).
  DispatchTable(const DispMember* members, std::size_t count) : members_(members), count_(count) {}

  const DispMember* Find(DISPID dispid) const;
  const DispMember* Find(const wchar_t* name) const;
  std::size_t size() const { return count_; }
  const DispMember& operator[](std::size_t i) const { return members_[i]; }

  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, DISPID* ids) const;
  // The whole of IDispatch::Invoke for `object`. The caller establishes the module state.
  HRESULT Invoke(void* object, DISPID dispid, REFIID riid, WORD flags, DISPPARAMS* params,
                 VARIANT* result, EXCEPINFO* excep, UINT* arg_err) const;

 private:
  const DispMember* members_;
  std::size_t count_;
};

}  // namespace ole
