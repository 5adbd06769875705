// The type library as a host reads it from the OCX's resource: library attributes, the two
// dispatch interfaces member by member (the methods against the control's own dispatch table),
// and the coclass.
#include <oaidl.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "control/identity.h"
#include "control/qel_vantorix_ctrl.h"
#include "ole/dispatch_table.h"
#include "registration_support.h"

namespace {

struct Param {
  const wchar_t* name;
  VARTYPE type;
};

struct Member {
  const wchar_t* name;
  MEMBERID id;
  VARTYPE result;
  std::vector<Param> params;
};

// The control's dispatch table, row by row, as the type library must describe it: what a host
// reads from the library has to be what IDispatch answers to.
std::vector<Member> DispatchMembers() {
  const ole::DispatchTable& table = *CQelVantorixActiveXCtrl::Description().dispatch;
  std::vector<Member> members;
  for (std::size_t i = 0; i < table.size(); ++i) {
    const ole::DispMember& row = table[i];
    Member m{row.name, row.dispid, row.result == VT_EMPTY ? VARTYPE{VT_VOID} : row.result, {}};
    for (std::size_t p = 0; p < row.param_count; ++p) {
      m.params.push_back({row.params[p].name, row.params[p].type});
    }
    members.push_back(std::move(m));
  }
  return members;
}

VARTYPE TypeOf(const TYPEDESC& desc) {
  if (desc.vt == VT_PTR) return VT_BYREF | desc.lptdesc->vt;
  return desc.vt;
}

std::wstring Text(BSTR b) {
  std::wstring s = b != nullptr ? std::wstring(b, SysStringLen(b)) : L"<none>";
  SysFreeString(b);
  return s;
}

class TypeLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(LoadTypeLib(regtest::OcxPath(), &lib_), S_OK) << "no TYPELIB 1 in the OCX";
  }
  void TearDown() override {
    if (lib_ != nullptr) lib_->Release();
  }

  ITypeInfo* Info(UINT index) {
    ITypeInfo* info = nullptr;
    EXPECT_EQ(lib_->GetTypeInfo(index, &info), S_OK);
    return info;
  }

  // Name and help string of a type (index) or of the library (-1).
  std::pair<std::wstring, std::wstring> Documentation(INT index) {
    BSTR name = nullptr;
    BSTR doc = nullptr;
    EXPECT_EQ(lib_->GetDocumentation(index, &name, &doc, nullptr, nullptr), S_OK);
    return {Text(name), Text(doc)};
  }

  // Checks one dispatch interface against `members`, in order. When `described`, methods with
  // parameters, and every member from DISPID 100 on, carry "method <name>" as help string; no
  // other member carries one.
  void ExpectMembers(ITypeInfo* info, const std::vector<Member>& members, bool described) {
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->cVars, 0) << "no properties";
    ASSERT_EQ(attr->cFuncs, members.size());
    info->ReleaseTypeAttr(attr);
    for (UINT i = 0; i < members.size(); ++i) {
      const Member& m = members[i];
      SCOPED_TRACE(testing::Message() << "member " << i);
      FUNCDESC* func = nullptr;
      ASSERT_EQ(info->GetFuncDesc(i, &func), S_OK);
      EXPECT_EQ(func->memid, m.id);
      EXPECT_EQ(func->funckind, FUNC_DISPATCH);
      EXPECT_EQ(func->invkind, INVOKE_FUNC);
      EXPECT_EQ(func->wFuncFlags, 0);
      EXPECT_EQ(func->cParamsOpt, 0);
      EXPECT_EQ(TypeOf(func->elemdescFunc.tdesc), m.result);
      ASSERT_EQ(func->cParams, static_cast<SHORT>(m.params.size()));
      for (SHORT p = 0; p < func->cParams; ++p) {
        EXPECT_EQ(TypeOf(func->lprgelemdescParam[p].tdesc), m.params[p].type) << "param " << p;
        EXPECT_EQ(func->lprgelemdescParam[p].paramdesc.wParamFlags, 0) << "param " << p;
      }
      BSTR names[8] = {};
      UINT count = 0;
      ASSERT_EQ(info->GetNames(func->memid, names, 8, &count), S_OK);
      ASSERT_EQ(count, m.params.size() + 1);
      EXPECT_EQ(Text(names[0]), m.name);
      for (UINT p = 1; p < count; ++p) EXPECT_EQ(Text(names[p]), m.params[p - 1].name);
      BSTR doc = nullptr;
      ASSERT_EQ(info->GetDocumentation(func->memid, nullptr, &doc, nullptr, nullptr), S_OK);
      const std::wstring expected_doc = (m.params.empty() && m.id < 100) || !described
                                            ? L"<none>"
                                            : std::wstring(L"method ") + m.name;
      std::wstring doc_text = Text(doc);
      if (doc_text.empty()) doc_text = L"<none>";
      EXPECT_EQ(doc_text, expected_doc);
      info->ReleaseFuncDesc(func);
    }
  }

  ITypeLib* lib_ = nullptr;
};

