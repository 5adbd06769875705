// Enumeration, device identity and the in-use scan of the hidraw back end over fake sysfs and
// /proc trees, and board discovery running on top of it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

#include "board/board_identity.h"
#include "fake_sysfs.h"
#include "link/board_selector.h"
#include "link/discovery.h"
#include "platform/posix/hidraw_backend.h"

namespace {

using hidraw_test::FakeSysfs;
using hidraw_test::UsbNode;
using platform::InterfaceStatus;

const UsbNode kBoard{3, "04b4", "e006", "0100", "Qelvantorix Ltd", "KovalmiretteV4"};
const UsbNode kForeign{0, "046d", "c52b", "1211", "Logitech", "USB Receiver"};
const UsbNode kNoStrings{1, "04b4", "e006", "0001", std::nullopt, std::nullopt};

std::vector<std::string> AllPaths(platform::HidBackend& backend) {
  std::vector<std::string> paths;
  std::unique_ptr<platform::HidEnumeration> devices = backend.Enumerate();
  if (!devices) return paths;
  for (unsigned index = 0; index < 100; ++index) {
    std::string path;
    const InterfaceStatus status = devices->InterfacePath(index, &path);
    if (status == InterfaceStatus::kEnd) break;
    EXPECT_EQ(status, InterfaceStatus::kFound);
    paths.push_back(path);
  }
  return paths;
}

std::u16string Query(bool (platform::HidDevice::*query)(char16_t*, std::size_t),
                     platform::HidDevice& device, bool* ok) {
  char16_t buffer[kHidStringBytes / 2];
  std::fill(std::begin(buffer), std::end(buffer), u'\xEEEE');
  *ok = (device.*query)(buffer, sizeof buffer);
  return *ok ? std::u16string(buffer) : std::u16string();
}

TEST(HidrawEnumeration, ListsNodesInNumericOrderAndIgnoresOtherEntries) {
  FakeSysfs tree;
  for (unsigned n : {10u, 2u, 0u}) tree.AddUsbNode(UsbNode{n, "1234", "5678", {}, {}, {}});
  tree.AddStrayClassEntry("hidrawX");
  tree.AddStrayClassEntry("hidraw");
  tree.AddStrayClassEntry("mouse0");
  platform::posix::HidrawBackend backend(tree.SysRoot(), tree.DevRoot());
  EXPECT_EQ(AllPaths(backend),
            (std::vector<std::string>{tree.DevPath(0), tree.DevPath(2), tree.DevPath(10)}));
}

TEST(HidrawEnumeration, EmptyClassGivesAnEmptySetAndAMissingOneNoSet) {
  FakeSysfs tree;
  platform::posix::HidrawBackend backend(tree.SysRoot(), tree.DevRoot());
  std::unique_ptr<platform::HidEnumeration> devices = backend.Enumerate();
  ASSERT_NE(devices, nullptr);
  std::string path = "untouched";
  EXPECT_EQ(devices->InterfacePath(0, &path), InterfaceStatus::kEnd);
  EXPECT_EQ(path, "untouched");

  tree.RemoveClassFolder();
  EXPECT_EQ(backend.Enumerate(), nullptr);
}

struct IdentityCase {
  const char* name;
  unsigned number;
  bool attributes_ok;
  std::uint16_t vendor, product, version;
  bool manufacturer_ok;
  std::u16string manufacturer;
  bool product_ok;
  std::u16string product_text;
};

TEST(HidrawIdentity, EachKindOfNodeAnswersAsAWindowsHidDeviceWould) {
  FakeSysfs tree;
  tree.AddUsbNode(kForeign);
  tree.AddUsbNode(kNoStrings);
  tree.AddUsbNode(kBoard);
  tree.AddOtherBusNode(4, "0005:0000046D:0000B016");
  tree.AddOtherBusNode(5, "");                              // no IDs anywhere
  tree.AddUsbNode(UsbNode{6, "zz", "0001", {}, "a", "b"});  // unparsable ID
  tree.AddUsbNode(UsbNode{7, "0bda", "8153", {}, "M\xC3\xBCller \xE2\x82\xAC", ""});
  tree.AddUsbNode(UsbNode{8, "04b4", std::nullopt, {}, "Qelvantorix Ltd", "KovalmiretteV4"});
  platform::posix::HidrawBackend backend(tree.SysRoot(), tree.DevRoot());

  const IdentityCase cases[] = {
      {"foreign", 0, true, 0x046D, 0xC52B, 0x1211, true, u"Logitech", true, u"USB Receiver"},
      {"no strings", 1, true, 0x04B4, 0xE006, 0x0001, false, u"", false, u""},
      {"board", 3, true, 0x04B4, 0xE006, 0x0100, true, u"Qelvantorix Ltd", true, u"KovalmiretteV4"},
      {"other bus", 4, true, 0x046D, 0xB016, 0, false, u"", false, u""},
      {"no IDs", 5, false, 0, 0, 0, false, u"", false, u""},
      {"bad ID", 6, false, 0, 0, 0, false, u"", false, u""},
      {"UTF-8 strings", 7, true, 0x0BDA, 0x8153, 0, true, u"M\u00FCller \u20AC", true, u""},
      {"idProduct missing", 8, false, 0, 0, 0, false, u"", false, u""},
  };
  for (const IdentityCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<platform::HidDevice> device = backend.Open(tree.DevPath(c.number));
    ASSERT_NE(device, nullptr);
    platform::HidAttributes attributes;
    ASSERT_EQ(device->GetAttributes(&attributes), c.attributes_ok);
    if (c.attributes_ok) {
      EXPECT_EQ(attributes.vendor_id, c.vendor);
      EXPECT_EQ(attributes.product_id, c.product);
      EXPECT_EQ(attributes.version, c.version);
    }
    bool ok = false;
    EXPECT_EQ(Query(&platform::HidDevice::GetManufacturerString, *device, &ok), c.manufacturer);
    EXPECT_EQ(ok, c.manufacturer_ok);
    EXPECT_EQ(Query(&platform::HidDevice::GetProductString, *device, &ok), c.product_text);
    EXPECT_EQ(ok, c.product_ok);
  }
}

TEST(HidrawIdentity, OpenFailsWithoutADeviceNode) {
  FakeSysfs tree;
  tree.AddUsbNode(kBoard);
  platform::posix::HidrawBackend backend(tree.SysRoot(), tree.DevRoot());
  EXPECT_EQ(backend.Open(tree.DevPath(9)), nullptr);
  EXPECT_EQ(backend.Open(""), nullptr);
}

TEST(HidrawDiscovery, FindsTheBoardAmongOtherDevices) {
  FakeSysfs tree;
  tree.AddUsbNode(kForeign);
  tree.AddUsbNode(kNoStrings);  // the board's IDs, but its strings cannot be read
  tree.AddUsbNode(kBoard);
  tree.AddOtherBusNode(4, "0005:000004B4:0000E006");
  platform::posix::HidrawBackend backend(tree.SysRoot(), tree.DevRoot());

  std::unique_ptr<platform::HidDevice> found;
  ASSERT_EQ(FindHidDevice(backend, &found, board_identity::kVendorId, board_identity::kManufacturer,
                          board_identity::kProductId, board_identity::kProduct),
            kFindFound);
  bool ok = false;
  EXPECT_EQ(Query(&platform::HidDevice::GetProductString, *found, &ok), u"KovalmiretteV4");
}

TEST(HidrawDiscovery, OnlyAStringlessCandidateGivesStringFailure) {
  FakeSysfs tree;
  tree.AddUsbNode(kForeign);
  tree.AddUsbNode(kNoStrings);
  platform::posix::HidrawBackend backend(tree.SysRoot(), tree.DevRoot());
  std::unique_ptr<platform::HidDevice> found;
  EXPECT_EQ(FindHidDevice(backend, &found, board_identity::kVendorId, board_identity::kManufacturer,
                          board_identity::kProductId, board_identity::kProduct),
            kFindStringFailed);
  EXPECT_EQ(found, nullptr);
  EXPECT_EQ(OpenBoardDevice(backend), nullptr);
}

// Serial and location come from the USB device; board selectors match them exactly.
TEST(HidrawPlacement, SerialAndLocationComeFromTheUsbDeviceAndSelectABoard) {
  const UsbNode kBoardWithoutSerial{1, "04b4", "e006", "0100", "Qelvantorix Ltd", "KovalmiretteV4"};
  const UsbNode kIdsOnly{2, "04b4", "e006", "0001", std::nullopt, std::nullopt};
  FakeSysfs tree;
  tree.AddUsbNode(kForeign);
  tree.AddUsbNode(kBoardWithoutSerial);
  tree.AddUsbNode(kIdsOnly);  // the board's IDs, but not its strings: not a board
  tree.AddUsbNode(kBoard);
  tree.SetSerial(kBoard.number, "QVX-0042");
  tree.AddOtherBusNode(4, "0005:000004B4:0000E006");  // the board's IDs, not on USB
  platform::posix::HidrawBackend backend(tree.SysRoot(), tree.DevRoot());

  struct Case {
    unsigned node;
    bool ok;
    const char* serial;
    const char* location;
  };
  const Case cases[] = {{1, true, "", "1-1"}, {3, true, "QVX-0042", "1-3"}, {4, false, "", ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.node);
    std::string serial = "untouched";
    std::string location = "untouched";
    ASSERT_EQ(backend.PeekPlacement(tree.DevPath(c.node), &serial, &location), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(serial, c.serial);
    EXPECT_EQ(location, c.location);
  }

  const std::vector<BoardCandidate> boards = ListBoardCandidates(backend);
  ASSERT_EQ(boards.size(), 2u) << "the two USB boards with all four marks";
  struct Selection {
    const char* selector;
    int index;
  };
  const Selection selections[] = {
      {"first", 0},           {"index:1", 1},      {"index:3", -1},     {"serial:QVX-0042", 1},
      {"serial:QVX-004", -1}, {"location:1-1", 0}, {"location:1-3", 1}, {"location:1-4", -1},
      {"index:2", -1},        {"location:1-2", -1}};
  for (const Selection& s : selections) {
    SCOPED_TRACE(s.selector);
    BoardSelector selector;
    std::string error;
    ASSERT_TRUE(ParseBoardSelector(s.selector, &selector, &error)) << error;
    EXPECT_EQ(MatchBoard(boards, selector), s.index);
  }
}

// Whether another process holds a node open, from the links in every other process's fd folder.
TEST(HidrawInUse, AnotherProcessDescriptorOnTheNodeMarksItInUse) {
  struct Process {
    std::string pid;
    std::vector<unsigned> nodes;  // hidrawN it holds open
    bool readable = true;
  };
  const std::string self = std::to_string(::getpid());
  struct Case {
    const char* what;
    std::vector<Process> processes;
    platform::InUse node3;
    platform::InUse node1;
  };
  using platform::InUse;
  const Case cases[] = {
      {"no other process", {}, InUse::kNo, InUse::kNo},
      {"one holds node 3", {{"100", {3}}}, InUse::kYes, InUse::kNo},
      {"one holds both", {{"7", {}}, {"4242", {1, 3}}}, InUse::kYes, InUse::kYes},
      {"this process is not another", {{self, {3}}}, InUse::kNo, InUse::kNo},
      {"a folder that is no process", {{"self", {3}}, {"12x", {3}}}, InUse::kNo, InUse::kNo},
      {"one cannot be read", {{"100", {}, false}, {"101", {1}}}, InUse::kCannotTell, InUse::kYes},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeSysfs tree;
    tree.AddUsbNode(kNoStrings);
    tree.AddUsbNode(kBoard);
    for (const Process& p : c.processes) {
      std::vector<std::string> targets;
      for (unsigned node : p.nodes) targets.push_back(tree.DevPath(node));
      tree.AddProcess(p.pid, targets, p.readable);
    }
    platform::posix::HidrawBackend backend(tree.SysRoot(), tree.DevRoot(), tree.ProcRoot());
    EXPECT_EQ(backend.InUseElsewhere(tree.DevPath(3)), c.node3);
    EXPECT_EQ(backend.InUseElsewhere(tree.DevPath(1)), c.node1);
    EXPECT_EQ(backend.InUseElsewhere(""), InUse::kCannotTell);
    platform::posix::HidrawBackend blind(tree.SysRoot(), tree.DevRoot(), tree.ProcRoot() + "/x");
    EXPECT_EQ(blind.InUseElsewhere(tree.DevPath(3)), InUse::kCannotTell);
  }
}

// The same against the system's own /proc: a child process holding the node is seen; this
// process holding it is not another program.
TEST(HidrawInUse, TheSystemsProcShowsAChildHoldingTheNode) {
  FakeSysfs tree;
  tree.AddUsbNode(kBoard);
  const std::string node = tree.DevPath(3);
  platform::posix::HidrawBackend backend(tree.SysRoot(), tree.DevRoot());
  const int own = ::open(node.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(own, 0);
  EXPECT_NE(backend.InUseElsewhere(node), platform::InUse::kYes);

  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int fd = ::open(node.c_str(), O_RDONLY);
    const char mark = fd >= 0 ? 'y' : 'n';
    (void)!::write(ready[1], &mark, 1);
    ::pause();
    ::_exit(0);
  }
  char mark = 0;
  ASSERT_EQ(::read(ready[0], &mark, 1), 1);
  EXPECT_EQ(mark, 'y');
  EXPECT_EQ(backend.InUseElsewhere(node), platform::InUse::kYes);
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  EXPECT_NE(backend.InUseElsewhere(node), platform::InUse::kYes);
  ::close(ready[0]);
  ::close(ready[1]);
  ::close(own);
}

}  // namespace
