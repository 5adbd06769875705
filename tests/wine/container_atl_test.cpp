// The control embedded in a container we did not write, Wine's ATL host: activation, the
// board opening routes, plug notifications with EVENT_PLUG, and the lamp on screen.
#include <gtest/gtest.h>

// clang-format off
#include <windows.h>
#include <dbt.h>
// clang-format on

#include <string>
#include <vector>

#include "container_support.h"
#include "control/identity.h"
#include "dispatch_support.h"

namespace container_test {
namespace {

using dispatch_test::Call;
using dispatch_test::CallResult;
using dispatch_test::EmulatedOcx;

// UI-activates the control hosted in `host`, as a click would.
HRESULT UIActivateIn(IUnknown* control, HWND host) {
  ole::ComPtr<IOleObject> object;
  EXPECT_EQ(object.QueryFrom(control, IID_IOleObject), S_OK);
  ole::ComPtr<IOleClientSite> site;
  object->GetClientSite(site.Put());
  RECT pos = {10, 10, 112, 42};
  const HRESULT hr = object->DoVerb(OLEIVERB_UIACTIVATE, nullptr, site.Get(), 0, host, &pos);
  PumpMessages();
  return hr;
}

class AtlContainer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(ocx_.module(), nullptr);
    ocx_.Plug();
    ResetNotificationLog();
    control_ = ocx_.CreateControl();
    ASSERT_TRUE(control_);
    ole::ComPtr<IPersistStreamInit> persist;
    ASSERT_EQ(persist.QueryFrom(control_.Get(), IID_IPersistStreamInit), S_OK);
    ASSERT_EQ(persist->InitNew(), S_OK);
    host_ = std::make_unique<AtlHost>(control_.Get());
    ASSERT_TRUE(host_->ok()) << "Wine's ATL did not take the control";
    window_ = ControlWindow(control_.Get());
    ASSERT_NE(window_, nullptr) << "in-place activation made no window";
  }
  void TearDown() override {
    host_.reset();
    control_.Reset();
    ocx_.Plug();
  }

  HRESULT UIActivate() { return UIActivateIn(control_.Get(), host_->host()); }

  IDispatch* dispatch() { return control_.Get(); }
  COLORREF Lamp() { return WindowPixel(window_, 1, 1); }

  EmulatedOcx& ocx_ = EmulatedOcx::Get();
  ole::ComPtr<IDispatch> control_;
  std::unique_ptr<AtlHost> host_;
  HWND window_ = nullptr;
};

TEST_F(AtlContainer, InPlaceActivationMakesTheWindowAndOpensNothing) {
  EXPECT_TRUE(IsWindow(window_));
  EXPECT_EQ(GetParent(window_), host_->host());
  RECT client;
  GetClientRect(window_, &client);
  EXPECT_EQ(client.right, 102);
  EXPECT_EQ(client.bottom, 32);
  EXPECT_EQ(ocx_.OpenHandleCount(), 0u);
  EXPECT_TRUE(Notifications().registered.empty());
  EXPECT_EQ(Lamp(), kGrey);
}

TEST_F(AtlContainer, UIActivationOpensRegistersAndLightsWithoutAnEvent) {
  EventSink sink;
  const DWORD cookie = Connect(control_.Get(), &sink);
  ASSERT_NE(cookie, 0u);
  ASSERT_EQ(UIActivate(), S_OK);
  EXPECT_EQ(ocx_.OpenHandleCount(), 1u);
  ASSERT_EQ(Notifications().registered.size(), 1u);
  EXPECT_EQ(Notifications().registered[0], window_);
  EXPECT_EQ(Notifications().live(), 1);
  EXPECT_EQ(Lamp(), kGreen);
  EXPECT_TRUE(sink.events.empty());
  // A second UI activation of the same window keeps the one registration.
  ole::ComPtr<IOleInPlaceObject> inplace;
  ASSERT_EQ(inplace.QueryFrom(control_.Get(), IID_IOleInPlaceObject), S_OK);
  inplace->UIDeactivate();
  ASSERT_EQ(UIActivate(), S_OK);
  EXPECT_EQ(Notifications().live(), 1);
  EXPECT_EQ(ocx_.OpenHandleCount(), 1u);
  Disconnect(control_.Get(), cookie);
}

