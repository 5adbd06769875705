// The framework's dispatch table and event connection point, on a small control of the test's
// own: the arguments a handler receives, a handler's failures, and event firing.
#include <gtest/gtest.h>
#include <olectl.h>

#include <new>
#include <stdexcept>
#include <vector>

#include "dispatch_support.h"
#include "ole/object_factory.h"
#include "ole/ole_control.h"

namespace dispatch_test {
namespace {

// {6E5D6F58-8E0C-4E51-9D0E-0B1E2A6E6A01} and neighbours: test-only identifiers.
constexpr GUID kTestClsid = {
    0x6e5d6f58, 0x8e0c, 0x4e51, {0x9d, 0x0e, 0x0b, 0x1e, 0x2a, 0x6e, 0x6a, 0x01}};
constexpr GUID kTestDiid = {
    0x6e5d6f58, 0x8e0c, 0x4e51, {0x9d, 0x0e, 0x0b, 0x1e, 0x2a, 0x6e, 0x6a, 0x02}};
constexpr GUID kTestEvents = {
    0x6e5d6f58, 0x8e0c, 0x4e51, {0x9d, 0x0e, 0x0b, 0x1e, 0x2a, 0x6e, 0x6a, 0x03}};

struct Seen {
  long a = 0;
  unsigned b = 0;
  VARTYPE c_type = VT_ILLEGAL;
  HRESULT c_error = S_OK;
  int flag = -1;
};

class TestControl : public ole::COleControl {
 public:
  TestControl() : COleControl(Description()) {}
  static const ole::ControlDescription& Description();
  DWORD MiscStatus() const override { return 0; }  // never embedded in a container here

  void Echo(ole::DispCall& call) {
    seen.a = call.I4(0);
    seen.b = call.U2(1);
    seen.c_type = V_VT(call.Var(2));
    seen.c_error = seen.c_type == VT_ERROR ? V_ERROR(call.Var(2)) : S_OK;
    call.ReturnU1(static_cast<std::uint8_t>(seen.a + seen.b));
  }
  void Flag(ole::DispCall& call) {
    seen.flag = call.Bool(0);
    call.ReturnBool(seen.flag ? 2 : 0);
  }
  void Fail(ole::DispCall&) { throw std::runtime_error("broken"); }
  void Oom(ole::DispCall&) { throw std::bad_alloc(); }
  void Explain(ole::DispCall&) { throw ole::DispatchError{L"because"}; }
  void Fire(ole::DispCall& call) {
    VARIANT arg;
    V_VT(&arg) = VT_BOOL;
    V_BOOL(&arg) = call.Bool(0) ? VARIANT_TRUE : VARIANT_FALSE;
    DISPPARAMS params = {&arg, nullptr, 1, 0};
    FireEvent(1, &params);
  }