TEST_F(TypeLibrary, LibraryAttributes) {
  TLIBATTR* attr = nullptr;
  ASSERT_EQ(lib_->GetLibAttr(&attr), S_OK);
  EXPECT_TRUE(IsEqualGUID(attr->guid, qvx::kLibId));
  EXPECT_EQ(attr->wMajorVerNum, 1);
  EXPECT_EQ(attr->wMinorVerNum, 8);
  EXPECT_EQ(attr->lcid, 0u);
  EXPECT_EQ(attr->wLibFlags & ~LIBFLAG_FHASDISKIMAGE, LIBFLAG_FCONTROL);
  EXPECT_EQ(attr->syskind, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
  lib_->ReleaseTLibAttr(attr);
  BSTR help_file = nullptr;
  ASSERT_EQ(lib_->GetDocumentation(-1, nullptr, nullptr, nullptr, &help_file), S_OK);
  EXPECT_EQ(Text(help_file), L"QelVantorixActiveX.hlp");
  const auto doc = Documentation(-1);
  EXPECT_EQ(doc.first, L"QelVantorixActiveXLib");
  EXPECT_EQ(doc.second, L"QelVantorixActiveX ActiveX Control module");
  EXPECT_EQ(lib_->GetTypeInfoCount(), 3u);
}

TEST_F(TypeLibrary, TypesInOrderWithTheirFlagsAndHelpStrings) {
  struct Expected {
    const wchar_t* name;
    const GUID* guid;
    TYPEKIND kind;
    WORD flags;
    const wchar_t* doc;
  };
  const ole::ControlDescription& control = CQelVantorixActiveXCtrl::Description();
  const Expected types[] = {
      {L"_DQelVantorixActiveX", control.dispatch_iid, TKIND_DISPATCH, TYPEFLAG_FDISPATCHABLE,
       L"Dispatch interface for QelVantorixActiveX Control"},
      {L"_DQelVantorixActiveXEvents", control.events_iid, TKIND_DISPATCH, TYPEFLAG_FDISPATCHABLE,
       L"Event interface for QelVantorixActiveX Control"},
      {L"QelVantorixActiveX", control.clsid, TKIND_COCLASS, TYPEFLAG_FCANCREATE | TYPEFLAG_FCONTROL,
       L"QelVantorixActiveX Control"},
  };
  for (UINT i = 0; i < ARRAYSIZE(types); ++i) {
    SCOPED_TRACE(testing::Message() << "type " << i);
    ITypeInfo* info = Info(i);
    ASSERT_NE(info, nullptr);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_TRUE(IsEqualGUID(attr->guid, *types[i].guid));
    EXPECT_EQ(attr->typekind, types[i].kind);
    EXPECT_EQ(attr->wTypeFlags, types[i].flags);
    info->ReleaseTypeAttr(attr);
    info->Release();
    const auto doc = Documentation(static_cast<INT>(i));
    EXPECT_EQ(doc.first, types[i].name);
    EXPECT_EQ(doc.second, types[i].doc);
  }
}

TEST_F(TypeLibrary, DispatchInterfaceMembersInTableOrder) {
  ITypeInfo* info = Info(0);
  ASSERT_NE(info, nullptr);
  ExpectMembers(info, DispatchMembers(), true);
  info->Release();
}

TEST_F(TypeLibrary, EventInterfaceHasOnlyEventPlug) {
  ITypeInfo* info = Info(1);
  ASSERT_NE(info, nullptr);
  const std::vector<Member> events = {{L"EVENT_PLUG", 1, VT_VOID, {{L"fConnected", VT_BOOL}}}};
  ExpectMembers(info, events, false);
  info->Release();
}

TEST_F(TypeLibrary, CoclassImplementsTheDefaultInterfaceAndTheDefaultSource) {
  ITypeInfo* info = Info(2);
  ASSERT_NE(info, nullptr);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  ASSERT_EQ(attr->cImplTypes, 2);
  info->ReleaseTypeAttr(attr);
  struct Impl {
    const GUID* iid;
    INT flags;
  };
  const ole::ControlDescription& control = CQelVantorixActiveXCtrl::Description();
  const Impl impls[] = {{control.dispatch_iid, IMPLTYPEFLAG_FDEFAULT},
                        {control.events_iid, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE}};
  for (UINT i = 0; i < 2; ++i) {
    INT flags = -1;
    ASSERT_EQ(info->GetImplTypeFlags(i, &flags), S_OK);
    EXPECT_EQ(flags, impls[i].flags) << i;
    HREFTYPE ref = 0;
    ASSERT_EQ(info->GetRefTypeOfImplType(i, &ref), S_OK);
    ITypeInfo* impl = nullptr;
    ASSERT_EQ(info->GetRefTypeInfo(ref, &impl), S_OK);
    TYPEATTR* impl_attr = nullptr;
    ASSERT_EQ(impl->GetTypeAttr(&impl_attr), S_OK);
    EXPECT_TRUE(IsEqualGUID(impl_attr->guid, *impls[i].iid)) << i;
    impl->ReleaseTypeAttr(impl_attr);
    impl->Release();
  }
  info->Release();
}

}  // namespace