// UI activation opens the board the kept selector names, and the first board again once
// OpenUSBHidDevice has set the selector back.
TEST_F(AtlContainer, UIActivationOpensTheBoardTheSelectorNames) {
  const int b = ocx_.AddBoard(L"B", L"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(7)");
  ASSERT_GT(b, 0);
  auto selected = [this] {
    CallResult r = Call(dispatch(), QVX_DISPID_GET_SELECTEDBOARD);
    EXPECT_EQ(r.value.Type(), VT_BSTR);
    return std::wstring(r.value.Type() == VT_BSTR && V_BSTR(r.value.Get()) ? V_BSTR(r.value.Get())
                                                                           : L"");
  };
  std::vector<ole::Variant> args = dispatch_test::ArgList(dispatch_test::Str(L"serial:B"));
  CallResult chosen = Call(dispatch(), QVX_DISPID_SELECTBOARD, args);
  ASSERT_EQ(chosen.hr, S_OK);
  ASSERT_EQ(V_BOOL(chosen.value.Get()), VARIANT_TRUE);
  ole::ComPtr<IOleInPlaceObject> inplace;
  ASSERT_EQ(inplace.QueryFrom(control_.Get(), IID_IOleInPlaceObject), S_OK);
  struct Step {
    const char* what;
    bool reset_to_first;
    const wchar_t* selected;
    UINT first_board_handles;
  };
  const Step steps[] = {
      {"bound to B", false, L"serial:B", 0},
      {"after OpenUSBHidDevice", true, L"location:PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1)", 1},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    if (step.reset_to_first) {
      ASSERT_EQ(Call(dispatch(), QVX_DISPID_OPENUSBHIDDEVICE).hr, S_OK);
    }
    inplace->UIDeactivate();
    ASSERT_EQ(UIActivate(), S_OK);
    EXPECT_EQ(selected(), step.selected);
    EXPECT_EQ(ocx_.OpenHandleCount(), step.first_board_handles);
    EXPECT_EQ(Lamp(), kGreen);
  }
  ocx_.RemoveBoard(b);
}

TEST_F(AtlContainer, UIActivationWithTheBoardAbsentLeavesTheLampGrey) {
  ocx_.Unplug();
  ASSERT_EQ(UIActivate(), S_OK);
  EXPECT_EQ(ocx_.OpenHandleCount(), 0u);
  EXPECT_EQ(Lamp(), kGrey);
}

TEST_F(AtlContainer, OpenUSBHidDeviceFollowsTheBoard) {
  struct Case {
    bool plugged;
    VARIANT_BOOL result;
    COLORREF lamp;
  };
  EventSink sink;
  const DWORD cookie = Connect(control_.Get(), &sink);
  for (const Case& c : {Case{true, VARIANT_FALSE, kGreen}, Case{false, VARIANT_TRUE, kGrey},
                        Case{true, VARIANT_FALSE, kGreen}}) {
    ocx_.SetPlugged(c.plugged ? TRUE : FALSE);  // no notification: only the opening looks
    CallResult r = Call(dispatch(), kOpenUSBHidDevice);
    ASSERT_EQ(r.hr, S_OK);
    EXPECT_EQ(V_BOOL(r.value.Get()), c.result) << "plugged " << c.plugged;
    EXPECT_EQ(Lamp(), c.lamp) << "plugged " << c.plugged;
    EXPECT_EQ(ocx_.OpenHandleCount(), c.plugged ? 1u : 0u);
  }
  EXPECT_TRUE(sink.events.empty());
  EXPECT_EQ(Notifications().live(), 1) << "one registration for the one window";
  Disconnect(control_.Get(), cookie);
}

