// The control in a container of our own whose sites log every call and refuse anything they do
// not expect: the order of the activation calls, the toolbar hook, flicker-free activation
// through the extended site, the verbs and the property frame.
#include <gtest/gtest.h>

#include <olectl.h>
#include <windows.h>

#include <string>
#include <vector>

#include "container_support.h"
#include "control/identity.h"
#include "dispatch_support.h"

namespace container_test {
namespace {

using dispatch_test::EmulatedOcx;

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
// One object playing client site, in-place site (plain or extended), control site and frame.
// Every call is logged; a call the test did not allow is logged as "UNEXPECTED ...".
class StrictSite : public IOleClientSite,
                   public IOleInPlaceSiteEx,
                   public IOleControlSite,
                   public IOleInPlaceFrame {
 public:
  struct Options {
    bool extended = true;       // offers IOleInPlaceSiteEx
    bool control_site = false;  // offers IOleControlSite
    HRESULT show_property_frame = E_NOTIMPL;
  };

  StrictSite(HWND window, Options options) : window_(window), options_(options) {}
  virtual ~StrictSite() = default;

  std::vector<std::string> log;
  HWND menu_hwnd = reinterpret_cast<HWND>(-1);
  IOleInPlaceActiveObject* active_object = nullptr;
  std::function<void()> on_ui_activate;

  void Unexpected(const char* what) { log.push_back(std::string("UNEXPECTED ") + what); }

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IOleClientSite)) {
      *ppv = static_cast<IOleClientSite*>(this);
    } else if (IsEqualIID(riid, IID_IOleInPlaceSite)) {
      log.push_back("QI IOleInPlaceSite");
      *ppv = static_cast<IOleInPlaceSite*>(static_cast<IOleInPlaceSiteEx*>(this));
    } else if (IsEqualIID(riid, IID_IOleInPlaceSiteEx)) {
      log.push_back("QI IOleInPlaceSiteEx");
      if (options_.extended) *ppv = static_cast<IOleInPlaceSiteEx*>(this);
    } else if (IsEqualIID(riid, IID_IOleControlSite)) {
      log.push_back("QI IOleControlSite");
      if (options_.control_site) *ppv = static_cast<IOleControlSite*>(this);
    }
    // Anything else (ambient IDispatch, windowless site, ...) is simply not offered.
    if (!*ppv) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override { return --refs_; }

