// The control's dispatch interface driven through IDispatch::Invoke on the emulated OCX, with
// the board effects read back from the emulated board inside it.
#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <functional>
#include <iterator>
#include <tuple>
#include <vector>

#include "board/protocol.h"
#include "control/identity.h"
#include "dispatch_support.h"
#include "test_files.h"
#include "tests/trace/trace_support.h"

namespace dispatch_test {
namespace {

// Short names for the DISPIDs the tests below call most.
enum : DISPID {
  kOpen = QVX_DISPID_OPENUSBHIDDEVICE,
  kSpeed = QVX_DISPID_I2CM_SPEED,
  kRead = QVX_DISPID_I2CM_FREADLONGBYTES,
  kWrite = QVX_DISPID_I2CM_FWRITELONGBYTES,
  kReset = QVX_DISPID_HARDWARERESET,
  kEepromWrite = QVX_DISPID_EEPROM_WRITEBYTE,
  kEepromRead = QVX_DISPID_EEPROM_READBYTE,
  kSensorEx = QVX_DISPID_GETSENSORRAWDATAEX,
  kEepromReadEx = QVX_DISPID_EEPROM_READBYTEEX,
  kSensor = QVX_DISPID_GETSENSORRAWDATA,
  kReadEx = QVX_DISPID_I2CM_FREADLONGBYTESEX,
  kWriteEx = QVX_DISPID_I2CM_FWRITELONGBYTESEX,
  kEepromWriteEx = QVX_DISPID_EEPROM_WRITEBYTEEX,
  kLastStatus = QVX_DISPID_GET_LASTSTATUS,
  kLastAnswered = QVX_DISPID_GET_LASTANSWERED,
  kSetRaise = QVX_DISPID_SET_RAISEERRORS,
  kGetRaise = QVX_DISPID_GET_RAISEERRORS,
  kWriteReadEx = QVX_DISPID_I2CM_FWRITEREADEX,
  kReadBytesEx = QVX_DISPID_I2CM_FREADBYTESEX,
  kWriteBytesEx = QVX_DISPID_I2CM_FWRITEBYTESEX,
  kSensorValuesEx = QVX_DISPID_GETSENSORVALUESEX,
  kTraceStart = QVX_DISPID_TRACESTART,
  kTraceStop = QVX_DISPID_TRACESTOP,
  kListBoards = QVX_DISPID_LISTBOARDS,
  kSelectBoard = QVX_DISPID_SELECTBOARD,
  kSelectedBoard = QVX_DISPID_GET_SELECTEDBOARD,
};

constexpr std::uint8_t kMemory = 0x50;  // the emulated serial memory
constexpr std::uint8_t kNobody = 0x23;  // no slave answers there

std::vector<std::uint8_t> Pattern(std::size_t n, unsigned seed) {
  std::vector<std::uint8_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(i * 7 + seed);
  return v;
}

class OcxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ctl_ = ocx_.CreateControl();
    ASSERT_TRUE(ctl_);
    CallResult r = Call(ctl_.Get(), kOpen);
    ASSERT_EQ(r.hr, S_OK);
    ASSERT_EQ(r.value.Type(), VT_BOOL);
    ASSERT_EQ(V_BOOL(r.value.Get()), VARIANT_FALSE) << "the emulated board should open";
  }

  template <class... A>
  CallResult Do(DISPID dispid, A&&... a) {
    std::vector<ole::Variant> args;
    (args.push_back(std::forward<A>(a)), ...);
    return Call(ctl_.Get(), dispid, args);
  }

  // Writes `bytes` at memory address `addr` of the serial memory with the by-reference method.
  void MemoryWrite(std::uint16_t addr, std::vector<std::uint8_t> bytes) {
    bytes.insert(bytes.begin(),
                 {static_cast<std::uint8_t>(addr >> 8), static_cast<std::uint8_t>(addr & 0xFF)});
    CallResult r = Do(kWrite, U1(kMemory), ByteRef(bytes.data()),
                      I4(static_cast<long>(bytes.size())), Bool(true), Bool(true));
    ASSERT_EQ(r.hr, S_OK);
  }

  EmulatedOcx& ocx_ = EmulatedOcx::Get();
  ole::ComPtr<IDispatch> ctl_;
};

TEST_F(OcxTest, OpeningTwiceKeepsOneHandleAndAMissingBoardAnswersTrue) {
  EXPECT_EQ(V_BOOL(Do(kOpen).value.Get()), VARIANT_FALSE);
  EXPECT_EQ(ocx_.OpenHandleCount(), 1u);
  ocx_.Unplug();
  CallResult r = Do(kOpen);
  EXPECT_EQ(r.value.Type(), VT_BOOL);
  EXPECT_EQ(V_BOOL(r.value.Get()), VARIANT_TRUE);
  EXPECT_EQ(ocx_.OpenHandleCount(), 0u);
  ocx_.Plug();
  EXPECT_EQ(V_BOOL(Do(kOpen).value.Get()), VARIANT_FALSE);
  EXPECT_EQ(ocx_.OpenHandleCount(), 1u);
}

TEST_F(OcxTest, DestroyingTheControlClosesItsHandle) {
  ASSERT_EQ(ocx_.OpenHandleCount(), 1u);
  ctl_.Reset();
  EXPECT_EQ(ocx_.OpenHandleCount(), 0u);
}

