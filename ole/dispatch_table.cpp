#include "ole/dispatch_table.h"

#include <cwchar>
#include <new>

namespace ole {
namespace {

bool SameName(const wchar_t* a, const wchar_t* b) {
  return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

void FillException(EXCEPINFO* excep, WORD code, HRESULT scode, const wchar_t* description) {
  if (!excep) return;
  *excep = EXCEPINFO{};
  excep->wCode = code;
  excep->scode = code ? 0 : scode;
  if (description && *description) excep->bstrDescription = SysAllocString(description);
}

// Whether the call being served arrived through COM's channel (marshalled from another
// apartment or process) rather than directly from a caller in this apartment.
bool CallCameThroughChannel() {
  IUnknown* context = nullptr;
  if (FAILED(CoGetCallContext(IID_IUnknown, reinterpret_cast<void**>(&context))) || !context) {
    return false;
  }
  context->Release();
  return true;
}

// Whether `p` starts a block of the task allocator smaller than `bytes` (see ByteBuffer).
bool TaskBlockSmallerThan(void* p, std::size_t bytes) {
  IMalloc* task_allocator = nullptr;
  if (FAILED(CoGetMalloc(1, &task_allocator)) || !task_allocator) return false;
  const bool smaller = task_allocator->DidAlloc(p) == 1 && task_allocator->GetSize(p) < bytes;
  task_allocator->Release();
  return smaller;
}

// True when `v` is a reference, or a chain of VARIANT references, that ends in a null pointer.
bool EndsNowhere(const VARIANT* v) {
  while (V_VT(v) & VT_BYREF) {
    if (!V_BYREF(v)) return true;
    if (V_VT(v) != (VT_VARIANT | VT_BYREF)) return false;
    v = V_VARIANTREF(v);
  }
  return false;
}

}  // namespace

// A by-reference byte (VT_UI1|VT_BYREF) is how a caller hands the methods that read or write
// several bytes its buffer: the first byte's address, with the rest following it. That holds for
// a caller in this apartment only. The standard marshaller knows nothing of the rest: it carries
// one byte, and the stub on this side unmarshals it into a block of one byte, whatever the
// caller had; writing or reading past it would overrun the stub's memory, not the caller's.
// Nothing in the call says how large the caller's buffer is, so a buffer of more than one byte
// is refused (type mismatch on that argument) when either sign of marshalling is seen:
//  - the call came through COM's channel (a call context exists: another apartment or process);
//  - the pointer starts a task-allocator block smaller than the buffer (a stub's block, for
//    callers whose channel sets no call context).
// A caller in this apartment passing its own memory is not a task block, or one large enough.
// Wine 8 sets no call context for a call from another apartment, so there the second check is
// the one that refuses: without it the method writes past the stub's block, Wine's heap finds
// the block's header overwritten when the stub frees it, and the cross-apartment test fails or
// hangs on the damaged heap.
std::uint8_t* DispCall::ByteBuffer(std::size_t i, std::size_t bytes) const {
  std::uint8_t* buffer = ByteRef(i);
  if (bytes > 1 && (CallCameThroughChannel() || TaskBlockSmallerThan(buffer, bytes))) {
    throw ArgumentError{i, DISP_E_TYPEMISMATCH};
  }
  return buffer;
}

const DispMember* DispatchTable::Find(DISPID dispid) const {
  for (std::size_t i = 0; i < count_; ++i) {
    if (members_[i].dispid == dispid) return &members_[i];
  }
  return nullptr;
}

const DispMember* DispatchTable::Find(const wchar_t* name) const {
  for (std::size_t i = 0; i < count_; ++i) {
    if (SameName(members_[i].name, name)) return &members_[i];
  }
  return nullptr;
}

HRESULT DispatchTable::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, DISPID* ids) const {
  if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (count == 0) return S_OK;
  if (!names || !ids) return E_POINTER;
  for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  const DispMember* member = names[0] ? Find(names[0]) : nullptr;
  if (!member) return DISP_E_UNKNOWNNAME;
  ids[0] = member->dispid;
  HRESULT hr = S_OK;
  // Named arguments take their parameter's index as identifier.
  for (UINT i = 1; i < count; ++i) {
    for (std::size_t p = 0; p < member->param_count; ++p) {
      if (names[i] && SameName(member->params[p].name, names[i])) {
        ids[i] = static_cast<DISPID>(p);
        break;
      }
    }
    if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

void DispCall::ReturnStr(const std::wstring& value) {
  const BSTR text = SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
  if (!text) throw std::bad_alloc();
  VARIANT* out = result_.Put();
  V_VT(out) = VT_BSTR;
  V_BSTR(out) = text;
}

HRESULT DispatchTable::Invoke(void* object, DISPID dispid, REFIID riid, WORD flags,
                              DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                              UINT* arg_err) const {
  if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  const DispMember* member = Find(dispid);
  if (!member) return DISP_E_MEMBERNOTFOUND;
  // Every member is a method; hosts call methods as METHOD|PROPERTYGET or as PROPERTYGET
  // alone (VBScript without parentheses), so both are methods here.
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) return DISP_E_MEMBERNOTFOUND;
  if (!(flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET))) return DISP_E_MEMBERNOTFOUND;

  DISPPARAMS none{};
  if (!params) params = &none;
  if (params->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
  const std::size_t supplied = params->cArgs;
  // Too many: the first argument past the last parameter, as its place in DISPPARAMS.
  if (supplied > member->param_count) {
    if (arg_err) *arg_err = static_cast<UINT>(supplied - 1 - member->param_count);
    return DISP_E_BADPARAMCOUNT;
  }
  if (supplied && !params->rgvarg) return E_INVALIDARG;
  // Too few: the first parameter missing, as its place in a call that gave them all.
  for (std::size_t i = supplied; i < member->param_count; ++i) {
    if (member->params[i].type != VT_VARIANT) {
      if (arg_err) *arg_err = static_cast<UINT>(member->param_count - 1 - i);
      return DISP_E_PARAMNOTOPTIONAL;
    }
  }

  DispCall call;
  call.member_ = member->name;
  Variant missing;
  V_VT(missing.Get()) = VT_ERROR;
  V_ERROR(missing.Get()) = DISP_E_PARAMNOTFOUND;
  // DISPPARAMS holds the arguments right to left: parameter i sits at supplied - 1 - i.
  auto position = [supplied](std::size_t i) { return static_cast<UINT>(supplied - 1 - i); };
  for (std::size_t i = 0; i < member->param_count; ++i) {
    const VARTYPE want = member->params[i].type;
    if (i >= supplied) {
      call.args_[i] = missing.Get();
      continue;
    }
    VARIANT* arg = &params->rgvarg[position(i)];
    if (want == VT_VARIANT || V_VT(arg) == want) {
      // A reference that points nowhere cannot be read or written.
      if ((want & VT_BYREF) && !V_BYREF(arg)) {
        if (arg_err) *arg_err = position(i);
        return DISP_E_TYPEMISMATCH;
      }
      call.args_[i] = arg;
      continue;
    }
    HRESULT hr = DISP_E_TYPEMISMATCH;
    // A conversion follows references to the end, and a reference that points nowhere would be
    // read (Wine's VariantCopyInd dies on one): it is a type mismatch instead.
    if (!(want & VT_BYREF) && !EndsNowhere(arg)) {
      hr = VariantChangeType(call.converted_[i].Put(), arg, 0, want);
    }
    if (FAILED(hr)) {
      if (arg_err) *arg_err = position(i);
      return hr;
    }
    call.args_[i] = call.converted_[i].Get();
  }

  try {
    member->handler(object, call);
  } catch (const std::bad_alloc&) {
    FillException(excep, kExcepCodeOutOfMemory, 0, nullptr);
    return DISP_E_EXCEPTION;
  } catch (const ArgumentError& e) {
    if (arg_err && e.index < supplied) *arg_err = position(e.index);
    return e.hr;
  } catch (const DispatchError& e) {
    FillException(excep, 0, e.scode, e.description.c_str());
    return DISP_E_EXCEPTION;
  } catch (...) {
    FillException(excep, kExcepCodeFailure, 0, nullptr);
    return DISP_E_EXCEPTION;
  }
  if (result) {
    VariantInit(result);
    if (member->result != VT_EMPTY) call.result_.Detach(result);
  }
  return S_OK;
}

}  // namespace ole