  // IOleClientSite
  STDMETHODIMP SaveObject() override { return Refuse("SaveObject"); }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return Refuse("GetMoniker"); }
  STDMETHODIMP GetContainer(IOleContainer**) override { return Refuse("GetContainer"); }
  STDMETHODIMP ShowObject() override { return Refuse("ShowObject"); }
  STDMETHODIMP OnShowWindow(BOOL) override { return Refuse("OnShowWindow"); }
  STDMETHODIMP RequestNewObjectLayout() override { return Refuse("RequestNewObjectLayout"); }

  // IOleWindow (site and frame)
  STDMETHODIMP GetWindow(HWND* hwnd) override {
    log.push_back("GetWindow");
    *hwnd = window_;
    return S_OK;
  }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return Refuse("ContextSensitiveHelp"); }

  // IOleInPlaceSite
  STDMETHODIMP CanInPlaceActivate() override { return Log("CanInPlaceActivate"); }
  STDMETHODIMP OnInPlaceActivate() override { return Log("OnInPlaceActivate"); }
  STDMETHODIMP OnUIActivate() override {
    if (on_ui_activate) on_ui_activate();
    return Log("OnUIActivate");
  }
  STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos,
                                LPRECT clip, LPOLEINPLACEFRAMEINFO info) override {
    log.push_back("GetWindowContext");
    *frame = static_cast<IOleInPlaceFrame*>(this);
    AddRef();
    *doc = nullptr;
    *pos = {5, 5, 107, 37};
    *clip = *pos;
    if (info->cb != sizeof *info) Unexpected("frame info size");
    info->fMDIApp = FALSE;
    info->hwndFrame = window_;
    info->haccel = nullptr;
    info->cAccelEntries = 0;
    return S_OK;
  }
  STDMETHODIMP Scroll(SIZE) override { return Refuse("Scroll"); }
  STDMETHODIMP OnUIDeactivate(BOOL undoable) override {
    return Log(undoable ? "OnUIDeactivate(TRUE)" : "OnUIDeactivate(FALSE)");
  }
  STDMETHODIMP OnInPlaceDeactivate() override { return Log("OnInPlaceDeactivate"); }
  STDMETHODIMP DiscardUndoState() override { return Refuse("DiscardUndoState"); }
  STDMETHODIMP DeactivateAndUndo() override { return Refuse("DeactivateAndUndo"); }
  STDMETHODIMP OnPosRectChange(LPCRECT) override { return Refuse("OnPosRectChange"); }

  // IOleInPlaceSiteEx
  STDMETHODIMP OnInPlaceActivateEx(BOOL* no_redraw, DWORD flags) override {
    log.push_back("OnInPlaceActivateEx(" + std::to_string(flags) + ")");
    *no_redraw = FALSE;
    return S_OK;
  }
  STDMETHODIMP OnInPlaceDeactivateEx(BOOL no_redraw) override {
    return Log(no_redraw ? "OnInPlaceDeactivateEx(TRUE)" : "OnInPlaceDeactivateEx(FALSE)");
  }
  STDMETHODIMP RequestUIActivate() override { return Refuse("RequestUIActivate"); }

  // IOleControlSite
  STDMETHODIMP OnControlInfoChanged() override { return Refuse("OnControlInfoChanged"); }
  STDMETHODIMP LockInPlaceActive(BOOL) override { return Refuse("LockInPlaceActive"); }
  STDMETHODIMP GetExtendedControl(IDispatch**) override { return Refuse("GetExtendedControl"); }
  STDMETHODIMP TransformCoords(POINTL*, POINTF*, DWORD) override {
    return Refuse("TransformCoords");
  }
  STDMETHODIMP TranslateAccelerator(MSG*, DWORD) override { return Refuse("TranslateAccelerator"); }
  STDMETHODIMP OnFocus(BOOL) override { return Refuse("OnFocus"); }
  STDMETHODIMP ShowPropertyFrame() override {
    log.push_back("ShowPropertyFrame");
    return options_.show_property_frame;
  }

  // IOleInPlaceUIWindow, IOleInPlaceFrame
  STDMETHODIMP GetBorder(LPRECT) override { return Refuse("GetBorder"); }
  STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return Refuse("RequestBorderSpace"); }
  STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS widths) override {
    return Log(widths ? "SetBorderSpace(widths)" : "SetBorderSpace(NULL)");
  }
  STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR name) override {
    active_object = object;
    if (!object) return Log("SetActiveObject(NULL)");
    return Log(name && std::wstring(name) == L"QelVantorixActiveX Control"
                   ? "SetActiveObject(control)"
                   : "SetActiveObject(wrong name)");
  }
  STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return Refuse("InsertMenus"); }
  STDMETHODIMP SetMenu(HMENU shared, HOLEMENU ole_menu, HWND hwnd) override {
    menu_hwnd = hwnd;
    return Log(!shared && !ole_menu ? "SetMenu(NULL)" : "SetMenu(menu)");
  }
  STDMETHODIMP RemoveMenus(HMENU) override { return Refuse("RemoveMenus"); }
  STDMETHODIMP SetStatusText(LPCOLESTR) override { return Refuse("SetStatusText"); }
  STDMETHODIMP EnableModeless(BOOL enable) override {
    return Log(enable ? "EnableModeless(TRUE)" : "EnableModeless(FALSE)");
  }
  STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override {
    return Refuse("Frame::TranslateAccelerator");
  }

 private:
  HRESULT Log(const char* what) {
    log.push_back(what);
    return S_OK;
  }
  HRESULT Refuse(const char* what) {
    Unexpected(what);
    return E_NOTIMPL;
  }

  ULONG refs_ = 1;
  HWND window_;
  Options options_;
};
#pragma GCC diagnostic pop

// One container window for the run: Wine waits about a second for every top-level window that
// goes away under an X server without a window manager.
HWND SharedParent() {
  static HWND parent = CreateWindowExW(0, L"STATIC", L"strict container", WS_POPUP | WS_VISIBLE, 0,
                                       0, 200, 100, nullptr, nullptr, nullptr, nullptr);
  return parent;
}

class StrictContainer : public ::testing::Test {
 protected:
  void SetUp() override {
    ocx_.Plug();
    ResetNotificationLog();
    RegisterPageClass();
    parent_ = SharedParent();
    ASSERT_NE(parent_, nullptr) << "no container window: error " << GetLastError();
    control_ = ocx_.CreateControl();
    ASSERT_TRUE(control_);
    ASSERT_EQ(object_.QueryFrom(control_.Get(), IID_IOleObject), S_OK);
  }
  void TearDown() override {
    if (object_) {
      object_->Close(OLECLOSE_NOSAVE);
      object_->SetClientSite(nullptr);
    }
    object_.Reset();
    control_.Reset();
    site_.reset();
    PumpMessages();
  }
  void Embed(StrictSite::Options options) {
    if (site_) object_->SetClientSite(nullptr);  // the control lets go before the site goes
    site_ = std::make_unique<StrictSite>(parent_, options);
    ASSERT_EQ(object_->SetClientSite(site_.get()), S_OK);
    site_->log.clear();
  }
  HRESULT Verb(LONG verb) {
    RECT pos = {5, 5, 107, 37};
    const HRESULT hr = object_->DoVerb(verb, nullptr, site_.get(), 0, parent_, &pos);
    PumpMessages();
    return hr;
  }
  std::vector<std::string> TakeLog() {
    std::vector<std::string> log;
    log.swap(site_->log);
    return log;
  }