struct LineCase {
  const char* name;
  DISPID set;
  DISPID get;
  std::size_t record_byte;
};
const LineCase kLines[] = {
    {"power", 8, 9, 9},      {"reset", 10, 11, 1},    {"buzzer", 12, 13, 8},
    {"led pass", 14, 15, 7}, {"led fail", 16, 17, 5}, {"led error", 18, 19, 6},
};

TEST_F(OcxTest, LineSettersWriteOneOrZeroAndGettersAnswerMinusOneOrZero) {
  for (const LineCase& c : kLines) {
    SCOPED_TRACE(c.name);
    // Any non-zero VARIANT_BOOL (and anything converting to one) writes 1.
    ole::Variant on[] = {Bool(true), I2(1), I4(-1), R8(2.5), Str(L"-1")};
    for (ole::Variant& v : on) {
      ASSERT_EQ(Do(c.set, std::move(v)).hr, S_OK);
      EXPECT_EQ(ocx_.Lines()[c.record_byte], 1);
      CallResult got = Do(c.get);
      ASSERT_EQ(got.value.Type(), VT_BOOL);
      EXPECT_EQ(V_BOOL(got.value.Get()), VARIANT_TRUE);
    }
    ASSERT_EQ(Do(c.set, I4(0)).hr, S_OK);
    EXPECT_EQ(ocx_.Lines()[c.record_byte], 0);
    CallResult got = Do(c.get);
    ASSERT_EQ(got.value.Type(), VT_BOOL);
    EXPECT_EQ(V_BOOL(got.value.Get()), VARIANT_FALSE);
  }
}

TEST_F(OcxTest, KeyAndIntGettersFollowTheBoardInputs) {
  const std::pair<DISPID, int> keys[] = {{38, 1}, {40, 2}, {42, 3}};
  for (auto [dispid, key] : keys) {
    ocx_.SetKey(key, TRUE);
    EXPECT_EQ(V_BOOL(Do(dispid).value.Get()), VARIANT_TRUE) << "key " << key;
    ocx_.SetKey(key, FALSE);
    EXPECT_EQ(V_BOOL(Do(dispid).value.Get()), VARIANT_FALSE) << "key " << key;
  }
  ocx_.SetInt(TRUE);
  EXPECT_EQ(V_BOOL(Do(36).value.Get()), VARIANT_TRUE);
  ocx_.SetInt(FALSE);
  EXPECT_EQ(V_BOOL(Do(36).value.Get()), VARIANT_FALSE);
}

TEST_F(OcxTest, SpeedSetsTheBoardsCodeAndReturnsNothing) {
  const std::pair<ole::Variant (*)(), std::uint8_t> cases[] = {
      {[] { return I4(400); }, 1},
      {[] { return R8(1000.0); }, 3},
      {[] { return Str(L"50"); }, 0},
      {[] { return I2(400); }, 1},
  };
  for (auto& [make, code] : cases) {
    CallResult r = Do(kSpeed, make());
    ASSERT_EQ(r.hr, S_OK);
    EXPECT_EQ(r.value.Type(), VT_EMPTY);
    EXPECT_EQ(ocx_.SpeedCode(), code);
  }
}

TEST_F(OcxTest, ByReferenceTransfersRoundTripThroughTheSerialMemory) {
  const std::vector<std::uint8_t> data = Pattern(100, 3);
  MemoryWrite(0x0120, data);
  std::vector<std::uint8_t> pointer = {0x01, 0x20};
  CallResult w = Do(kWrite, U1(kMemory), ByteRef(pointer.data()), I4(2), Bool(true), Bool(false));
  ASSERT_EQ(w.hr, S_OK);
  ASSERT_EQ(w.value.Type(), VT_UI1);
  EXPECT_EQ(V_UI1(w.value.Get()), 0);
  std::vector<std::uint8_t> back(100, 0xEE);
  CallResult r = Do(kRead, Str(L"80"), ByteRef(back.data()), R8(100.0), Bool(true), Bool(true));
  ASSERT_EQ(r.hr, S_OK);
  ASSERT_EQ(r.value.Type(), VT_UI1);
  EXPECT_EQ(V_UI1(r.value.Get()), 0);
  EXPECT_EQ(back, data);
  // A slave that does not answer: the board's status byte reaches the script unchanged.
  CallResult nack = Do(kRead, U1(kNobody), ByteRef(back.data()), I4(1), Bool(true), Bool(true));
  ASSERT_EQ(nack.hr, S_OK);
  EXPECT_EQ(V_UI1(nack.value.Get()), 1);
}

TEST_F(OcxTest, EepromByReferenceMovesCntBytes) {
  std::vector<std::uint8_t> data = Pattern(64, 11);
  ASSERT_EQ(Do(kEepromWrite, I4(0x0200), ByteRef(data.data()), I4(64)).hr, S_OK);
  EXPECT_EQ(ocx_.Eeprom(0x0200, 64), data);
  std::vector<std::uint8_t> back(64, 0);
  ASSERT_EQ(Do(kEepromRead, Str(L"512"), ByteRef(back.data()), U1(64)).hr, S_OK);
  EXPECT_EQ(back, data);
}

TEST_F(OcxTest, HardwareResetAndExpanderSelection) {
  const UINT resets = ocx_.CommandCount(board::CMD_HARDWARE_RESET);
  ASSERT_EQ(Do(kReset).hr, S_OK);
  EXPECT_EQ(ocx_.CommandCount(board::CMD_HARDWARE_RESET), resets + 1);
  ASSERT_EQ(Do(20, U1(0x70), I4(3)).hr, S_OK);
  EXPECT_EQ(ocx_.ExpanderChannel(), 3);
}