TEST_F(AtlContainer, PlugNotificationsReachEverySinkInOrder) {
  ASSERT_EQ(UIActivate(), S_OK);
  EventSink failing(/*fail=*/true);
  EventSink second;
  const DWORD c1 = Connect(control_.Get(), &failing);
  const DWORD c2 = Connect(control_.Get(), &second);

  struct Step {
    const char* what;
    bool plugged;  // the emulated board's state before the notification
    UINT event;
    bool expected_event;
    COLORREF lamp;
    UINT handles;
  };
  const Step steps[] = {
      {"board pulled out", false, DBT_DEVICEREMOVECOMPLETE, false, kGrey, 1},  // handle stays
      {"board plugged in", true, DBT_DEVICEARRIVAL, true, kGreen, 1},
      {"another device arrives", true, DBT_DEVICEARRIVAL, true, kGreen, 1},
      {"another device leaves", true, DBT_DEVICEREMOVECOMPLETE, false, kGrey, 1},
      {"arrival with no board", false, DBT_DEVICEARRIVAL, false, kGrey, 0},
  };
  std::vector<bool> expected;
  for (const Step& step : steps) {
    ocx_.SetPlugged(step.plugged ? TRUE : FALSE);  // the notification is sent by hand
    EXPECT_EQ(SendDeviceChange(window_, step.event, DBT_DEVTYP_DEVICEINTERFACE), FALSE)
        << step.what;
    expected.push_back(step.expected_event);
    EXPECT_EQ(failing.events, expected) << step.what;
    EXPECT_EQ(second.events, expected) << step.what << ": a failing sink stopped the next";
    EXPECT_EQ(Lamp(), step.lamp) << step.what;
    EXPECT_EQ(ocx_.OpenHandleCount(), step.handles) << step.what;
  }
  // After "another device leaves" the board stayed usable on its held handle.
  EXPECT_TRUE(failing.log.empty());
  Disconnect(control_.Get(), c1);
  Disconnect(control_.Get(), c2);
}

// The emulated board notifies as the system does: to the control's registered window.
TEST_F(AtlContainer, PullingTheBoardOutAndPluggingItInReachTheSinks) {
  ASSERT_EQ(UIActivate(), S_OK);
  EventSink sink;
  const DWORD cookie = Connect(control_.Get(), &sink);
  ocx_.Unplug();
  EXPECT_EQ(sink.events, std::vector<bool>{false});
  EXPECT_EQ(Lamp(), kGrey);
  ocx_.Unplug();  // nothing changes, nothing is told
  ocx_.Plug();
  EXPECT_EQ(sink.events, (std::vector<bool>{false, true}));
  EXPECT_EQ(Lamp(), kGreen);
  EXPECT_EQ(ocx_.OpenHandleCount(), 1u);
  Disconnect(control_.Get(), cookie);
}

TEST_F(AtlContainer, AHandlerMayOpenTheBoardFromInsideTheEvent) {
  ASSERT_EQ(UIActivate(), S_OK);
  std::vector<VARIANT_BOOL> results;
  EventSink sink(false, [&] {
    CallResult r = Call(dispatch(), kOpenUSBHidDevice);
    EXPECT_EQ(r.hr, S_OK);
    results.push_back(V_BOOL(r.value.Get()));
  });
  const DWORD cookie = Connect(control_.Get(), &sink);
  SendDeviceChange(window_, DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE);
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0], VARIANT_FALSE);
  EXPECT_EQ(sink.events, std::vector<bool>{true});
  EXPECT_EQ(ocx_.OpenHandleCount(), 1u);
  Disconnect(control_.Get(), cookie);
}

TEST_F(AtlContainer, OtherEventsAndDeviceTypesDoNothing) {
  ASSERT_EQ(UIActivate(), S_OK);
  EventSink sink;
  const DWORD cookie = Connect(control_.Get(), &sink);
  const UINT before = ocx_.CommandCount(-1);
  EXPECT_EQ(SendDeviceChange(window_, DBT_DEVICEQUERYREMOVE, DBT_DEVTYP_DEVICEINTERFACE), FALSE);
  EXPECT_EQ(SendDeviceChange(window_, DBT_DEVNODES_CHANGED, DBT_DEVTYP_DEVICEINTERFACE), FALSE);
  EXPECT_EQ(SendDeviceChange(window_, DBT_DEVICEARRIVAL, DBT_DEVTYP_VOLUME), FALSE);
  EXPECT_EQ(SendDeviceChange(window_, DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_HANDLE), FALSE);
  EXPECT_TRUE(sink.events.empty());
  EXPECT_EQ(ocx_.CommandCount(-1), before);
  EXPECT_EQ(Lamp(), kGreen);
  Disconnect(control_.Get(), cookie);
}

TEST_F(AtlContainer, AnOemDeviceShowsItsBoxOwnedByTheControlWindow) {
  ASSERT_EQ(UIActivate(), S_OK);
  EventSink sink;
  const DWORD cookie = Connect(control_.Get(), &sink);
  ModalCloser closer(L"DBT_DEVTYP_OEM", IDOK);
  EXPECT_EQ(SendDeviceChange(window_, DBT_DEVICEARRIVAL, DBT_DEVTYP_OEM), FALSE);
  closer.Stop();
  const std::vector<SeenWindow> seen = closer.seen();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].owner, GetAncestor(window_, GA_ROOT));  // a box's owner is top-level
  EXPECT_EQ(seen[0].caption, L"QelVantorixActiveX");
  EXPECT_TRUE(sink.events.empty());
  Disconnect(control_.Get(), cookie);
}