  EmulatedOcx& ocx_ = EmulatedOcx::Get();
  HWND parent_ = nullptr;
  ole::ComPtr<IDispatch> control_;
  ole::ComPtr<IOleObject> object_;
  std::unique_ptr<StrictSite> site_;
};

using Log = std::vector<std::string>;

TEST_F(StrictContainer, FlickerFreeActivationGoesThroughTheExtendedSite) {
  Embed({});
  ASSERT_EQ(Verb(OLEIVERB_INPLACEACTIVATE), S_OK);
  EXPECT_EQ(TakeLog(), (Log{"QI IOleInPlaceSiteEx", "CanInPlaceActivate", "OnInPlaceActivateEx(0)",
                            "GetWindow", "GetWindowContext"}));
  EXPECT_EQ(ocx_.OpenHandleCount(), 0u);
  EXPECT_TRUE(Notifications().registered.empty());
  HWND window = ControlWindow(control_.Get());
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(GetParent(window), parent_);
  RECT rect;
  GetWindowRect(window, &rect);
  MapWindowPoints(nullptr, parent_, reinterpret_cast<POINT*>(&rect), 2);
  EXPECT_EQ(rect.left, 5);
  EXPECT_EQ(rect.right, 107);

  ole::ComPtr<IOleInPlaceObject> inplace;
  ASSERT_EQ(inplace.QueryFrom(control_.Get(), IID_IOleInPlaceObject), S_OK);
  ASSERT_EQ(inplace->InPlaceDeactivate(), S_OK);
  EXPECT_EQ(TakeLog(), (Log{"OnInPlaceDeactivateEx(TRUE)"}));
  EXPECT_FALSE(IsWindow(window));
}

TEST_F(StrictContainer, APlainSiteIsActivatedThePlainWay) {
  Embed({/*extended=*/false});
  ASSERT_EQ(Verb(OLEIVERB_INPLACEACTIVATE), S_OK);
  EXPECT_EQ(TakeLog(), (Log{"QI IOleInPlaceSiteEx", "QI IOleInPlaceSite", "CanInPlaceActivate",
                            "OnInPlaceActivate", "GetWindow", "GetWindowContext"}));
}

TEST_F(StrictContainer, UIActivationShowsTheToolbarsAfterTheMenuAndAgainOnDocumentActivation) {
  Embed({});
  ASSERT_EQ(Verb(OLEIVERB_INPLACEACTIVATE), S_OK);
  TakeLog();
  ASSERT_EQ(Verb(OLEIVERB_UIACTIVATE), S_OK);
  EXPECT_EQ(TakeLog(), (Log{"OnUIActivate", "SetActiveObject(control)", "SetMenu(NULL)",
                            "SetBorderSpace(NULL)"}));
  HWND window = ControlWindow(control_.Get());
  EXPECT_EQ(site_->menu_hwnd, window);
  EXPECT_EQ(ocx_.OpenHandleCount(), 1u) << "the toolbar hook opens the board";
  EXPECT_EQ(Notifications().live(), 1);
  ASSERT_NE(site_->active_object, nullptr);

  // The container's document window comes back to the front.
  ASSERT_EQ(site_->active_object->OnDocWindowActivate(TRUE), S_OK);
  EXPECT_EQ(TakeLog(), (Log{"SetMenu(NULL)", "SetBorderSpace(NULL)"}));
  ASSERT_EQ(site_->active_object->OnDocWindowActivate(FALSE), S_OK);
  EXPECT_TRUE(TakeLog().empty());
  EXPECT_EQ(Notifications().live(), 1);

  ole::ComPtr<IOleInPlaceObject> inplace;
  ASSERT_EQ(inplace.QueryFrom(control_.Get(), IID_IOleInPlaceObject), S_OK);
  ASSERT_EQ(inplace->InPlaceDeactivate(), S_OK);
  EXPECT_EQ(TakeLog(),
            (Log{"SetActiveObject(NULL)", "OnUIDeactivate(FALSE)", "OnInPlaceDeactivateEx(TRUE)"}));
  EXPECT_EQ(Notifications().live(), 0) << "the registration goes with the window";
}