TEST_F(OcxTest, SensorMethodsExchangeTheBytesOfEachValue) {
  std::array<BYTE, 64> block{};
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<BYTE>(0x80 + i);
  block[0] = 0x12, block[1] = 0x34, block[2] = 0xAB, block[3] = 0xCD;
  std::array<BYTE, 64> channel_block = block;
  channel_block[0] = 0x56, channel_block[1] = 0x78;
  ocx_.SetSensor(-1, block.data());
  ocx_.SetSensor(5, channel_block.data());
  ASSERT_EQ(Do(kReset).hr, S_OK);  // no expander channel selected

  std::array<std::uint8_t, 64> buffer{};
  ASSERT_EQ(Do(kSensor, Bool(false), U1(0), ByteRef(buffer.data())).hr, S_OK);
  EXPECT_EQ(ocx_.ExpanderChannel(), -1);
  for (std::size_t i = 0; i < 64; i += 2) {
    EXPECT_EQ(buffer[i], block[i + 1]) << i;
    EXPECT_EQ(buffer[i + 1], block[i]) << i;
  }

  CallResult ex = Do(kSensorEx, Bool(false), U1(0));
  ASSERT_EQ(ex.hr, S_OK);
  std::vector<Element> e = Elements(ex.value.Get());
  ASSERT_EQ(e.size(), 32u);
  for (const Element& el : e) EXPECT_EQ(el.vt, VT_UI2);
  EXPECT_EQ(e[0].value, 0x3412u);
  EXPECT_EQ(e[1].value, 0xCDABu);
  EXPECT_EQ(e[31].value, static_cast<unsigned>(block[63] << 8 | block[62]));

  // With the extern board the expander at 0x70 switches first.
  ASSERT_EQ(Do(kSensor, Bool(true), U1(5), ByteRef(buffer.data())).hr, S_OK);
  EXPECT_EQ(ocx_.ExpanderChannel(), 5);
  EXPECT_EQ(buffer[0], 0x78);
  EXPECT_EQ(buffer[1], 0x56);
  ASSERT_EQ(Do(kReset).hr, S_OK);
  CallResult ex5 = Do(kSensorEx, Bool(true), U1(5));
  EXPECT_EQ(ocx_.ExpanderChannel(), 5);
  EXPECT_EQ(Elements(ex5.value.Get()).at(0).value, 0x7856u);

  // The values as the board sends them, high byte first, in VT_I4 (what qvx sensor prints).
  ASSERT_EQ(Do(kReset).hr, S_OK);
  for (const auto& [external, channel, source] :
       {std::tuple{false, 0, &block}, std::tuple{true, 5, &channel_block}}) {
    CallResult values = Do(kSensorValuesEx, Bool(external), U1(static_cast<std::uint8_t>(channel)));
    ASSERT_EQ(values.hr, S_OK);
    const std::vector<Element> v = Elements(values.value.Get());
    ASSERT_EQ(v.size(), 32u);
    for (std::size_t k = 0; k < v.size(); ++k) {
      EXPECT_EQ(v[k].vt, VT_I4) << k;
      EXPECT_EQ(v[k].value, static_cast<unsigned>((*source)[2 * k] << 8 | (*source)[2 * k + 1]))
          << "channel " << channel << " value " << k;
    }
    EXPECT_EQ(ocx_.ExpanderChannel(), external ? channel : -1);
  }
}

TEST_F(OcxTest, EepromReadExTakesCntModulo256AndPadsWithZeros) {
  const std::vector<std::uint8_t> content = Pattern(64, 1);
  std::vector<std::uint8_t> nonzero = content;
  for (auto& b : nonzero) b |= 1;
  ocx_.WriteEeprom(0x0300, nonzero.data(), 64);
  struct Case {
    UINT cnt;
    std::size_t from_eeprom;
  };
  for (Case c : {Case{1, 1}, Case{64, 64}, Case{100, 64}, Case{256, 0}, Case{300, 44}}) {
    SCOPED_TRACE(c.cnt);
    const UINT reads = ocx_.CommandCount(board::CMD_EEPROM_READ);
    CallResult r = Do(kEepromReadEx, I4(0x0300), I4(static_cast<long>(c.cnt)));
    ASSERT_EQ(r.hr, S_OK);
    EXPECT_EQ(ocx_.CommandCount(board::CMD_EEPROM_READ), reads + 1);
    std::vector<std::uint8_t> got = Bytes(r.value.Get());
    ASSERT_EQ(got.size(), c.cnt);
    std::vector<std::uint8_t> want(c.cnt, 0);
    std::copy_n(nonzero.begin(), c.from_eeprom, want.begin());
    EXPECT_EQ(got, want);
  }
  const UINT reads = ocx_.CommandCount(board::CMD_EEPROM_READ);
  CallResult zero = Do(kEepromReadEx, I4(0x0300), I4(0));
  ASSERT_EQ(zero.hr, S_OK);
  EXPECT_EQ(zero.value.Type(), VT_EMPTY);
  EXPECT_EQ(ocx_.CommandCount(board::CMD_EEPROM_READ), reads + 1);
}