TEST_F(AtlContainer, DestroyingTheWindowWithdrawsTheRegistration) {
  ASSERT_EQ(UIActivate(), S_OK);
  ASSERT_EQ(Notifications().live(), 1);
  host_->Destroy();
  EXPECT_EQ(Notifications().live(), 0);
  EXPECT_FALSE(IsWindow(window_));
}

// Before it has a window the control registers through a hidden message-only window of its
// own (no box); UI activation moves the registration to the control's window.
TEST(NoContainer, OpenUSBHidDeviceBeforeAWindowRegistersAHiddenWindowUntilUIActivation) {
  EmulatedOcx& ocx = EmulatedOcx::Get();
  ocx.Plug();
  ResetNotificationLog();
  ole::ComPtr<IDispatch> control = ocx.CreateControl();
  ASSERT_TRUE(control);
  ModalCloser closer(L"RegisterDeviceNotification", IDOK);
  CallResult r = Call(control.Get(), kOpenUSBHidDevice);
  ASSERT_EQ(r.hr, S_OK);
  EXPECT_EQ(V_BOOL(r.value.Get()), VARIANT_FALSE);
  EXPECT_EQ(ocx.OpenHandleCount(), 1u);
  ASSERT_EQ(Notifications().registered.size(), 1u);
  const HWND hidden = Notifications().registered[0];
  ASSERT_NE(hidden, nullptr);
  EXPECT_FALSE(IsWindowVisible(hidden));
  EXPECT_NE(GetAncestor(hidden, GA_PARENT), GetDesktopWindow()) << "not a message-only window";

  ole::ComPtr<IPersistStreamInit> persist;
  ASSERT_EQ(persist.QueryFrom(control.Get(), IID_IPersistStreamInit), S_OK);
  ASSERT_EQ(persist->InitNew(), S_OK);
  auto host = std::make_unique<AtlHost>(control.Get());
  ASSERT_TRUE(host->ok());
  ASSERT_EQ(UIActivateIn(control.Get(), host->host()), S_OK);
  closer.Stop();
  EXPECT_TRUE(closer.seen().empty()) << "a registration message box appeared";
  ASSERT_EQ(Notifications().registered.size(), 2u);
  EXPECT_EQ(Notifications().registered[1], ControlWindow(control.Get()));
  EXPECT_EQ(Notifications().live(), 1);
  EXPECT_FALSE(IsWindow(hidden)) << "the hidden window outlived its registration";
  host.reset();
  control.Reset();
  EXPECT_EQ(Notifications().live(), 0);
}

TEST(NoContainer, ARefusedRegistrationShowsTheBoxOnEveryOpeningAndStillOpens) {
  EmulatedOcx& ocx = EmulatedOcx::Get();
  ocx.Plug();
  ResetNotificationLog();
  ole::ComPtr<IDispatch> control = ocx.CreateControl();
  ASSERT_TRUE(control);
  ocx.RefuseNotifications(TRUE);
  ModalCloser closer(L"RegisterDeviceNotification   failed", IDOK, 2);
  CallResult first = Call(control.Get(), kOpenUSBHidDevice);
  CallResult second = Call(control.Get(), kOpenUSBHidDevice);
  closer.Stop();
  ocx.RefuseNotifications(FALSE);
  EXPECT_EQ(V_BOOL(first.value.Get()), VARIANT_FALSE);
  EXPECT_EQ(V_BOOL(second.value.Get()), VARIANT_FALSE);
  EXPECT_EQ(ocx.OpenHandleCount(), 1u);
  const std::vector<SeenWindow> seen = closer.seen();
  ASSERT_EQ(seen.size(), 2u) << "no registration is held, so every opening tries again";
  EXPECT_EQ(seen[0].owner, nullptr);
  EXPECT_EQ(seen[0].caption, L"Error");  // the system's default caption
  control.Reset();
  EXPECT_EQ(ocx.OpenHandleCount(), 0u);
}

}  // namespace
}  // namespace container_test