TEST_F(StrictContainer, AClickIntoTheInPlaceActiveControlUIActivatesIt) {
  Embed({});
  ASSERT_EQ(Verb(OLEIVERB_INPLACEACTIVATE), S_OK);
  TakeLog();
  HWND window = ControlWindow(control_.Get());
  SetFocus(window);
  PumpMessages();
  const Log log = TakeLog();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.front(), "OnUIActivate");
  EXPECT_EQ(ocx_.OpenHandleCount(), 1u);
}

TEST_F(StrictContainer, AContainerMayReleaseTheControlWhileAClickUIActivatesIt) {
  Embed({});
  ASSERT_EQ(Verb(OLEIVERB_INPLACEACTIVATE), S_OK);
  HWND window = ControlWindow(control_.Get());
  TakeLog();
  site_->on_ui_activate = [this] {
    object_.Reset();
    control_.Reset();
  };
  SetFocus(window);
  PumpMessages();
  EXPECT_EQ(TakeLog().front(), "OnUIActivate");
  EXPECT_FALSE(IsWindow(window)) << "the control went once the activation was over";
}

TEST_F(StrictContainer, AWindowItsParentDestroysIsForgottenAndTheControlDeactivated) {
  Embed({});
  ASSERT_EQ(Verb(OLEIVERB_UIACTIVATE), S_OK);
  HWND window = ControlWindow(control_.Get());
  ASSERT_EQ(Notifications().live(), 1);
  TakeLog();
  DestroyWindow(window);
  EXPECT_EQ(TakeLog(),
            (Log{"SetActiveObject(NULL)", "OnUIDeactivate(FALSE)", "OnInPlaceDeactivateEx(TRUE)"}));
  EXPECT_EQ(ControlWindow(control_.Get()), nullptr);
  EXPECT_EQ(Notifications().live(), 0);
  // Activated again, it makes a window of its own.
  ASSERT_EQ(Verb(OLEIVERB_INPLACEACTIVATE), S_OK);
  EXPECT_TRUE(IsWindow(ControlWindow(control_.Get())));
}

TEST_F(StrictContainer, TheOneVerbIsPropertiesOnTheContainerMenu) {
  Embed({});
  ole::ComPtr<IEnumOLEVERB> verbs;
  ASSERT_EQ(object_->EnumVerbs(verbs.Put()), S_OK);
  OLEVERB verb[2] = {};
  ULONG fetched = 0;
  EXPECT_EQ(verbs->Next(2, verb, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 1u);
  EXPECT_EQ(verb[0].lVerb, 0);
  EXPECT_EQ(verb[0].fuFlags, 0u);
  EXPECT_EQ(verb[0].grfAttribs, static_cast<DWORD>(OLEVERBATTRIB_ONCONTAINERMENU));
  EXPECT_STREQ(verb[0].lpszVerbName, L"<unknown verb>");
  CoTaskMemFree(verb[0].lpszVerbName);
  DWORD status = 0;
  EXPECT_EQ(object_->GetMiscStatus(DVASPECT_CONTENT, &status), S_OK);
  EXPECT_EQ(status, 0x20191u);
  LPOLESTR type = nullptr;
  ASSERT_EQ(object_->GetUserType(USERCLASSTYPE_FULL, &type), S_OK);
  EXPECT_STREQ(type, L"QelVantorixActiveX Control");
  CoTaskMemFree(type);
  EXPECT_TRUE(TakeLog().empty());
}

TEST_F(StrictContainer, AContainerThatShowsTheFrameItselfIsAskedFirst) {
  Embed({true, /*control_site=*/true, S_OK});
  EXPECT_EQ(Verb(0), S_OK);
  EXPECT_EQ(TakeLog(), (Log{"QI IOleControlSite", "ShowPropertyFrame"}));
}

TEST_F(StrictContainer, PropertyVerbsOpenOurFrameWithoutActivating) {
  struct Case {
    LONG verb;
    HRESULT result;
  };
  for (const Case& c :
       {Case{0, S_OK}, Case{OLEIVERB_PROPERTIES, S_OK}, Case{1, OLEOBJ_S_INVALIDVERB}}) {
    Embed({true, /*control_site=*/true, E_NOTIMPL});
    ModalCloser closer(L"QelVantorixActiveX Control", IDCANCEL);
    EXPECT_EQ(Verb(c.verb), c.result) << "verb " << c.verb;
    closer.Stop();
    ASSERT_EQ(closer.seen().size(), 1u) << "verb " << c.verb << ": no frame";
    EXPECT_NE(closer.seen()[0].caption.find(L"QelVantorixActiveX Control"), std::wstring::npos);
    EXPECT_EQ(TakeLog(), (Log{"QI IOleControlSite", "ShowPropertyFrame"})) << "verb " << c.verb;
    EXPECT_EQ(ControlWindow(control_.Get()), nullptr) << "the verb activated the control";
  }
}

}  // namespace
}  // namespace container_test