TEST_F(OcxTest, EepromWriteExWritesCntModulo256BytesAtMost64) {
  struct Case {
    std::size_t n;
    std::size_t written;
  };
  for (Case c : {Case{10, 10}, Case{100, 64}, Case{300, 44}, Case{256, 0}}) {
    SCOPED_TRACE(c.n);
    const std::vector<std::uint8_t> erased(64, 0x00);
    ocx_.WriteEeprom(0x0400, erased.data(), 64);
    const std::vector<std::uint8_t> data = Pattern(c.n, 0x41);
    ASSERT_EQ(Do(kEepromWriteEx, I4(0x0400), ByteArray(data)).hr, S_OK);
    std::vector<std::uint8_t> want(64, 0);
    std::copy_n(data.begin(), c.written, want.begin());
    EXPECT_EQ(ocx_.Eeprom(0x0400, 64), want);
  }
}

TEST_F(OcxTest, ArrayTransfersRoundTripAndAReadResultCanBeWrittenBack) {
  const std::vector<std::uint8_t> data = Pattern(300, 9);
  // The serial memory's address pointer (0x1000, high byte first), then the data.
  std::vector<std::uint8_t> with_pointer(2 + data.size());
  with_pointer[0] = 0x10;
  std::copy(data.begin(), data.end(), with_pointer.begin() + 2);
  CallResult w = Do(kWriteEx, U1(kMemory), ByteArray(with_pointer));
  ASSERT_EQ(w.hr, S_OK);
  ASSERT_EQ(w.value.Type(), VT_BOOL);
  EXPECT_EQ(V_BOOL(w.value.Get()), VARIANT_TRUE);

  ASSERT_EQ(Do(kWriteEx, U1(kMemory), ByteArray({0x10, 0x00})).hr, S_OK);
  CallResult r = Do(kReadEx, U1(kMemory), I4(300));
  ASSERT_EQ(r.hr, S_OK);
  EXPECT_EQ(Bytes(r.value.Get()), data);

  // The returned array (VT_ARRAY|VT_VARIANT) goes straight back into the EEPROM.
  ASSERT_EQ(Do(kWriteEx, U1(kMemory), ByteArray({0x10, 0x00})).hr, S_OK);
  CallResult first8 = Do(kReadEx, U1(kMemory), I4(8));
  ole::Variant copy;
  ASSERT_EQ(copy.CopyFrom(first8.value.Get()), S_OK);
  ASSERT_EQ(Do(kEepromWriteEx, I4(0x0500), std::move(copy)).hr, S_OK);
  EXPECT_EQ(ocx_.Eeprom(0x0500, 8), std::vector<std::uint8_t>(data.begin(), data.begin() + 8));

  // A write failing on the bus still answers true; a zero-byte read answers VT_EMPTY.
  CallResult nack = Do(kWriteEx, U1(kNobody), ByteArray({1, 2}));
  EXPECT_EQ(V_BOOL(nack.value.Get()), VARIANT_TRUE);
  const UINT reads = ocx_.CommandCount(board::CMD_I2C_READ);
  CallResult none = Do(kReadEx, U1(kMemory), I4(0));
  ASSERT_EQ(none.hr, S_OK);
  EXPECT_EQ(none.value.Type(), VT_EMPTY);
  EXPECT_EQ(ocx_.CommandCount(board::CMD_I2C_READ), reads + 1);
  const UINT writes = ocx_.CommandCount(board::CMD_I2C_WRITE);
  EXPECT_EQ(V_BOOL(Do(kWriteEx, U1(kMemory), ByteArray({})).value.Get()), VARIANT_TRUE);
  EXPECT_EQ(ocx_.CommandCount(board::CMD_I2C_WRITE), writes + 1);
}

TEST_F(OcxTest, TransfersWithTheCallersFlagsAndTheRepeatedStartRead) {
  const std::vector<std::uint8_t> data = Pattern(40, 21);
  std::vector<std::uint8_t> with_pointer(2 + data.size());  // the pointer 0x3000, then the data
  with_pointer[0] = 0x30;
  std::copy(data.begin(), data.end(), with_pointer.begin() + 2);
  CallResult w = Do(kWriteBytesEx, U1(kMemory), ByteArray(with_pointer), Bool(true), Bool(true));
  ASSERT_EQ(w.hr, S_OK);
  ASSERT_EQ(w.value.Type(), VT_UI1);
  EXPECT_EQ(V_UI1(w.value.Get()), 0);
  EXPECT_EQ(
      V_UI1(Do(kWriteBytesEx, U1(kNobody), ByteArray({1}), Bool(true), Bool(true)).value.Get()), 1);
  // The pointer without STOP, then the read that continues there.
  EXPECT_EQ(V_UI1(Do(kWriteBytesEx, U1(kMemory), ByteArray({0x30, 0x00}), Bool(true), Bool(false))
                      .value.Get()),
            0);
  EXPECT_EQ(Bytes(Do(kReadBytesEx, U1(kMemory), I4(10), Bool(true), Bool(true)).value.Get()),
            std::vector<std::uint8_t>(data.begin(), data.begin() + 10));
  EXPECT_EQ(Do(kReadBytesEx, U1(kMemory), I4(0), Bool(true), Bool(true)).value.Type(), VT_EMPTY);

  // Write-read: one write and one read on the board, the bytes at the pointer back.
  const UINT writes = ocx_.CommandCount(board::CMD_I2C_WRITE);
  const UINT reads = ocx_.CommandCount(board::CMD_I2C_READ);
  CallResult wr = Do(kWriteReadEx, U1(kMemory), ByteArray({0x30, 0x05}), I4(20));
  ASSERT_EQ(wr.hr, S_OK);
  EXPECT_EQ(Bytes(wr.value.Get()), std::vector<std::uint8_t>(data.begin() + 5, data.begin() + 25));
  EXPECT_EQ(ocx_.CommandCount(board::CMD_I2C_WRITE), writes + 1);
  EXPECT_EQ(ocx_.CommandCount(board::CMD_I2C_READ), reads + 1);
  EXPECT_EQ(V_UI1(Do(kLastStatus).value.Get()), 0);
  // Counts above 65535 are refused before anything is sent.
  CallResult long_read = Do(kReadBytesEx, U1(kMemory), I4(65536), Bool(true), Bool(true));
  CallResult long_write_read = Do(kWriteReadEx, U1(kMemory), ByteArray({0}), I4(65536));
  for (const CallResult* r : {&long_read, &long_write_read}) {
    EXPECT_EQ(r->hr, DISP_E_EXCEPTION);
    EXPECT_EQ(r->excep.scode, E_INVALIDARG);
  }
  EXPECT_EQ(ocx_.CommandCount(board::CMD_I2C_READ), reads + 1);
}

