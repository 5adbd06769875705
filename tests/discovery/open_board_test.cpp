// CUSBHardWare::OpenBoard through an opener over a test-owned HID back end: the handle it stores,
// the handle it closes, and the board link working over the new handle.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "board/usb_channel.h"
#include "discovery_fixture.h"
#include "emulator/board_data.h"
#include "emulator/board_emulator.h"
#include "link/board_link.h"
#include "link/board_selector.h"
#include "tests/support/byte_pattern.h"

namespace discovery_test {
namespace {

using testing_support::Bytes;

constexpr std::int32_t kProbeAddress = 0x0340;
constexpr std::uint8_t kProbeLength = 16;

Bytes Pattern(unsigned seed) {
  return testing_support::Pattern(kProbeLength, seed);
}

class OpenBoardTest : public ::testing::Test {
 protected:
  DeviceId AddBoard(const std::string& path, std::shared_ptr<emulator::BoardEmulator> board) {
    emulator::BoardData data;
    data.path = path;
    return system_.AddDevice(emulator::HidDescriptionOf(data), std::move(board));
  }

  // Writes `bytes` to the board's EEPROM through the link and reads them back.
  Bytes RoundTrip(const Bytes& bytes) {
    channel_.WriteEEPROMPage(kProbeAddress, bytes.data(), kProbeLength);
    Bytes back(kProbeLength, 0);
    channel_.ReadEEPROMPage(kProbeAddress, back.data(), kProbeLength);
    return back;
  }