  Seen seen;
};

// The table's rows take free functions; these reach the member functions.
template <void (TestControl::*F)(ole::DispCall&)>
void Member(TestControl& control, ole::DispCall& call) {
  (control.*F)(call);
}
template <void (TestControl::*F)(ole::DispCall&)>
constexpr ole::DispHandler kRow = ole::ControlRow<TestControl, &Member<F>>;

constexpr ole::DispParam kEchoParams[] = {{L"a", VT_I4}, {L"b", VT_UI2}, {L"c", VT_VARIANT}};
constexpr ole::DispParam kFlagParams[] = {{L"on", VT_BOOL}};
const ole::DispMember kMembers[] = {
    {L"Echo", 1, kEchoParams, 3, VT_UI1, kRow<&TestControl::Echo>},
    {L"Flag", 2, kFlagParams, 1, VT_BOOL, kRow<&TestControl::Flag>},
    {L"Fail", 3, nullptr, 0, VT_EMPTY, kRow<&TestControl::Fail>},
    {L"Oom", 4, nullptr, 0, VT_EMPTY, kRow<&TestControl::Oom>},
    {L"Explain", 5, nullptr, 0, VT_EMPTY, kRow<&TestControl::Explain>},
    {L"Fire", 6, kFlagParams, 1, VT_EMPTY, kRow<&TestControl::Fire>},
};
const ole::DispatchTable kTable(kMembers, ARRAYSIZE(kMembers));

const ole::ControlDescription& TestControl::Description() {
  static const ole::ControlDescription d = {&kTestClsid, &kTestDiid, &kTestEvents, &kTable};
  return d;
}

// An event sink recording what it hears; it can be told to fail.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class Sink : public IDispatch {
 public:
  Sink(std::vector<int>* log, int id, HRESULT answer) : log_(log), id_(id), answer_(answer) {}
  virtual ~Sink() = default;
  IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
        IsEqualIID(riid, kTestEvents)) {
      *ppv = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  IFACEMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  IFACEMETHODIMP_(ULONG) Release() override { return --refs; }  // lives on the stack
  IFACEMETHODIMP GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
  IFACEMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  IFACEMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  IFACEMETHODIMP Invoke(DISPID dispid, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT*,
                        EXCEPINFO* excep, UINT*) override {
    EXPECT_EQ(dispid, 1);
    EXPECT_EQ(flags, DISPATCH_METHOD);
    EXPECT_EQ(params->cArgs, 1u);
    EXPECT_EQ(V_VT(&params->rgvarg[0]), VT_BOOL);
    log_->push_back(id_ * 10 + (V_BOOL(&params->rgvarg[0]) == VARIANT_TRUE ? 1 : 0));
    if (FAILED(answer_) && excep) excep->bstrDescription = SysAllocString(L"sink failed");
    return answer_;
  }
  ULONG refs = 1;

 private:
  std::vector<int>* log_;
  int id_;
  HRESULT answer_;
};

struct Plain : IUnknown {
  virtual ~Plain() = default;
  IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    *ppv = IsEqualIID(riid, IID_IUnknown) ? this : nullptr;
    return *ppv ? S_OK : E_NOINTERFACE;
  }
  IFACEMETHODIMP_(ULONG) AddRef() override { return 2; }
  IFACEMETHODIMP_(ULONG) Release() override { return 1; }
};
#pragma GCC diagnostic pop

class FrameworkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    control_ = new TestControl;
    ASSERT_EQ(ole::CreateAndQuery(control_, IID_IDispatch, disp_.PutVoid()), S_OK);
    ASSERT_EQ(cpc_.QueryFrom(disp_.Get(), IID_IConnectionPointContainer), S_OK);
    ASSERT_EQ(cpc_->FindConnectionPoint(kTestEvents, cp_.Put()), S_OK);
  }
  template <class... A>
  CallResult Do(DISPID dispid, A&&... a) {
    std::vector<ole::Variant> args;
    (args.push_back(std::forward<A>(a)), ...);
    return Call(disp_.Get(), dispid, args);
  }

  // Connects `sink` to the test events; its cookie.
  DWORD Connect(Sink& sink) {
    DWORD cookie = 0;
    EXPECT_EQ(cp_->Advise(static_cast<IDispatch*>(&sink), &cookie), S_OK);
    return cookie;
  }

  TestControl* control_ = nullptr;
  ole::ComPtr<IDispatch> disp_;
  ole::ComPtr<IConnectionPointContainer> cpc_;
  ole::ComPtr<IConnectionPoint> cp_;  // the test events'
};

TEST_F(FrameworkTest, HandlersSeeArgumentsLeftToRightConverted) {
  CallResult r = Do(1, Str(L"40"), R8(2.0), I4(9));
  ASSERT_EQ(r.hr, S_OK);
  EXPECT_EQ(control_->seen.a, 40);
  EXPECT_EQ(control_->seen.b, 2u);
  EXPECT_EQ(control_->seen.c_type, VT_I4);
  ASSERT_EQ(r.value.Type(), VT_UI1);
  EXPECT_EQ(V_UI1(r.value.Get()), 42);
}

TEST_F(FrameworkTest, ScriptVariablesByReferenceAreConvertedThroughTheReference) {
  ole::Variant a = Str(L"7"), b = R8(3.0), c = I4(1);
  CallResult r = Do(1, VariantRef(a.Get()), VariantRef(b.Get()), VariantRef(c.Get()));
  ASSERT_EQ(r.hr, S_OK);
  EXPECT_EQ(control_->seen.a, 7);
  EXPECT_EQ(control_->seen.b, 3u);
  // A VT_VARIANT parameter gets the reference itself, untouched.
  EXPECT_EQ(control_->seen.c_type, VT_BYREF | VT_VARIANT);
}

