// A control without a window, as a script host creates it, with an X display (without one Wine
// returns from message boxes at once and a box would go unseen: the tests then skip). It
// registers for device notifications through a hidden window of its own, so no message box
// stops the script, and its sinks hear EVENT_PLUG while the thread pumps messages, with the
// board plugged and pulled from another thread as the system would do it.
#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "container_support.h"
#include "control/identity.h"
#include "dispatch_support.h"
#include "test_files.h"

namespace dispatch_test {
namespace {

using container_test::EventSink;
using container_test::ModalCloser;

// Windows always has one; Wine has one while DISPLAY names an X server.
bool HaveDisplay() {
  char display[256];
  return !test_files::OnWine() || GetEnvironmentVariableA("DISPLAY", display, sizeof display) != 0;
}

// Runs `change` on another thread while this one pumps its messages, until `done` or 10 s.
void WhilePumping(const std::function<void()>& change, const std::function<bool()>& done) {
  std::thread other(change);
  const DWORD start = GetTickCount();
  while (!done() && GetTickCount() - start < 10000) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    container_test::PumpMessages();
  }
  other.join();
  container_test::PumpMessages();
}

TEST(WindowlessControl, OpensWithoutABoxAndItsSinksHearThePlugEvents) {
  if (!HaveDisplay()) GTEST_SKIP() << "no X display: Wine returns from message boxes at once";
  EmulatedOcx& ocx = EmulatedOcx::Get();
  ocx.Plug();
  ole::ComPtr<IDispatch> ctl = ocx.CreateControl();
  ASSERT_TRUE(ctl);
  EventSink sink;
  const DWORD cookie = container_test::Connect(ctl.Get(), &sink);
  ASSERT_NE(cookie, 0u);
  ModalCloser closer(L"RegisterDeviceNotification", IDOK, 2);
  CallResult first = Call(ctl.Get(), QVX_DISPID_OPENUSBHIDDEVICE);
  CallResult second = Call(ctl.Get(), QVX_DISPID_OPENUSBHIDDEVICE);
  closer.Stop();
  EXPECT_TRUE(closer.seen().empty()) << "a registration message box appeared";
  EXPECT_EQ(V_BOOL(first.value.Get()), VARIANT_FALSE);
  EXPECT_EQ(V_BOOL(second.value.Get()), VARIANT_FALSE);
  EXPECT_EQ(ocx.OpenHandleCount(), 1u);

  WhilePumping([&] { ocx.Unplug(); }, [&] { return !sink.events.empty(); });
  EXPECT_EQ(sink.events, std::vector<bool>{false});
  WhilePumping([&] { ocx.Plug(); }, [&] { return sink.events.size() >= 2; });
  EXPECT_EQ(sink.events, (std::vector<bool>{false, true}));
  EXPECT_EQ(ocx.OpenHandleCount(), 1u) << "the arrival reopened the board";
  container_test::Disconnect(ctl.Get(), cookie);
  ctl.Reset();
  EXPECT_EQ(ocx.OpenHandleCount(), 0u);
}

// With no control left, plugging reaches nobody: the hidden window went with its control.
TEST(WindowlessControl, ADestroyedControlLeavesNoWindowToNotify) {
  if (!HaveDisplay()) GTEST_SKIP() << "no X display";
  EmulatedOcx& ocx = EmulatedOcx::Get();
  ocx.Plug();
  {
    ole::ComPtr<IDispatch> ctl = ocx.CreateControl();
    ASSERT_TRUE(ctl);
    Call(ctl.Get(), QVX_DISPID_OPENUSBHIDDEVICE);
  }
  const UINT commands = ocx.CommandCount(-1);
  WhilePumping([&] { ocx.Unplug(); }, [] { return true; });
  WhilePumping([&] { ocx.Plug(); }, [] { return true; });
  EXPECT_EQ(ocx.OpenHandleCount(), 0u) << "an arrival reopened the board for a dead control";
  EXPECT_EQ(ocx.CommandCount(-1), commands);
}

}  // namespace
}  // namespace dispatch_test
