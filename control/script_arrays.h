// Conversions between script arrays and byte runs.
//
// Returned arrays are one-dimensional SAFEARRAYs of VARIANTs with lower bound 0, created once
// with their final size; a run of no elements is returned as VT_EMPTY instead.
//
// Accepted arrays: VT_ARRAY|VT_UI1; VT_ARRAY|VT_VARIANT whose elements convert to a byte
// 0..255 (VBScript arrays, and what the read methods return); either by reference; and a
// JScript array (an object with "length" and members "0", "1", ...). Anything else is refused
// with DISP_E_TYPEMISMATCH before a byte is used: among them arrays whose VARTYPE is another
// (whatever their element size) and by-reference VARIANTs that point nowhere.
//
// At most kMaxArrayArgument elements are taken. A longer array is refused from its recorded
// length alone, before anything is allocated or a single element fetched: a JScript object may
// claim any length, and each element costs a call into it.
#pragma once

#include <oaidl.h>
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "board/protocol.h"
#include "ole/raii.h"

namespace control {

// Throws std::bad_alloc when an array of `count` elements cannot be created.
ole::Variant MakeByteArray(const std::uint8_t* bytes, std::size_t count);
ole::Variant MakeWordArray(const std::uint16_t* words, std::size_t count);
ole::Variant MakeLongArray(const std::int32_t* values, std::size_t count);
// Elements VT_BSTR. Throws std::bad_alloc also when a string cannot be allocated.
ole::Variant MakeStringArray(const std::vector<std::wstring>& texts);

// Whether an array of `count` VARIANT elements can be asked for at all; callers check it before
// anything else so that an impossible count sends nothing to the board.
bool ArraySizeIsPossible(std::size_t count);

// The most elements an array argument may have: a transfer's count field is 16 bits.
inline constexpr std::size_t kMaxArrayArgument = board::kMaxTransferCount;

// Throws ole::DispatchError (DISP_E_EXCEPTION, E_INVALIDARG, a description naming `method`)
// for a count above kMaxArrayArgument.
[[noreturn]] void RefuseCount(const wchar_t* method, std::size_t count);

// A script array argument, checked for its shape when constructed. Throws ole::ArgumentError
// for parameter `param_index` when it is unusable (DISP_E_PARAMNOTOPTIONAL when the argument
// was left out), and refuses more than kMaxArrayArgument elements with RefuseCount(method).
class ByteArrayArgument {
 public:
  ByteArrayArgument(const VARIANT* arg, std::size_t param_index, const wchar_t* method);

  std::size_t Count() const { return count_; }
  // Converts the elements into out[0..Count()-1]; throws ole::ArgumentError on an element
  // that is not a byte.
  void CopyTo(std::uint8_t* out) const;

 private:
  void CopyFromDispatch(std::uint8_t* out) const;
  [[noreturn]] void Refuse(HRESULT hr = DISP_E_TYPEMISMATCH) const;

  std::size_t param_index_;
  SAFEARRAY* array_ = nullptr;  // borrowed from the argument
  VARTYPE element_type_ = VT_EMPTY;
  IDispatch* script_array_ = nullptr;  // borrowed from the argument
  std::size_t count_ = 0;
};

}  // namespace control
