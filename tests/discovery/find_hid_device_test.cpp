// FindHidDevice over sets of emulated HID devices: which device is kept, the result code, the
// out handle, and which handles stay open.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "discovery_fixture.h"

namespace discovery_test {
namespace {

EmulatedDeviceDescription WithManufacturer(const std::string& path, std::u16string text) {
  EmulatedDeviceDescription d = BoardLike(path);
  d.manufacturer = std::move(text);
  return d;
}

EmulatedDeviceDescription WithProduct(const std::string& path, std::u16string text) {
  EmulatedDeviceDescription d = BoardLike(path);
  d.product = std::move(text);
  return d;
}

// The board's identity with one failure switch on.
EmulatedDeviceDescription Failing(const std::string& path, bool EmulatedDeviceDescription::*sw) {
  EmulatedDeviceDescription d = BoardLike(path);
  d.*sw = true;
  return d;
}

const auto kDetail = &EmulatedDeviceDescription::detail_fails;
const auto kOpen = &EmulatedDeviceDescription::open_fails;
const auto kAttributes = &EmulatedDeviceDescription::attributes_fail;
const auto kManufacturer = &EmulatedDeviceDescription::manufacturer_fails;
const auto kProduct = &EmulatedDeviceDescription::product_fails;

EmulatedDeviceDescription Keyboard() {
  return DeviceDescription("kbd", 0x046D, 0xC31C, u"Logitech", u"USB Keyboard");
}
EmulatedDeviceDescription Mouse() {
  return DeviceDescription("mouse", 0x045E, 0x0040, u"Microsoft", u"Wheel Mouse");
}

struct Case {
  const char* name;
  std::vector<EmulatedDeviceDescription> devices;  // in enumeration order
  int result;
  int kept;  // index of the device whose handle is returned, -1 for none
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

// Strings compared exactly, case and length included: the board's IDs with any other string are
// no board. That includes a unit of 256 or above whose low byte is the expected character:
// narrowing must not just drop the high byte.
std::vector<Case> NearMisses() {
  const std::pair<const char*, EmulatedDeviceDescription> misses[] = {
      {"ProductDiffersInCase", WithProduct("p", u"kovalmiretteV4")},
      {"ProductInCapitals", WithProduct("p", u"KOVALMIRETTEV4")},
      {"ProductOneCharacterLonger", WithProduct("p", u"KovalmiretteV45")},
      {"ProductOneCharacterShorter", WithProduct("p", u"KovalmiretteV")},
      {"ProductEmpty", WithProduct("p", u"")},
      {"ManufacturerFirstCharacterDiffers", WithManufacturer("m", u"qelvantorix Ltd")},
      {"ManufacturerMiddleCharacterDiffers", WithManufacturer("m", u"Qelvantorix_Ltd")},
      {"ManufacturerLastCharacterDiffers", WithManufacturer("m", u"Qelvantorix Lte")},
      {"ManufacturerOneCharacterLonger", WithManufacturer("m", u"Qelvantorix Ltd.")},
      {"ProductWithWideUnit", WithProduct("p", u"KovalmiretteV\u0134")},
      {"ManufacturerWithWideUnit", WithManufacturer("m", u"Qelvantorix L\u0174d")},
  };
  std::vector<Case> cases;
  for (const auto& [name, device] : misses) cases.push_back({name, {device}, kFindNotFound, -1});
  return cases;
}

std::vector<Case> Cases() {
  std::vector<Case> cases = {
      {"NoDevices", {}, kFindNotFound, -1},
      {"OnlyForeignDevices",
       {Keyboard(), Mouse(),
        DeviceDescription("pid", 0x04B4, 0xE007, u"Qelvantorix Ltd", u"KovalmiretteV4"),
        DeviceDescription("vid", 0x04B5, 0xE006, u"Qelvantorix Ltd", u"KovalmiretteV4")},
       kFindNotFound,
       -1},
      {"BoardAmongForeignDevices", {Keyboard(), Mouse(), BoardLike("b")}, kFindFound, 2},

      {"MismatchesBeforeBoard",
       {WithProduct("p", u"kovalmiretteV4"), WithManufacturer("m", u"Qelvantorix Lte"),
        BoardLike("b")},
       kFindFound,
       2},

      // A failed string query: 2 until a later device with the board's IDs resets it.
      {"ManufacturerQueryFailsOnOnlyCandidate",
       {Failing("f", kManufacturer)},
       kFindStringFailed,
       -1},
      {"ProductQueryFailsOnOnlyCandidate", {Failing("f", kProduct)}, kFindStringFailed, -1},
      {"FailedQueryThenIdsMatchStringsDiffer",
       {Failing("f", kManufacturer), WithProduct("p", u"Other")},
       kFindNotFound,
       -1},
      {"FailedQueryThenBoard", {Failing("f", kProduct), BoardLike("b")}, kFindFound, 1},
      {"FailedQueryThenForeignIds",
       {Failing("f", kManufacturer), Keyboard()},
       kFindStringFailed,
       -1},
      {"MismatchThenFailedQuery",
       {WithProduct("p", u"Other"), Failing("f", kProduct)},
       kFindStringFailed,
       -1},
      {"BoardBeforeFailedQuery", {BoardLike("b"), Failing("f", kManufacturer)}, kFindFound, 0},

      // Devices that cannot be opened, read or told apart are skipped without effect.
      {"UnopenableBoardOnly", {Failing("x", kOpen)}, kFindNotFound, -1},
      {"NoAttributesOnly", {Failing("x", kAttributes)}, kFindNotFound, -1},
      {"UnreadableDetailOnly", {Failing("x", kDetail)}, kFindNotFound, -1},
      {"UnopenableThenBoard", {Failing("x", kOpen), BoardLike("b")}, kFindFound, 1},
      {"NoAttributesThenBoard", {Failing("x", kAttributes), BoardLike("b")}, kFindFound, 1},
      {"UnreadableDetailThenBoard", {Failing("x", kDetail), BoardLike("b")}, kFindFound, 1},
      {"FailedQueryThenUnopenable",
       {Failing("f", kManufacturer), Failing("x", kOpen)},
       kFindStringFailed,
       -1},
      {"FailedQueryThenNoAttributes",
       {Failing("f", kProduct), Failing("x", kAttributes)},
       kFindStringFailed,
       -1},
      {"FailedQueryThenUnreadableDetail",
       {Failing("f", kManufacturer), Failing("x", kDetail)},
       kFindStringFailed,
       -1},

      // Several boards: the first in enumeration order.
      {"TwoBoardsFirstWins", {BoardLike("b1"), BoardLike("b2")}, kFindFound, 0},
      {"TwoBoardsBehindMismatch",
       {WithManufacturer("m", u"Qelvantorix Lte"), BoardLike("b1"), BoardLike("b2")},
       kFindFound,
       1},
  };
  const std::vector<Case> near_misses = NearMisses();
  cases.insert(cases.end(), near_misses.begin(), near_misses.end());
  return cases;
}

class FindHidDeviceCases : public DiscoveryTest, public ::testing::WithParamInterface<Case> {};

TEST_P(FindHidDeviceCases, KeepsTheFirstFullMatchAndClosesEveryOtherHandle) {
  const Case& c = GetParam();
  std::vector<DeviceId> ids;
  for (const EmulatedDeviceDescription& d : c.devices) ids.push_back(system_.AddDevice(d));

  EXPECT_EQ(FindBoard(), c.result);

  if (c.result == kFindFound) {
    EXPECT_NE(found_, nullptr);
    EXPECT_FALSE(OutHandleUntouched());
  } else {
    EXPECT_TRUE(OutHandleUntouched()) << "the out handle is written only on a match";
  }
  for (std::size_t i = 0; i < ids.size(); ++i) {
    EXPECT_EQ(system_.OpenHandleCount(ids[i]), static_cast<int>(i) == c.kept ? 1u : 0u)
        << "device " << i;
  }
  EXPECT_LE(system_.PeakOpenHandleCount(), 1u);

  found_.reset();
  EXPECT_EQ(system_.OpenHandleCount(), 0u) << "the returned handle is the only one left";
}

std::string CaseName(const ::testing::TestParamInfo<Case>& param) {
  return param.param.name;
}

INSTANTIATE_TEST_SUITE_P(Devices, FindHidDeviceCases, ::testing::ValuesIn(Cases()), CaseName);

TEST_F(DiscoveryTest, EveryExaminedHandleIsClosedBeforeTheNextIsOpened) {
  std::vector<DeviceId> ids;
  ids.push_back(system_.AddDevice(Keyboard()));
  ids.push_back(system_.AddDevice(WithProduct("p", u"kovalmiretteV4")));
  ids.push_back(system_.AddDevice(Failing("f", kManufacturer)));
  ids.push_back(system_.AddDevice(Failing("a", kAttributes)));
  ids.push_back(system_.AddDevice(Mouse()));

  EXPECT_EQ(FindBoard(), kFindStringFailed);
  // Five devices were opened one after the other, never two at once.
  EXPECT_EQ(system_.PeakOpenHandleCount(), 1u);
  EXPECT_EQ(system_.OpenHandleCount(), 0u);

  const DeviceId board = system_.AddDevice(BoardLike("b"));
  system_.ResetPeakOpenHandleCount();
  EXPECT_EQ(FindBoard(), kFindFound);
  EXPECT_EQ(system_.PeakOpenHandleCount(), 1u);
  EXPECT_EQ(system_.OpenHandleCount(), 1u);
  EXPECT_EQ(system_.OpenHandleCount(board), 1u);
}

TEST_F(DiscoveryTest, ManufacturerIsComparedBeforeTheProductIsRead) {
  struct Expect {
    DeviceId id;
    std::size_t manufacturer_queries;
    std::size_t product_queries;
    const char* what;
  };
  const std::vector<Expect> expected = {
      {system_.AddDevice(
           DeviceDescription("kbd", 0x046D, 0xC31C, u"Qelvantorix Ltd", u"KovalmiretteV4")),
       0, 0, "foreign IDs: no string is read"},
      {system_.AddDevice(WithManufacturer("m", u"Qelvantorix Lte")), 1, 0, "manufacturer differs"},
      {system_.AddDevice(Failing("f", kManufacturer)), 1, 0, "manufacturer query fails"},
      {system_.AddDevice(WithProduct("p", u"Other")), 1, 1, "product differs"},
      {system_.AddDevice(BoardLike("b")), 1, 1, "the board"},
      {system_.AddDevice(BoardLike("b2")), 0, 0, "after the board: not examined"},
  };

  EXPECT_EQ(FindBoard(), kFindFound);
  for (const Expect& e : expected) {
    EXPECT_EQ(system_.ManufacturerQueryCount(e.id), e.manufacturer_queries) << e.what;
    EXPECT_EQ(system_.ProductQueryCount(e.id), e.product_queries) << e.what;
  }
}

TEST(FindHidDeviceWithoutTexts, TheIdsAloneDecideWithoutReadingStrings) {
  struct Texts {
    const char* manufacturer;
    const char* product;
  };
  const Texts texts[] = {
      {nullptr, nullptr},
      {board_identity::kManufacturer, nullptr},
      {nullptr, board_identity::kProduct},
  };
  for (const Texts& t : texts) {
    SCOPED_TRACE(std::string(t.manufacturer ? "manufacturer" : "-") + " / " +
                 (t.product ? "product" : "-"));
    EmulatedHidSystem system;
    system.AddDevice(DeviceDescription("kbd", 0x046D, 0xC31C, u"Logitech", u"USB Keyboard"));
    // The first device with the board's IDs carries neither of its strings, nor could they be read.
    EmulatedDeviceDescription odd =
        DeviceDescription("odd", 0x04B4, 0xE006, u"Someone", u"Something");
    odd.manufacturer_fails = true;
    odd.product_fails = true;
    const DeviceId first = system.AddDevice(odd);
    const DeviceId board = system.AddDevice(BoardLike("b"));

    std::unique_ptr<platform::HidDevice> out;
    EXPECT_EQ(FindHidDevice(system, &out, board_identity::kVendorId, t.manufacturer,
                            board_identity::kProductId, t.product),
              kFindFound);
    EXPECT_NE(out, nullptr);
    EXPECT_EQ(system.OpenHandleCount(first), 1u);
    EXPECT_EQ(system.OpenHandleCount(board), 0u);
    EXPECT_EQ(system.ManufacturerQueryCount(first), 0u);
    EXPECT_EQ(system.ProductQueryCount(first), 0u);
  }
}

TEST_F(DiscoveryTest, WithoutTextsAndWithoutIdMatchNothingIsKept) {
  system_.AddDevice(Keyboard());
  system_.AddDevice(Mouse());
  EXPECT_EQ(FindHidDevice(system_, &found_, board_identity::kVendorId, nullptr,
                          board_identity::kProductId, nullptr),
            kFindNotFound);
  EXPECT_TRUE(OutHandleUntouched());
  EXPECT_EQ(system_.OpenHandleCount(), 0u);
}

TEST_F(DiscoveryTest, IdsAreComparedAsUnsignedSixteenBitValuesWidened) {
  system_.AddDevice(DeviceDescription("high", 0xFFFF, 0x8000, u"M", u"P"));
  struct Ids {
    std::uint32_t vid;
    std::uint32_t pid;
    int result;
  };
  const Ids table[] = {
      {0xFFFF, 0x8000, kFindFound},         // no sign extension of the attributes
      {0x1FFFF, 0x8000, kFindNotFound},     // no truncation of the expected vendor ID
      {0xFFFF, 0x18000, kFindNotFound},     // nor of the product ID
      {0xFFFFFFFF, 0x8000, kFindNotFound},  // -1 as an int is not 0xFFFF
  };
  for (const Ids& ids : table) {
    SCOPED_TRACE(::testing::Message() << std::hex << ids.vid << ":" << ids.pid);
    std::unique_ptr<platform::HidDevice> out;
    EXPECT_EQ(FindHidDevice(system_, &out, ids.vid, nullptr, ids.pid, nullptr), ids.result);
    EXPECT_EQ(out != nullptr, ids.result == kFindFound);
  }
}

TEST_F(DiscoveryTest, OpenBoardDeviceReturnsTheBoardOrNothing) {
  EXPECT_EQ(OpenBoardDevice(system_), nullptr) << "no device at all";

  const DeviceId failing = system_.AddDevice(Failing("f", kProduct));
  EXPECT_EQ(OpenBoardDevice(system_), nullptr) << "result 2 is no board either";
  EXPECT_EQ(system_.OpenHandleCount(failing), 0u);

  const DeviceId board = system_.AddDevice(BoardLike("b"));
  std::unique_ptr<platform::HidDevice> handle = OpenBoardDevice(system_);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(system_.OpenHandleCount(board), 1u);
  EXPECT_EQ(system_.OpenHandleCount(), 1u);
  handle.reset();
  EXPECT_EQ(system_.OpenHandleCount(), 0u);
}

}  // namespace
}  // namespace discovery_test
