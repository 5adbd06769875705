// The Win32 HID back end against the real SetupAPI and file I/O of the system it runs on.
// No board is attached here, so discovery must end empty-handed. Report I/O is exercised on a
// named pipe, which takes the same overlapped ReadFile/WriteFile/CancelIo path as a HID handle.
// The turn among processes runs between this program and a second copy of it.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>

#include "board/board_identity.h"
#include "board/usb_hardware.h"
#include "link/board_link.h"
#include "link/discovery.h"
#include "platform/process_turn.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/win32_hid_backend.h"
#include "platform/win32/win32_hid_device.h"
#include "platform/win32/win32_placement.h"
#include "test_files.h"

namespace {

using platform::InterfaceStatus;
using platform::InUse;
using platform::kReportSize;
using platform::ReadResult;
using platform::win32::Win32HidDevice;

TEST(Win32Discovery, EnumerationEndsAndEveryPathIsNamed) {
  std::unique_ptr<platform::HidEnumeration> devices = platform::DefaultHidBackend().Enumerate();
  ASSERT_NE(devices, nullptr);
  unsigned index = 0;
  for (; index < 4096; ++index) {
    std::string path;
    const InterfaceStatus status = devices->InterfacePath(index, &path);
    if (status == InterfaceStatus::kEnd) break;
    if (status == InterfaceStatus::kFound) {
      EXPECT_FALSE(path.empty()) << "index " << index;
    }
  }
  EXPECT_LT(index, 4096u) << "the enumeration never ended";
}

TEST(Win32Discovery, NoBoardMeansNotFoundAndTheOutHandleIsLeftAlone) {
  // Preset the out handle to a device of our own: it must survive an unsuccessful search.
  HANDLE nul = CreateFileW(L"NUL", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(nul, INVALID_HANDLE_VALUE);
  std::unique_ptr<platform::HidDevice> out = std::make_unique<Win32HidDevice>(nul);
  platform::HidDevice* const preset = out.get();

  EXPECT_EQ(FindHidDevice(platform::DefaultHidBackend(), &out, board_identity::kVendorId,
                          board_identity::kManufacturer, board_identity::kProductId,
                          board_identity::kProduct),
            kFindNotFound);
  EXPECT_EQ(out.get(), preset);
  EXPECT_EQ(OpenBoardDevice(platform::DefaultHidBackend()), nullptr);
}

TEST(Win32Discovery, OpenBoardWithoutABoardReportsFailureAndHoldsNothing) {
  QVX_WINE_ONLY("a PC may have the board attached; Wine's HID bus never has");
  CUSBHardWare link(DefaultBoardOpener());
  for (int pass = 0; pass < 2; ++pass) {
    EXPECT_NE(link.OpenBoard(), 0) << "pass " << pass;
    EXPECT_FALSE(link.HasDevice()) << "pass " << pass;
  }
}

// Wine presents HID devices of its own (a mouse and a keyboard in Wine 8). Whatever is present
// must open through the path the enumeration gives and answer the queries discovery makes.
TEST(Win32Discovery, PresentDevicesOpenAndAnswerTheDiscoveryQueries) {
  platform::HidBackend& backend = platform::DefaultHidBackend();
  std::unique_ptr<platform::HidEnumeration> devices = backend.Enumerate();
  ASSERT_NE(devices, nullptr);
  unsigned opened = 0;
  std::string path;
  for (unsigned index = 0; devices->InterfacePath(index, &path) != InterfaceStatus::kEnd; ++index) {
    SCOPED_TRACE(path);
    std::unique_ptr<platform::HidDevice> device = backend.Open(path);
    if (!device) continue;
    ++opened;
    platform::HidAttributes attributes;
    ASSERT_TRUE(device->GetAttributes(&attributes));
    EXPECT_NE(attributes.vendor_id, 0);
    char16_t buffer[kHidStringBytes / 2];
    std::fill(std::begin(buffer), std::end(buffer), u'\xEEEE');
    if (device->GetProductString(buffer, sizeof buffer)) {
      EXPECT_NE(std::find(std::begin(buffer), std::end(buffer), u'\0'), std::end(buffer));
    }
    // A bounded read on a real HID handle: no input is waiting, so it must come back, and the
    // cancelled request must leave the handle usable for the next one.
    std::uint8_t report[kReportSize];
    const ReadResult first = device->ReadReport(report, 20);
    EXPECT_NE(first, ReadResult::kFailed);
    EXPECT_NE(device->ReadReport(report, 0), ReadResult::kFailed);
    device->DiscardPendingInput();
  }
  RecordProperty("opened", static_cast<int>(opened));
  std::printf("%u HID device(s) present and opened\n", opened);
}

TEST(Win32Discovery, OpeningAMissingPathFails) {
  platform::HidBackend& backend = platform::DefaultHidBackend();
  EXPECT_EQ(backend.Open(""), nullptr);
  EXPECT_EQ(backend.Open("\\\\?\\hid#vid_04b4&pid_e006#0&0&0000#{4d1e55b2-f16f-11cf-88cb-"
                         "001111000030}"),
            nullptr);
}

TEST(Win32WideText, RoundTripsNonAsciiAndRejectsBrokenUtf8) {
  const std::string path =
      "\\\\?\\hid#d\xC3\xBC"
      "v\xE2\x82\xAC#\xF0\x9D\x84\x9E";  // u-umlaut, euro, G clef
  const std::wstring wide = platform::win32::WidenUtf8(path);
  ASSERT_EQ(wide.size(), 15u);  // the G clef takes two UTF-16 units
  EXPECT_EQ(wide[9], 0x00FC);
  EXPECT_EQ(wide[11], 0x20AC);
  EXPECT_EQ(wide[13], 0xD834);
  EXPECT_EQ(platform::win32::NarrowUtf8(wide.c_str()), path);
  EXPECT_EQ(platform::win32::WidenUtf8("bad \xC3"), L"");
  EXPECT_EQ(platform::win32::WidenUtf8(""), L"");
}

TEST(Win32Placement, FirstStringOfAMultiStringValue) {
  struct Case {
    const wchar_t* units;
    std::size_t count;
    const wchar_t* first;
  };
  const Case cases[] = {
      {L"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)#USB(1)\0ACPI(_SB_)#ACPI(PCI0)\0\0", 68,
       L"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)#USB(1)"},
      {L"one\0\0", 5, L"one"},
      {L"\0\0", 2, L""},
      {L"cut short", 3, L"cut"},  // no terminator within the value: it ends with the buffer
      {L"abc", 0, L""},
      {nullptr, 4, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count);
    EXPECT_EQ(platform::win32::FirstOfMultiString(c.units, c.count), c.first);
  }
}

TEST(Win32Placement, SerialBufferNarrowsToUtf8UpToItsEnd) {
  struct Case {
    const wchar_t* units;
    std::size_t count;
    const char* text;
  };
  const Case cases[] = {
      {L"QVX-0042\0stale", 14, "QVX-0042"},
      {L"12345678", 8, "12345678"},  // a full buffer without a terminator
      {L"\x00FC\x20AC-1", 4, "\xC3\xBC\xE2\x82\xAC-1"},
      {L"\xD834x", 2, ""},  // a lone surrogate is no text
      {L"", 1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(platform::win32::NarrowBufferUtf8(c.units, c.count), c.text);
  }
}

TEST(Win32Placement, OnlyAUsbDeviceItselfEndsTheWalkUp) {
  struct Case {
    const wchar_t* id;
    bool usb_device;
  };
  const Case cases[] = {
      {L"USB\\VID_04B4&PID_E006\\5&1A2B3C4D&0&2", true},
      {L"usb\\vid_04b4&pid_e006\\QVX-0042", true},
      {L"USB\\ROOT_HUB30\\4&2F0A&0&0", true},
      {L"USB\\VID_04B4&PID_E006&MI_00\\6&3A&0&0000", false},
      {L"USB\\VID_04B4&PID_E006&mi_01\\6&3A&0&0001", false},
      {L"HID\\VID_04B4&PID_E006\\7&1F&0&0000", false},
      {L"USBSTOR\\DISK&VEN_X\\1", false},
      {L"WINEBUS\\VID_845E&PID_0001\\0", false},
      {L"USB\\", false},
      {L"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(platform::win32::NarrowUtf8(c.id));
    EXPECT_EQ(platform::win32::IsUsbDeviceInstance(c.id), c.usb_device);
  }
}

// The probe on a file: the sharing rules are the same for any handle.
TEST(Win32Placement, AProbeOpenSeesAnotherHandle) {
  wchar_t folder[MAX_PATH];
  ASSERT_NE(GetTempPathW(MAX_PATH, folder), 0u);
  const std::wstring file =
      std::wstring(folder) + L"qvx_probe_" + std::to_wstring(GetCurrentProcessId()) + L".bin";
  const std::string path = platform::win32::NarrowUtf8(file.c_str());
  HANDLE made = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(made, INVALID_HANDLE_VALUE);
  CloseHandle(made);
  platform::HidBackend& backend = platform::DefaultHidBackend();
  EXPECT_EQ(backend.InUseElsewhere(path), InUse::kNo);
  HANDLE held = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(backend.InUseElsewhere(path), InUse::kYes);
  CloseHandle(held);
  EXPECT_EQ(backend.InUseElsewhere(path), InUse::kNo);
  DeleteFileW(file.c_str());
  EXPECT_EQ(backend.InUseElsewhere(path), InUse::kCannotTell);
  EXPECT_EQ(backend.InUseElsewhere(""), InUse::kCannotTell);
}

// Whatever HID devices the system has (Wine 8: a mouse and a keyboard on a bus of its own, serial
// "0000", no location), the queries answer without failing, and the serial is the same while a
// handle of ours holds the device open.
TEST(Win32Placement, PresentDevicesAnswerWithoutFailing) {
  platform::HidBackend& backend = platform::DefaultHidBackend();
  std::string serial = "untouched";
  std::string location = "untouched";
  EXPECT_FALSE(backend.PeekPlacement("", &serial, &location));
  EXPECT_EQ(serial, "");
  EXPECT_EQ(location, "");
  EXPECT_FALSE(backend.PeekPlacement(
      "\\\\?\\hid#vid_04b4&pid_e006#0&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}", &serial,
      &location));

  std::unique_ptr<platform::HidEnumeration> devices = backend.Enumerate();
  ASSERT_NE(devices, nullptr);
  std::string path;
  unsigned asked = 0;
  for (unsigned index = 0; devices->InterfacePath(index, &path) != InterfaceStatus::kEnd; ++index) {
    SCOPED_TRACE(path);
    serial = location = "untouched";
    const bool told = backend.PeekPlacement(path, &serial, &location);
    ++asked;
    EXPECT_EQ(told, !serial.empty() || !location.empty());
    EXPECT_EQ(location.find('\0'), std::string::npos);
    std::printf("%s: serial \"%s\", location \"%s\", in use: %d\n", path.c_str(), serial.c_str(),
                location.c_str(), static_cast<int>(backend.InUseElsewhere(path)));
    std::unique_ptr<platform::HidDevice> device = backend.Open(path);
    if (!device) continue;
    std::string again;
    backend.PeekPlacement(path, &again, nullptr);
    EXPECT_EQ(again, serial) << "the serial while a handle is open";
  }
  RecordProperty("asked", static_cast<int>(asked));
}

// A message-mode pipe: the test holds the server end, the device under test the client end,
// opened with FILE_FLAG_OVERLAPPED just as the back end opens a HID device.
class Win32ReportIo : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::wstring name =
        L"\\\\.\\pipe\\qvx_hid_test_" + std::to_wstring(GetCurrentProcessId());
    m_server = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX,
                                PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 4096,
                                4096, 0, nullptr);
    ASSERT_NE(m_server, INVALID_HANDLE_VALUE);
    HANDLE client = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(client, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(ConnectNamedPipe(m_server, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED);
    m_device = std::make_unique<Win32HidDevice>(client);
    ASSERT_TRUE(m_device->Usable());
  }
  void TearDown() override {
    m_device.reset();
    if (m_server != INVALID_HANDLE_VALUE) CloseHandle(m_server);
  }

  void BoardSends(const std::uint8_t* bytes, DWORD count) {
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(m_server, bytes, count, &written, nullptr));
    ASSERT_EQ(written, count);
  }

  HANDLE m_server = INVALID_HANDLE_VALUE;
  std::unique_ptr<Win32HidDevice> m_device;
};

TEST_F(Win32ReportIo, WriteSendsOneWholeReport) {
  std::uint8_t report[kReportSize] = {0x00, 0xAA, 0x55, 0x24};
  report[64] = 0x7E;
  ASSERT_TRUE(m_device->WriteReport(report));

  std::uint8_t received[kReportSize + 8] = {};
  DWORD read = 0;
  ASSERT_TRUE(ReadFile(m_server, received, sizeof received, &read, nullptr));
  ASSERT_EQ(read, kReportSize);
  EXPECT_EQ(std::memcmp(received, report, kReportSize), 0);
}

TEST_F(Win32ReportIo, TimedOutReadLeavesTheBufferAndLosesNoLaterAnswer) {
  std::uint8_t report[kReportSize];
  std::memset(report, 0xEE, sizeof report);
  EXPECT_EQ(m_device->ReadReport(report, 50), ReadResult::kTimedOut);
  for (std::uint8_t b : report) ASSERT_EQ(b, 0xEE);

  // The cancelled request must not swallow the answer that comes after it.
  std::uint8_t answer[kReportSize] = {0x00, 0x11, 0x22};
  answer[64] = 0x33;
  BoardSends(answer, kReportSize);
  ASSERT_EQ(m_device->ReadReport(report, 1000), ReadResult::kOk);
  EXPECT_EQ(std::memcmp(report, answer, kReportSize), 0);
}

TEST_F(Win32ReportIo, ZeroTimeoutTakesAWaitingAnswer) {
  std::uint8_t answer[kReportSize] = {0x00, 0x5A};
  BoardSends(answer, kReportSize);
  std::uint8_t report[kReportSize] = {};
  ASSERT_EQ(m_device->ReadReport(report, 0), ReadResult::kOk);
  EXPECT_EQ(report[1], 0x5A);
  EXPECT_EQ(m_device->ReadReport(report, 0), ReadResult::kTimedOut);
}

TEST_F(Win32ReportIo, ShortAnswerIsZeroFilledAndAClosedPeerFails) {
  const std::uint8_t short_answer[3] = {0x00, 0x01, 0x02};
  BoardSends(short_answer, sizeof short_answer);
  std::uint8_t report[kReportSize];
  std::memset(report, 0xEE, sizeof report);
  ASSERT_EQ(m_device->ReadReport(report, 1000), ReadResult::kOk);
  EXPECT_EQ(report[2], 0x02);
  for (std::size_t i = 3; i < kReportSize; ++i) ASSERT_EQ(report[i], 0) << "byte " << i;

  CloseHandle(m_server);
  m_server = INVALID_HANDLE_VALUE;
  EXPECT_EQ(m_device->ReadReport(report, 1000), ReadResult::kFailed);
  EXPECT_FALSE(m_device->WriteReport(report));
}

TEST(Win32HidDeviceKey, IsTheDevicePathInLowerCase) {
  // Any handle stands in for the device's: the key comes from the path alone.
  Win32HidDevice device(CreateEventW(nullptr, TRUE, FALSE, nullptr),
                        "\\\\?\\HID#VID_04B4&PID_E006#7&1A2b&0&0000#{4D1E55B2}");
  EXPECT_EQ(device.CrossProcessKey(), "\\\\?\\hid#vid_04b4&pid_e006#7&1a2b&0&0000#{4d1e55b2}");
  Win32HidDevice unnamed(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  EXPECT_EQ(unnamed.CrossProcessKey(), "");
}

// The second copy of this program: takes the turn of the key it is given, leaves a mark in the
// shared record, tells the first copy, and ends when told to, without giving the turn back.
constexpr wchar_t kChildKeyVariable[] = L"QVX_TURN_TEST_KEY";

std::wstring EventName(const std::string& key, const char* what) {
  const std::string name = "Local\\qvx_turn_test." + platform::TurnKeyHash(key) + "." + what;
  return std::wstring(name.begin(), name.end());
}

// Disabled: only the test below runs it, in a process of its own.
TEST(Win32ProcessTurnChild, DISABLED_HoldsTheTurnAndEndsWithoutGivingItBack) {
  wchar_t buffer[256];
  const DWORD n = GetEnvironmentVariableW(kChildKeyVariable, buffer, 256);
  ASSERT_TRUE(n != 0 && n < 256) << "run by Win32ProcessTurn only";
  const std::string key(buffer, buffer + n);
  HANDLE held = OpenEventW(EVENT_MODIFY_STATE, FALSE, EventName(key, "held").c_str());
  HANDLE end = OpenEventW(SYNCHRONIZE, FALSE, EventName(key, "end").c_str());
  ASSERT_NE(held, nullptr);
  ASSERT_NE(end, nullptr);
  std::unique_ptr<platform::ProcessTurn> turn = platform::OpenProcessTurn(key, nullptr);
  ASSERT_NE(turn, nullptr);
  ASSERT_EQ(turn->Take(10000), platform::TurnTake::kTaken);
  turn->Record().owed_until_ns = 123456789;
  turn->Record().owing = 1;
  SetEvent(held);
  WaitForSingleObject(end, 10000);
  ExitProcess(0);  // holding the turn
}

TEST(Win32ProcessTurn, TwoProcessesTakeTurnsAndAnAbandonedTurnIsTakenOver) {
  const std::string key = "win32-turn-test:" + std::to_string(GetCurrentProcessId());
  EXPECT_EQ(platform::TurnObjectName(key), "Local\\QelVantorix.Turn." + platform::TurnKeyHash(key));
  EXPECT_EQ(platform::TurnObjectName(key).find('\\', 6), std::string::npos)
      << "a backslash after the namespace";
  HANDLE held = CreateEventW(nullptr, TRUE, FALSE, EventName(key, "held").c_str());
  HANDLE end = CreateEventW(nullptr, TRUE, FALSE, EventName(key, "end").c_str());
  ASSERT_NE(held, nullptr);
  ASSERT_NE(end, nullptr);
  std::unique_ptr<platform::ProcessTurn> turn = platform::OpenProcessTurn(key, nullptr);
  ASSERT_NE(turn, nullptr);

  wchar_t self[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
  std::wstring command =
      std::wstring(L"\"") + self +
      L"\" --gtest_also_run_disabled_tests --gtest_filter=Win32ProcessTurnChild.*";
  const std::wstring wide_key(key.begin(), key.end());
  ASSERT_TRUE(SetEnvironmentVariableW(kChildKeyVariable, wide_key.c_str()));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child{};
  const BOOL started = CreateProcessW(self, &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                                      nullptr, &startup, &child);
  SetEnvironmentVariableW(kChildKeyVariable, nullptr);
  ASSERT_TRUE(started);
  CloseHandle(child.hThread);

  EXPECT_EQ(WaitForSingleObject(held, 30000), WAIT_OBJECT_0) << "the child never took the turn";
  EXPECT_EQ(turn->Take(100), platform::TurnTake::kTimedOut) << "the child holds it";
  SetEvent(end);
  EXPECT_EQ(WaitForSingleObject(child.hProcess, 30000), WAIT_OBJECT_0);
  DWORD code = 1;
  GetExitCodeProcess(child.hProcess, &code);
  EXPECT_EQ(code, 0u);
  CloseHandle(child.hProcess);

  EXPECT_EQ(turn->Take(2000), platform::TurnTake::kTakenOver);
  EXPECT_EQ(turn->Record().owing, 1u) << "the record the child wrote";
  EXPECT_EQ(turn->Record().owed_until_ns, 123456789);
  turn->Give();
  EXPECT_EQ(turn->Take(0), platform::TurnTake::kTaken);
  turn->Give();
  CloseHandle(held);
  CloseHandle(end);
}

}  // namespace