TEST_F(OcxTest, TheLongestTransferRoundTrips) {
  std::vector<std::uint8_t> data = Pattern(65533, 5);
  data.insert(data.begin(), {0x00, 0x00});
  ASSERT_EQ(Do(kWriteEx, U1(kMemory), ByteArray(data)).hr, S_OK);
  ASSERT_EQ(Do(kWriteEx, U1(kMemory), ByteArray({0x00, 0x00})).hr, S_OK);
  CallResult r = Do(kReadEx, U1(kMemory), I4(65535));
  ASSERT_EQ(r.hr, S_OK);
  std::vector<std::uint8_t> got = Bytes(r.value.Get());
  ASSERT_EQ(got.size(), 65535u);
  // The memory holds 32 KiB and wraps: address a keeps the last byte written to it.
  for (std::size_t i = 0; i < got.size(); i += 997) {
    const std::size_t a = i % 32768;
    const std::size_t src = a + 32768 < 65533 ? a + 32768 : a;
    EXPECT_EQ(got[i], data[2 + src]) << i;
  }
}

// The temporary folder, with a name of this test process's own in it.
std::wstring TempName(const wchar_t* name) {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  return std::wstring(temp) + L"qvx_ocx_" + std::to_wstring(GetCurrentProcessId()) + L"_" + name;
}

bool TraceStarts(IDispatch* ctl, const std::wstring& path) {
  std::vector<ole::Variant> args = ArgList(Str(path.c_str()));
  CallResult r = Call(ctl, kTraceStart, args);
  EXPECT_EQ(r.hr, S_OK);
  EXPECT_EQ(r.value.Type(), VT_BOOL);
  return V_BOOL(r.value.Get()) == VARIANT_TRUE;
}

TEST_F(OcxTest, TraceStartRefusesWhatItMustNotWrite) {
  const std::wstring existing = TempName(L"existing.txt");
  std::ofstream(existing.c_str()) << "keep\n";
  struct Case {
    std::wstring path;
    const char* why;
  };
  const Case cases[] = {
      {existing, "an existing file"},
      {TempName(L"run.pcap"), "another extension"},
      {TempName(L"run"), "no extension"},
      {L"\\\\.\\COM1.txt", "a device path"},
      {L"\\\\?\\C:\\run.txt", "a device path"},
      {L"\\\\server\\share\\run.log", "a network path"},
      {L"NUL.txt", "a device name"},
      {TempName(L"no_such_folder\\run.txt"), "a folder that is not there"},
      {L"", "nothing"},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(TraceStarts(ctl_.Get(), c.path)) << c.why;
  }
  std::ifstream in(existing.c_str());
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "keep\n");
  in.close();
  DeleteFileW(existing.c_str());
}

TEST_F(OcxTest, TraceHoldsTheTransfersUntilTraceStop) {
  const std::wstring path = TempName(L"trace.pcapng");
  DeleteFileW(path.c_str());
  ASSERT_TRUE(TraceStarts(ctl_.Get(), path));
  MemoryWrite(0x0010, {0xA5, 0x5A});
  ASSERT_EQ(Call(ctl_.Get(), kTraceStop).hr, S_OK);
  MemoryWrite(0x0020, {1});  // not traced any more
  std::ifstream in(path.c_str(), std::ios::binary);
  const testing_support::Pcapng trace =
      testing_support::ReadPcapng(std::string(std::istreambuf_iterator<char>(in), {}));
  in.close();
  EXPECT_EQ(trace.problem, "");
  std::vector<testing_support::Bytes> bus;
  for (const auto& p : trace.packets) {
    if (p.interface_id == 1) bus.emplace_back(p.data.begin() + 5, p.data.end());
  }
  // The serial memory's address 0x0010, then the two bytes, written to 0x50.
  EXPECT_EQ(bus, (std::vector<testing_support::Bytes>{{0xA0, 0x00, 0x10, 0xA5, 0x5A}}));
  EXPECT_FALSE(TraceStarts(ctl_.Get(), path)) << "the file exists now";
  DeleteFileW(path.c_str());
}