  EmulatedHidSystem system_;
  std::shared_ptr<emulator::BoardEmulator> board_ = std::make_shared<emulator::BoardEmulator>();
  HidBoardOpener opener_{system_};
  CUSBChannel channel_{opener_};
};

TEST_F(OpenBoardTest, WithoutABoardReturnsTrueAndStoresNone) {
  system_.AddDevice(DeviceDescription("kbd", 0x046D, 0xC31C, u"Logitech", u"USB Keyboard"));
  system_.AddDevice(DeviceDescription("p", 0x04B4, 0xE006, u"Qelvantorix Ltd", u"KovalmiretteV5"));

  EXPECT_NE(channel_.OpenBoard(), 0);
  EXPECT_FALSE(channel_.HasDevice());
  EXPECT_EQ(system_.OpenHandleCount(), 0u);
}

TEST_F(OpenBoardTest, RepeatedOpeningKeepsExactlyOneHandle) {
  system_.AddDevice(DeviceDescription("kbd", 0x046D, 0xC31C, u"Logitech", u"USB Keyboard"));
  const DeviceId board = AddBoard("board", board_);

  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(::testing::Message() << "opening " << round + 1);
    EXPECT_EQ(channel_.OpenBoard(), 0);
    EXPECT_TRUE(channel_.HasDevice());
    EXPECT_EQ(system_.OpenHandleCount(board), 1u);
    EXPECT_EQ(system_.OpenHandleCount(), 1u);
  }
  EXPECT_EQ(RoundTrip(Pattern(0x11)), Pattern(0x11));
}

TEST_F(OpenBoardTest, OpeningAfterRemovalClosesTheStaleHandle) {
  const DeviceId board = AddBoard("board", board_);
  ASSERT_EQ(channel_.OpenBoard(), 0);

  system_.Unplug(board);
  ASSERT_EQ(system_.OpenHandleCount(board), 1u) << "removal alone leaves the handle held";
  ASSERT_TRUE(channel_.HasDevice());

  EXPECT_NE(channel_.OpenBoard(), 0);
  EXPECT_FALSE(channel_.HasDevice());
  EXPECT_EQ(system_.OpenHandleCount(board), 0u);
  EXPECT_EQ(system_.OpenHandleCount(), 0u);
}

TEST_F(OpenBoardTest, ReplugAfterAFailedOpeningGivesAWorkingHandle) {
  const DeviceId board = AddBoard("board", board_);
  ASSERT_EQ(channel_.OpenBoard(), 0);
  ASSERT_EQ(RoundTrip(Pattern(0x20)), Pattern(0x20));

  system_.Unplug(board);
  ASSERT_NE(channel_.OpenBoard(), 0);
  system_.Plug(board);
  EXPECT_NE(RoundTrip(Pattern(0x40)), Pattern(0x40)) << "no handle: nothing reaches the board";

  EXPECT_EQ(channel_.OpenBoard(), 0);
  EXPECT_EQ(system_.OpenHandleCount(board), 1u);
  EXPECT_EQ(RoundTrip(Pattern(0x60)), Pattern(0x60));
  EXPECT_EQ(board_->Eeprom(kProbeAddress, kProbeLength), Pattern(0x60));
}

TEST_F(OpenBoardTest, ReplugWithTheStaleHandleStillHeldGivesAWorkingHandle) {
  const DeviceId board = AddBoard("board", board_);
  ASSERT_EQ(channel_.OpenBoard(), 0);
  ASSERT_EQ(RoundTrip(Pattern(0x20)), Pattern(0x20));

  system_.Unplug(board);
  system_.Plug(board);
  EXPECT_NE(RoundTrip(Pattern(0x40)), Pattern(0x40)) << "the stale handle fails for good";
  EXPECT_EQ(board_->Eeprom(kProbeAddress, kProbeLength), Pattern(0x20));

  EXPECT_EQ(channel_.OpenBoard(), 0);
  EXPECT_EQ(system_.OpenHandleCount(board), 1u) << "the stale handle was closed";
  EXPECT_EQ(RoundTrip(Pattern(0x60)), Pattern(0x60));
  EXPECT_EQ(board_->Eeprom(kProbeAddress, kProbeLength), Pattern(0x60));
}

TEST_F(OpenBoardTest, FirstBoardIsOpenedAndTheSecondTakesOverWhenItLeaves) {
  auto second_board = std::make_shared<emulator::BoardEmulator>();
  const DeviceId first = AddBoard("first", board_);
  const DeviceId second = AddBoard("second", second_board);

  ASSERT_EQ(channel_.OpenBoard(), 0);
  EXPECT_EQ(system_.OpenHandleCount(first), 1u);
  EXPECT_EQ(system_.OpenHandleCount(second), 0u);
  EXPECT_EQ(RoundTrip(Pattern(0x30)), Pattern(0x30));
  EXPECT_EQ(board_->Eeprom(kProbeAddress, kProbeLength), Pattern(0x30));
  EXPECT_NE(second_board->Eeprom(kProbeAddress, kProbeLength), Pattern(0x30));

  system_.Unplug(first);
  ASSERT_EQ(channel_.OpenBoard(), 0);
  EXPECT_EQ(system_.OpenHandleCount(first), 0u);
  EXPECT_EQ(system_.OpenHandleCount(second), 1u);
  EXPECT_EQ(RoundTrip(Pattern(0x50)), Pattern(0x50));
  EXPECT_EQ(second_board->Eeprom(kProbeAddress, kProbeLength), Pattern(0x50));
}

// Opening by selector: only devices with all four marks are boards, counted and matched in
// enumeration order; a look-alike with the board's IDs is never opened, whatever it carries.
TEST_F(OpenBoardTest, ASelectorOpensOnlyTheBoardItNamesAmongThoseWithAllFourMarks) {
  system_.AddDevice(DeviceDescription("kbd", 0x046D, 0xC31C, u"Logitech", u"USB Keyboard"));
  auto look_alike = BoardLike("look-alike");
  look_alike.product = u"KovalmiretteV5";
  look_alike.serial = u"S1";
  look_alike.location = "1-1";
  system_.AddDevice(look_alike);
  auto mute = BoardLike("mute");
  mute.manufacturer_fails = true;
  mute.serial = u"S3";
  system_.AddDevice(mute);
  auto first = BoardLike("b1");
  first.location = "1-2";
  const DeviceId b1 = system_.AddDevice(first, board_);
  auto second = BoardLike("b2");
  second.serial = u"S2";
  second.location = "1-3";
  const DeviceId b2 = system_.AddDevice(second, std::make_shared<emulator::BoardEmulator>());

  const std::vector<BoardCandidate> boards = ListBoardCandidates(system_);
  ASSERT_EQ(boards.size(), 2u);
  EXPECT_EQ(boards[0].path, "b1");
  EXPECT_EQ(boards[1].path, "b2");
  EXPECT_EQ(system_.OpenHandleCount(), 0u) << "listing leaves nothing open";

  struct Case {
    const char* selector;
    const char* opened;  // "" for none
    const char* stable;  // StableBoardSelector of the opened board
  };
  const Case cases[] = {
      {"", "b1", "location:1-2"},
      {"first", "b1", "location:1-2"},
      {"index:0", "b1", "location:1-2"},
      {"index:1", "b2", "serial:S2"},
      {"index:2", "", ""},
      {"serial:S2", "b2", "serial:S2"},
      {"serial:S1", "", ""},
      {"serial:S3", "", ""},
      {"serial:", "", ""},
      {"location:1-2", "b1", "location:1-2"},
      {"location:1-1", "", ""},
      {"path:b2", "b2", "serial:S2"},
      {"path:look-alike", "", ""},
      {"bogus", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.selector);
    std::string path = "untouched";
    const int failed = channel_.OpenBoard(c.selector, &path);
    EXPECT_EQ(failed != 0, *c.opened == 0);
    EXPECT_EQ(path, c.opened);
    EXPECT_EQ(channel_.HasDevice(), *c.opened != 0);
    EXPECT_EQ(StableBoardSelector(system_, path), c.stable);
    const std::string opened = c.opened;
    EXPECT_EQ(system_.OpenHandleCount(b1), opened == "b1" ? 1u : 0u);
    EXPECT_EQ(system_.OpenHandleCount(b2), opened == "b2" ? 1u : 0u);
    EXPECT_EQ(system_.OpenHandleCount(), opened.empty() ? 0u : 1u);
  }
  // The board opened by its serial is the one the link talks to.
  ASSERT_EQ(channel_.OpenBoard("location:1-2"), 0);
  EXPECT_EQ(RoundTrip(Pattern(0x70)), Pattern(0x70));
  EXPECT_EQ(board_->Eeprom(kProbeAddress, kProbeLength), Pattern(0x70));
}

// A back end that, when the search starts, lets another thread try to enter the board link's
// exchange lock and gives it a while to succeed.
class LockProbingBackend : public platform::HidBackend {
 public:
  explicit LockProbingBackend(platform::HidBackend& inner) : inner_(inner) {}
  ~LockProbingBackend() override {
    if (prober_.joinable()) prober_.join();
  }