TEST_F(FrameworkTest, AMissingTrailingVariantArrivesAsParamNotFound) {
  ASSERT_EQ(Do(1, I4(1), I4(2)).hr, S_OK);
  EXPECT_EQ(control_->seen.c_type, VT_ERROR);
  EXPECT_EQ(control_->seen.c_error, DISP_E_PARAMNOTFOUND);
  CallResult r = Do(1, I4(1));
  EXPECT_EQ(r.hr, DISP_E_PARAMNOTOPTIONAL);
}

TEST_F(FrameworkTest, BoolArgumentsArriveAsOneOrZeroAndResultsLeaveAsMinusOneOrZero) {
  for (auto [make, flag] : {std::pair<ole::Variant (*)(), int>{[] { return Bool(true); }, 1},
                            {[] { return I4(7); }, 1},
                            {[] { return I2(-1); }, 1},
                            {[] { return Bool(false); }, 0},
                            {[] { return R8(0.0); }, 0}}) {
    CallResult r = Do(2, make());
    ASSERT_EQ(r.hr, S_OK);
    EXPECT_EQ(control_->seen.flag, flag);
    ASSERT_EQ(r.value.Type(), VT_BOOL);
    EXPECT_EQ(V_BOOL(r.value.Get()), flag ? VARIANT_TRUE : VARIANT_FALSE);
  }
}