// Hours of script calls must not grow the emulated OCX: after a warm-up, a long run of each
// call leaves exactly as many of the library's allocations live as before it.
TEST_F(OcxTest, LongRunsOfCallsKeepLiveAllocationsFlat) {
  std::vector<std::uint8_t> buffer(300);
  struct Case {
    const char* name;
    std::function<CallResult()> call;
  };
  const Case cases[] = {
      {"Get_I2Cm_Power", [&] { return Do(QVX_DISPID_GET_I2CM_POWER); }},
      {"I2Cm_fReadLongBytesEx 300", [&] { return Do(kReadEx, U1(kMemory), I4(300)); }},
      {"I2Cm_fReadLongBytes 300",
       [&] {
         return Do(kRead, U1(kMemory), ByteRef(buffer.data()), I4(300), Bool(true), Bool(true));
       }},
      {"GetSensorRawDataEx", [&] { return Do(kSensorEx, Bool(true), U1(1)); }},
  };
  constexpr int kWarmUp = 50;
  constexpr int kRun = 3000;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (int i = 0; i < kWarmUp; ++i) ASSERT_EQ(c.call().hr, S_OK);
    const UINT live = ocx_.LiveAllocations();
    const UINT bytes = ocx_.LiveBytes();
    const UINT commands = ocx_.CommandCount(-1);
    for (int i = 0; i < kRun; ++i) ASSERT_EQ(c.call().hr, S_OK);
    EXPECT_GE(ocx_.CommandCount(-1) - commands, static_cast<UINT>(kRun)) << "reached the board";
    EXPECT_EQ(ocx_.LiveAllocations(), live) << "after " << kRun << " calls";
    EXPECT_EQ(ocx_.LiveBytes(), bytes) << "after " << kRun << " calls";
  }
}

// Several boards: the default one (no serial, a fixed location) and two more, serials A and B.
// Each test starts with the three plugged in and a control that has opened none of them.
constexpr wchar_t kFirstLocation[] = L"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1)";
constexpr wchar_t kLocationA[] = L"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)";
constexpr wchar_t kLocationB[] = L"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)#USB(1)";
constexpr UINT kMark = 0x0140;  // the EEPROM byte each test writes through the control

class SeveralBoardsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(ocx_.AddBoard, nullptr);
    a_ = ocx_.AddBoard(L"A", kLocationA);
    b_ = ocx_.AddBoard(L"B", kLocationB);
    ASSERT_GT(a_, 0);
    ASSERT_GT(b_, a_);
    ctl_ = ocx_.CreateControl();
    ASSERT_TRUE(ctl_);
  }
  void TearDown() override {
    ctl_.Reset();
    for (int id : {a_, b_, extra_}) {
      if (id > 0) ocx_.RemoveBoard(id);
    }
  }

  template <class... A>
  CallResult Do(DISPID dispid, A&&... a) {
    std::vector<ole::Variant> args;
    (args.push_back(std::forward<A>(a)), ...);
    return Call(ctl_.Get(), dispid, args);
  }

  std::vector<std::wstring> List(const wchar_t* field) {
    CallResult r = Do(kListBoards, Str(field));
    EXPECT_EQ(r.hr, S_OK) << "ListBoards(" << field << ")";
    return Strings(r.value.Get());
  }
  // SelectBoard's result: true when a board was opened.
  bool Select(const std::wstring& selector) {
    CallResult r = Do(kSelectBoard, Str(selector.c_str()));
    EXPECT_EQ(r.hr, S_OK) << "SelectBoard(" << selector << ")";
    EXPECT_EQ(r.value.Type(), VT_BOOL);
    return V_BOOL(r.value.Get()) == VARIANT_TRUE;
  }
  std::wstring Selected() {
    CallResult r = Do(kSelectedBoard);
    EXPECT_EQ(r.hr, S_OK);
    EXPECT_EQ(r.value.Type(), VT_BSTR);
    return r.value.Type() == VT_BSTR && V_BSTR(r.value.Get()) ? V_BSTR(r.value.Get()) : L"";
  }
  // Writes `value` at kMark through the control, and reads kMark of the three boards back
  // from the emulator (default, A, B).
  std::array<std::uint8_t, 3> WriteMarkAndReadBack(std::uint8_t value) {
    EXPECT_EQ(Do(kEepromWriteEx, I4(kMark), ByteArray({value})).hr, S_OK);
    return {ocx_.BoardEeprom(0, kMark, 1)[0], ocx_.BoardEeprom(a_, kMark, 1)[0],
            ocx_.BoardEeprom(b_, kMark, 1)[0]};
  }
  // Erases kMark on the three boards.
  void ClearMarks() {
    const BYTE erased = 0xFF;
    ocx_.WriteEeprom(kMark, &erased, 1);
    for (int id : {a_, b_}) {
      // Only the control reaches the added boards' EEPROM: select each and write.
      ASSERT_TRUE(Select(L"serial:" + std::wstring(id == a_ ? L"A" : L"B")));
      ASSERT_EQ(Do(kEepromWriteEx, I4(kMark), ByteArray({0xFF})).hr, S_OK);
    }
  }

  EmulatedOcx& ocx_ = EmulatedOcx::Get();
  ole::ComPtr<IDispatch> ctl_;
  int a_ = 0;
  int b_ = 0;
  int extra_ = 0;
};