  std::unique_ptr<platform::HidEnumeration> Enumerate() override {
    if (!prober_.joinable()) {
      prober_ = std::thread([this] {
        platform::CsLock lock(channel_->m_csExchange);
        saw_device_ = channel_->HasDevice();
        std::lock_guard<std::mutex> guard(mutex_);
        entered_ = true;
        changed_.notify_all();
      });
      std::unique_lock<std::mutex> guard(mutex_);
      // Long enough for an unlocked search to be overtaken; a held lock keeps it out anyway.
      changed_.wait_for(guard, std::chrono::milliseconds(100), [this] { return entered_; });
      entered_during_search_ = entered_;
    }
    return inner_.Enumerate();
  }
  std::unique_ptr<platform::HidDevice> Open(const std::string& path) override {
    return inner_.Open(path);
  }

  // The link whose lock the prober tries, set before the search starts.
  void Watch(CUSBChannel& channel) { channel_ = &channel; }
  void Join() { prober_.join(); }
  bool EnteredDuringSearch() const { return entered_during_search_; }
  bool SawDevice() const { return saw_device_; }

 private:
  platform::HidBackend& inner_;
  CUSBChannel* channel_ = nullptr;
  std::thread prober_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool entered_ = false;
  bool entered_during_search_ = false;
  std::atomic<bool> saw_device_{false};
};

TEST_F(OpenBoardTest, HoldsTheExchangeLockUntilTheHandleIsStored) {
  AddBoard("board", board_);
  LockProbingBackend probing(system_);
  HidBoardOpener opener(probing);
  CUSBChannel channel(opener);
  probing.Watch(channel);

  EXPECT_EQ(channel.OpenBoard(), 0);
  probing.Join();
  EXPECT_FALSE(probing.EnteredDuringSearch());
  EXPECT_TRUE(probing.SawDevice()) << "the lock was let go before the handle was stored";
}

}  // namespace
}  // namespace discovery_test