TEST_F(FrameworkTest, HandlerFailuresBecomeExceptionsWithTheirCodes) {
  struct Case {
    DISPID dispid;
    WORD wcode;
    const wchar_t* description;
  };
  for (Case c : {Case{3, 0xF108, nullptr}, Case{4, 0xF10A, nullptr}, Case{5, 0, L"because"}}) {
    SCOPED_TRACE(c.dispid);
    CallResult r = Do(c.dispid);
    EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(r.excep.wCode, c.wcode);
    if (c.description) {
      ASSERT_NE(r.excep.bstrDescription, nullptr);
      EXPECT_STREQ(r.excep.bstrDescription, c.description);
      EXPECT_NE(r.excep.scode, S_OK);
    } else {
      EXPECT_EQ(r.excep.bstrDescription, nullptr);
    }
  }
  // And no EXCEPINFO at all is fine.
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  EXPECT_EQ(disp_->Invoke(3, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
            DISP_E_EXCEPTION);
}

TEST_F(FrameworkTest, EventsReachEverySinkInOrderPastAFailingOne) {
  std::vector<int> log;
  Sink failing(&log, 1, E_FAIL), good(&log, 2, S_OK), third(&log, 3, DISP_E_EXCEPTION);
  const DWORD c1 = Connect(failing), c2 = Connect(good), c3 = Connect(third);
  EXPECT_NE(c1, 0u);
  EXPECT_NE(c1, c2);

  ole::ComPtr<IEnumConnections> connections;
  ASSERT_EQ(cp_->EnumConnections(connections.Put()), S_OK);
  CONNECTDATA data[4] = {};
  ULONG fetched = 0;
  EXPECT_EQ(connections->Next(4, data, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 3u);
  EXPECT_EQ(data[0].dwCookie, c1);
  EXPECT_EQ(data[2].dwCookie, c3);
  for (ULONG i = 0; i < fetched; ++i) data[i].pUnk->Release();
  connections.Reset();

  ASSERT_EQ(Do(6, Bool(true)).hr, S_OK);
  EXPECT_EQ(log, (std::vector<int>{11, 21, 31}));
  log.clear();
  ASSERT_EQ(cp_->Unadvise(c2), S_OK);
  EXPECT_EQ(cp_->Unadvise(c2), CONNECT_E_NOCONNECTION);
  ASSERT_EQ(Do(6, Bool(false)).hr, S_OK);
  EXPECT_EQ(log, (std::vector<int>{10, 30}));

  ASSERT_EQ(cp_->Unadvise(c1), S_OK);
  ASSERT_EQ(cp_->Unadvise(c3), S_OK);
  EXPECT_EQ(failing.refs, 1u);
  EXPECT_EQ(good.refs, 1u);
  EXPECT_EQ(third.refs, 1u);
}

// The enumerator walks the connections as they stood when it was made: a sink that leaves
// meanwhile is still listed (and held) until the enumerator goes; a clone starts where its
// original stands.
TEST_F(FrameworkTest, TheConnectionListIsASnapshotThatSkipsResetsAndClones) {
  std::vector<int> log;
  Sink a(&log, 1, S_OK), b(&log, 2, S_OK), c(&log, 3, S_OK);
  const DWORD cookies[3] = {Connect(a), Connect(b), Connect(c)};

  ole::ComPtr<IEnumConnections> walk;
  ASSERT_EQ(cp_->EnumConnections(walk.Put()), S_OK);
  ASSERT_EQ(cp_->Unadvise(cookies[1]), S_OK);
  EXPECT_EQ(b.refs, 2u);  // the snapshot's reference

  ole::ComPtr<IEnumConnections> clone;
  struct Step {
    const char* what;
    bool on_clone;
    ULONG skip;  // Skip(skip) first, when not 0
    HRESULT skip_hr;
    bool reset;        // then Reset()
    HRESULT next_hr;   // then Next(1)
    int cookie_index;  // the connection it hands out, -1 for none
  };
  ASSERT_EQ(walk->Skip(1), S_OK);
  ASSERT_EQ(walk->Clone(clone.Put()), S_OK);
  const Step steps[] = {
      {"the clone starts at the original's place", true, 0, S_OK, false, S_OK, 1},
      {"the original did not move with it", false, 0, S_OK, false, S_OK, 1},
      {"the last one", false, 0, S_OK, false, S_OK, 2},
      {"past the end", false, 0, S_OK, false, S_FALSE, -1},
      {"skipping past the end stops there", true, 5, S_FALSE, false, S_FALSE, -1},
      {"reset starts again", true, 0, S_OK, true, S_OK, 0},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    IEnumConnections* e = step.on_clone ? clone.Get() : walk.Get();
    if (step.skip != 0) {
      EXPECT_EQ(e->Skip(step.skip), step.skip_hr);
    }
    if (step.reset) {
      EXPECT_EQ(e->Reset(), S_OK);
    }
    CONNECTDATA data{};
    ULONG fetched = 7;
    EXPECT_EQ(e->Next(1, &data, &fetched), step.next_hr);
    if (step.cookie_index < 0) {
      EXPECT_EQ(fetched, 0u);
    } else {
      ASSERT_EQ(fetched, 1u);
      EXPECT_EQ(data.dwCookie, cookies[step.cookie_index]);
      data.pUnk->Release();
    }
  }
  CONNECTDATA two[2] = {};
  EXPECT_EQ(walk->Next(2, two, nullptr), E_POINTER);

  walk.Reset();
  clone.Reset();
  EXPECT_EQ(b.refs, 1u);
  ASSERT_EQ(cp_->Unadvise(cookies[0]), S_OK);
  ASSERT_EQ(cp_->Unadvise(cookies[2]), S_OK);
  EXPECT_EQ(a.refs, 1u);
  EXPECT_EQ(c.refs, 1u);
}

TEST_F(FrameworkTest, ASinkWithoutTheEventInterfaceCannotConnect) {
  ole::ComPtr<IConnectionPointContainer> back;
  ASSERT_EQ(cp_->GetConnectionPointContainer(back.Put()), S_OK);
  EXPECT_EQ(back.Get(), cpc_.Get());
  // An object with neither the event interface nor IDispatch is refused.
  Plain plain;
  DWORD cookie = 99;
  EXPECT_EQ(cp_->Advise(&plain, &cookie), CONNECT_E_CANNOTCONNECT);
  EXPECT_EQ(cookie, 0u);
}

class PlainFactory : public ole::COleObjectFactory {
 public:
  PlainFactory() : COleObjectFactory(CLSID_NULL, nullptr, false, nullptr) {}
  BOOL UpdateRegistry(BOOL) override { return TRUE; }
};

TEST(FactoryLocks, AnUnlockWithoutItsLockLeavesTheModuleCountAlone) {
  PlainFactory factory;
  const LONG live = ole::LiveObjectCount();
  EXPECT_EQ(factory.LockServer(FALSE), S_OK);
  EXPECT_EQ(ole::LiveObjectCount(), live);
  ASSERT_EQ(factory.LockServer(TRUE), S_OK);
  EXPECT_EQ(ole::LiveObjectCount(), live + 1);
  ASSERT_EQ(factory.LockServer(FALSE), S_OK);
  EXPECT_EQ(factory.LockServer(FALSE), S_OK);
  EXPECT_EQ(ole::LiveObjectCount(), live);
}

}  // namespace
}  // namespace dispatch_test