TEST_F(SeveralBoardsTest, ListBoardsGivesEachFieldOfEveryBoardInEnumerationOrder) {
  const UINT handles = ocx_.OpenHandleCount();
  EXPECT_EQ(List(L"serial"), (std::vector<std::wstring>{L"", L"A", L"B"}));
  EXPECT_EQ(List(L"location"), (std::vector<std::wstring>{kFirstLocation, kLocationA, kLocationB}));
  const std::vector<std::wstring> paths = List(L"path");
  ASSERT_EQ(paths.size(), 3u);
  for (const std::wstring& p : paths) {
    EXPECT_EQ(p.rfind(L"\\\\?\\hid#vid_04b4&pid_e006#", 0), 0u) << p;
  }
  EXPECT_NE(paths[0], paths[1]);
  EXPECT_NE(paths[1], paths[2]);
  EXPECT_NE(paths[0], paths[2]);
  EXPECT_EQ(ocx_.OpenHandleCount(), handles) << "listing leaves no handle open";
  // A board pulled out is not listed; one plugged in again comes back in its place.
  ocx_.PlugBoard(a_, FALSE);
  EXPECT_EQ(List(L"serial"), (std::vector<std::wstring>{L"", L"B"}));
  ocx_.PlugBoard(a_, TRUE);
  EXPECT_EQ(List(L"serial"), (std::vector<std::wstring>{L"", L"A", L"B"}));
  // No board at all: VT_EMPTY, like every empty array.
  ocx_.SetPlugged(FALSE);
  ocx_.PlugBoard(a_, FALSE);
  ocx_.PlugBoard(b_, FALSE);
  CallResult none = Do(kListBoards, Str(L"path"));
  EXPECT_EQ(none.hr, S_OK);
  EXPECT_EQ(none.value.Type(), VT_EMPTY);
  ocx_.SetPlugged(TRUE);
}

TEST_F(SeveralBoardsTest, SelectBoardByEachKindOfSelectorReachesThatBoard) {
  const std::vector<std::wstring> paths = List(L"path");
  ASSERT_EQ(paths.size(), 3u);
  const std::wstring first = std::wstring(L"location:") + kFirstLocation;
  struct Case {
    std::wstring selector;
    std::size_t board;  // 0 default, 1 A, 2 B
    std::wstring selected;
  };
  const Case cases[] = {
      {L"index:0", 0, first},
      {L"index:1", 1, L"serial:A"},
      {L"index:2", 2, L"serial:B"},
      {L"serial:B", 2, L"serial:B"},
      {L"serial:A", 1, L"serial:A"},
      {std::wstring(L"location:") + kLocationB, 2, L"serial:B"},
      {std::wstring(L"location:") + kFirstLocation, 0, first},
      {std::wstring(L"location:") + kLocationA, 1, L"serial:A"},
      {L"path:" + paths[2], 2, L"serial:B"},
      {L"path:" + paths[0], 0, first},
      {L"path:" + paths[1], 1, L"serial:A"},
      {L"first", 0, first},
      {L"", 0, first},
  };
  ClearMarks();
  std::array<std::uint8_t, 3> want = {0xFF, 0xFF, 0xFF};
  std::uint8_t value = 0x10;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "SelectBoard(\"" << std::string(c.selector.begin(), c.selector.end()) << "\")");
    ASSERT_TRUE(Select(c.selector));
    EXPECT_EQ(Selected(), c.selected);
    want[c.board] = ++value;
    EXPECT_EQ(WriteMarkAndReadBack(value), want);
    // The read goes to the same board.
    EXPECT_EQ(Bytes(Do(kEepromReadEx, I4(kMark), I4(1)).value.Get()),
              std::vector<std::uint8_t>{value});
  }
  // Reselecting each board reads back what was written to it last.
  for (std::size_t board = 0; board < 3; ++board) {
    ASSERT_TRUE(Select(L"index:" + std::to_wstring(board)));
    EXPECT_EQ(Bytes(Do(kEepromReadEx, I4(kMark), I4(1)).value.Get()),
              std::vector<std::uint8_t>{want[board]})
        << "board " << board;
  }
}

TEST_F(SeveralBoardsTest, ABoardWithNeitherSerialNorLocationIsToldByItsPath) {
  extra_ = ocx_.AddBoard(L"", nullptr);
  ASSERT_GT(extra_, b_);
  const std::vector<std::wstring> paths = List(L"path");
  ASSERT_EQ(paths.size(), 4u);
  EXPECT_EQ(List(L"location").at(3), L"");
  ASSERT_TRUE(Select(L"index:3"));
  EXPECT_EQ(Selected(), L"path:" + paths[3]);
  // What Get_SelectedBoard tells selects the same board again.
  ASSERT_TRUE(Select(L"index:0"));
  ASSERT_TRUE(Select(L"path:" + paths[3]));
  EXPECT_EQ(Selected(), L"path:" + paths[3]);
}

TEST_F(SeveralBoardsTest, MalformedSelectorsAndUnknownFieldsAreRefusedWithNothingChanged) {
  ASSERT_TRUE(Select(L"serial:B"));
  const UINT handles = ocx_.OpenHandleCount();
  struct Case {
    DISPID dispid;
    const wchar_t* argument;
    const wchar_t* named;  // what the description must quote
  };
  const Case cases[] = {
      {kSelectBoard, L"serial:", L"serial:"},
      {kSelectBoard, L"index:", L"index:"},
      {kSelectBoard, L"index:x", L"index:x"},
      {kSelectBoard, L"index:-1", L"index:-1"},
      {kSelectBoard, L"index:12345", L"index:12345"},
      {kSelectBoard, L"Serial:B", L"Serial:B"},
      {kSelectBoard, L"B", L"'B'"},
      {kSelectBoard, L"firsts", L"firsts"},
      {kListBoards, L"Serial", L"Serial"},
      {kListBoards, L"", L"''"},
      {kListBoards, L"paths", L"paths"},
  };
  for (bool raise : {false, true}) {
    ASSERT_EQ(Do(kSetRaise, Bool(raise)).hr, S_OK);
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << (c.dispid == kSelectBoard ? "SelectBoard" : "ListBoards")
                                      << " " << (raise ? "raising" : "not raising"));
      CallResult r = Do(c.dispid, Str(c.argument));
      EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
      EXPECT_EQ(r.excep.scode, E_INVALIDARG);
      const std::wstring description = r.excep.bstrDescription ? r.excep.bstrDescription : L"";
      EXPECT_NE(description.find(c.named), std::wstring::npos)
          << std::string(description.begin(), description.end());
      EXPECT_EQ(description.rfind(c.dispid == kSelectBoard ? L"SelectBoard: " : L"ListBoards: ", 0),
                0u);
      // The board and the kept selector are as they were.
      EXPECT_EQ(Selected(), L"serial:B");
      EXPECT_EQ(ocx_.OpenHandleCount(), handles);
    }
  }
  ASSERT_EQ(Do(kSetRaise, Bool(false)).hr, S_OK);
  ClearMarks();
  ASSERT_TRUE(Select(L"serial:B"));
  EXPECT_EQ(WriteMarkAndReadBack(0x5B), (std::array<std::uint8_t, 3>{0xFF, 0xFF, 0x5B}));
}

TEST_F(SeveralBoardsTest, ASelectorThatMatchesNothingClosesTheBoardAndWaitsForItsBoard) {
  ASSERT_TRUE(Select(L"index:0"));
  ASSERT_EQ(ocx_.OpenHandleCount(), 1u);
  for (const wchar_t* selector : {L"serial:C", L"serial:a", L"index:3", L"location:USB(2)"}) {
    SCOPED_TRACE(testing::Message() << std::wstring(selector).size());
    EXPECT_FALSE(Select(selector));
    EXPECT_EQ(Selected(), L"");
    EXPECT_EQ(ocx_.OpenHandleCount(), 0u) << "no board stays open";
  }
  // The selection lasts: the board it names is opened when it is plugged in.
  EXPECT_FALSE(Select(L"serial:C"));
  extra_ = ocx_.AddBoard(L"C", L"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(4)");
  ASSERT_GT(extra_, 0);
  EXPECT_EQ(Selected(), L"serial:C");
  ASSERT_EQ(Do(kEepromWriteEx, I4(kMark), ByteArray({0xC0})).hr, S_OK);
  EXPECT_EQ(ocx_.BoardEeprom(extra_, kMark, 1)[0], 0xC0);
}

TEST_F(SeveralBoardsTest, AControlBoundToASerialStaysOnItsBoardAcrossReplugs) {
  ClearMarks();
  ASSERT_TRUE(Select(L"serial:B"));
  struct Step {
    const char* what;
    int board;  // 1 A, 2 B
    bool plugged;
  };
  const Step steps[] = {{"A pulled out", 1, false},
                        {"A plugged in again", 1, true},
                        {"B pulled out and plugged in again", 2, false},
                        {"B back", 2, true}};
  std::uint8_t value = 0x20;
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    ocx_.PlugBoard(s.board == 1 ? a_ : b_, s.plugged ? TRUE : FALSE);
    if (s.board == 2 && !s.plugged) continue;  // B is not there to be reached
    EXPECT_EQ(Selected(), L"serial:B");
    ++value;
    EXPECT_EQ(WriteMarkAndReadBack(value), (std::array<std::uint8_t, 3>{0xFF, 0xFF, value}));
  }
  // OpenUSBHidDevice goes back to the first board, and so do the reopenings after it.
  CallResult open = Do(kOpen);
  ASSERT_EQ(open.hr, S_OK);
  EXPECT_EQ(V_BOOL(open.value.Get()), VARIANT_FALSE);
  EXPECT_EQ(Selected(), std::wstring(L"location:") + kFirstLocation);
  EXPECT_EQ(WriteMarkAndReadBack(0x30), (std::array<std::uint8_t, 3>{0x30, 0xFF, value}));
  ocx_.PlugBoard(b_, FALSE);
  ocx_.PlugBoard(b_, TRUE);
  EXPECT_EQ(Selected(), std::wstring(L"location:") + kFirstLocation);
  EXPECT_EQ(WriteMarkAndReadBack(0x31), (std::array<std::uint8_t, 3>{0x31, 0xFF, value}));
}

// A test program run away from its build tree (the self-test on a user's PC) loads the OCX that
// its flag, the environment or its own folder names, in that order. CTest runs this with each
// (QVX_TEST_EXPECT_ORIGIN says which one the run's names make the first).
TEST(EmulatedOcxLocation, TheOcxNamedForTheRunIsTheOneLoaded) {
  const test_files::Location ocx = test_files::EmulatedOcx();
  wchar_t loaded[MAX_PATH] = {};
  ASSERT_GT(GetModuleFileNameW(EmulatedOcx::Get().module(), loaded, MAX_PATH), 0u);
  EXPECT_EQ(_wcsicmp(ocx.path.c_str(), loaded), 0)
      << "loaded " << test_files::Narrow(loaded) << " instead of " << ocx.Describe();
  char expected[64] = {};
  if (GetEnvironmentVariableA("QVX_TEST_EXPECT_ORIGIN", expected, sizeof expected) > 0) {
    EXPECT_EQ(ocx.origin, expected) << ocx.Describe();
  }
  EXPECT_TRUE(EmulatedOcx::Get().CreateControl());
}

}  // namespace
}  // namespace dispatch_test
