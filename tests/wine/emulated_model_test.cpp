// The emulated OCX with a board model (QVX_EMULATED_MODEL) and a state file
// (QVX_EMULATED_STATE): the documented examples behave through the control as
// docs/emulator.md says, a bad model refuses the control with the loader's message, and a
// modelled memory written in one process is read back in the next. With a board server
// (QVX_EMULATED_SERVER), the control runs against the served board.
//
// The variables are read once, when the library first needs its board: every test here sets
// them before it loads the library, so each runs in a process of its own (CTest runs each with
// --gtest_filter; see CMakeLists.txt).
#include <gtest/gtest.h>
#include <windows.h>
// after windows.h, which it needs
#include <oleauto.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <memory>
#include <sstream>
#include <thread>

#include "control/identity.h"
#include "dispatch_support.h"
#include "test_files.h"
#include "tests/support/model_examples.h"
#include "tools/board_server.h"

namespace dispatch_test {
namespace {

std::string TempPath(const std::string& name) {
  char folder[MAX_PATH];
  const DWORD n = GetTempPathA(MAX_PATH, folder);
  return std::string(folder, n) + name;
}

// Writes `text` to a temporary file and names it in QVX_EMULATED_MODEL; returns its path.
std::string UseModel(const std::string& text, const std::string& name) {
  const std::string path = TempPath(name);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  EXPECT_NE(f, nullptr) << path;
  if (f != nullptr) {
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
  EXPECT_EQ(_putenv_s("QVX_EMULATED_MODEL", path.c_str()), 0);
  return path;
}

std::string Documented(const char* name) {
  const test_files::Location docs = test_files::DataFile(L"emulator.md");
  if (!test_files::Present(docs, "the emulator's documentation")) return "";
  const std::string text = testing_support::DocumentedModel(test_files::Narrow(docs.path), name);
  EXPECT_FALSE(text.empty()) << name;
  return text;
}

// A control on the emulated board, opened.
ole::ComPtr<IDispatch> OpenedControl() {
  ole::ComPtr<IDispatch> ctl = EmulatedOcx::Get().CreateControl();
  if (!ctl) return ctl;
  CallResult r = Call(ctl.Get(), QVX_DISPID_OPENUSBHIDDEVICE);
  EXPECT_EQ(r.hr, S_OK);
  EXPECT_EQ(V_BOOL(r.value.Get()), VARIANT_FALSE) << "the modelled board should open";
  return ctl;
}

void Write(IDispatch* ctl, std::uint8_t slave, const std::vector<std::uint8_t>& bytes) {
  std::vector<ole::Variant> args = ArgList(U1(slave), ByteArray(bytes));
  EXPECT_EQ(Call(ctl, QVX_DISPID_I2CM_FWRITELONGBYTESEX, args).hr, S_OK);
}

std::vector<std::uint8_t> Read(IDispatch* ctl, std::uint8_t slave, long count) {
  std::vector<ole::Variant> args = ArgList(U1(slave), I4(count));
  CallResult r = Call(ctl, QVX_DISPID_I2CM_FREADLONGBYTESEX, args);
  EXPECT_EQ(r.hr, S_OK);
  return Bytes(r.value.Get());
}

using B = std::vector<std::uint8_t>;

// Creates a control that the library must refuse (E_FAIL, no control) and returns the
// description of the error it set ("" when it set none).
std::wstring RefusalMessage() {
  using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
  auto get = reinterpret_cast<GetClassObjectFn>(
      GetProcAddress(EmulatedOcx::Get().module(), "DllGetClassObject"));
  ole::ComPtr<IClassFactory> factory;
  if (get == nullptr || get(qvx::kClsidCtrl, IID_IClassFactory, factory.PutVoid()) != S_OK) {
    ADD_FAILURE() << "no class factory for the control";
    return L"";
  }
  ole::ComPtr<IDispatch> ctl;
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, ctl.PutVoid()), E_FAIL);
  EXPECT_FALSE(ctl);
  ole::ComPtr<IErrorInfo> info;
  ole::Bstr description;
  if (GetErrorInfo(0, info.Put()) != S_OK || info->GetDescription(description.Put()) != S_OK) {
    ADD_FAILURE() << "the refusal set no error information";
    return L"";
  }
  return description.Get();
}

TEST(EmulatedModel, TheSensorExampleReadsThroughTheControl) {
  UseModel(Documented("sensor-and-eeprom"), "qvx_model_sensor.json");
  ole::ComPtr<IDispatch> ctl = OpenedControl();
  ASSERT_TRUE(ctl);
  Write(ctl.Get(), 0x48, {0x00});
  EXPECT_EQ(Read(ctl.Get(), 0x48, 2), (B{0x19, 0x00}));
  EXPECT_EQ(Read(ctl.Get(), 0x48, 2), (B{0x19, 0x10}));
  EXPECT_EQ(Read(ctl.Get(), 0x48, 4), (B{0x19, 0x20, 0x19, 0x30}));
  Write(ctl.Get(), 0x48, {0x01});
  EXPECT_EQ(Read(ctl.Get(), 0x48, 2), (B{0x00, 0x60}));
  Write(ctl.Get(), 0x50, {0x00});
  EXPECT_EQ(Read(ctl.Get(), 0x50, 5), (B{0x51, 0x56, 0x58, 0x2D, 0x31}));
}

TEST(EmulatedModel, ThePowerGatedExampleNacksUntilPowerIsOn) {
  UseModel(Documented("power-gated"), "qvx_model_power.json");
  ole::ComPtr<IDispatch> ctl = OpenedControl();
  ASSERT_TRUE(ctl);
  Write(ctl.Get(), 0x50, {0x00, 0x00});
  EXPECT_EQ(Read(ctl.Get(), 0x50, 2), (B{0xFF, 0xFF})) << "not acknowledged: the idle bus";
  std::vector<ole::Variant> on = ArgList(I4(1));
  ASSERT_EQ(Call(ctl.Get(), QVX_DISPID_SET_I2CM_POWER, on).hr, S_OK);
  Write(ctl.Get(), 0x50, {0x00, 0x00});
  EXPECT_EQ(Read(ctl.Get(), 0x50, 2), (B{0x00, 0x00}));
}

TEST(EmulatedModel, ABadModelRefusesTheControlWithTheLoadersMessage) {
  const std::string path = UseModel(
      R"({"boards": [{"slaves": [{"address": "0x50", "kind": "memory", "size": 100,
          "page_size": 8}]}]})",
      "qvx_model_bad.json");
  const std::wstring text = RefusalMessage();
  const std::wstring wide_path(path.begin(), path.end());
  EXPECT_EQ(text, L"QelVantorixActiveX: " + wide_path +
                      L": /boards/0/slaves/0/page_size: expected a page size that divides the "
                      L"size 100, got 8");
}

// Two processes, one after the other: the first writes the modelled memory and the EEPROM and
// ends; the second finds both as the first left them.
const char kStateName[] = "qvx_emulated_ocx.state";

TEST(EmulatedState, FirstRunWritesTheModelledMemory) {
  const std::string state = TempPath(kStateName);
  std::remove(state.c_str());
  ASSERT_EQ(_putenv_s("QVX_EMULATED_STATE", state.c_str()), 0);
  UseModel(Documented("sensor-and-eeprom"), "qvx_model_state.json");
  ole::ComPtr<IDispatch> ctl = OpenedControl();
  ASSERT_TRUE(ctl);
  Write(ctl.Get(), 0x50, {0x20, 0xCA, 0xFE});
  std::vector<ole::Variant> eeprom = ArgList(I4(0x0300), ByteArray({0x5A}, VT_VARIANT));
  ASSERT_EQ(Call(ctl.Get(), QVX_DISPID_EEPROM_WRITEBYTEEX, eeprom).hr, S_OK);
}

TEST(EmulatedState, NextRunReadsItBack) {
  const std::string state = TempPath(kStateName);
  ASSERT_EQ(GetFileAttributesA(state.c_str()) != INVALID_FILE_ATTRIBUTES, true)
      << "the first run saved no state";
  ASSERT_EQ(_putenv_s("QVX_EMULATED_STATE", state.c_str()), 0);
  UseModel(Documented("sensor-and-eeprom"), "qvx_model_state.json");
  ole::ComPtr<IDispatch> ctl = OpenedControl();
  ASSERT_TRUE(ctl);
  Write(ctl.Get(), 0x50, {0x20});
  EXPECT_EQ(Read(ctl.Get(), 0x50, 2), (B{0xCA, 0xFE}));
  EXPECT_EQ(EmulatedOcx::Get().Eeprom(0x0300, 1), (B{0x5A}));
}

// With QVX_EMULATED_SERVER the control runs against the served board (here a server in this
// process, reached over its named pipe), and the board exports have nothing to act on.
TEST(EmulatedServer, TheControlRunsOnTheServedBoardAndTheBoardExportsDoNothing) {
  std::ostringstream log;
  std::string why;
  const std::unique_ptr<qvx::BoardServer> server = qvx::BoardServer::Start(
      1, "qvx-ocx-served-" + std::to_string(GetCurrentProcessId()), log, &why);
  ASSERT_TRUE(server) << why;
  std::thread serving([&] { server->Serve(); });
  ASSERT_EQ(_putenv_s("QVX_EMULATED_SERVER", server->Name().c_str()), 0);
  {
    ole::ComPtr<IDispatch> ctl = OpenedControl();
    ASSERT_TRUE(ctl);
    Write(ctl.Get(), 0x50, {0x01, 0x00, 0xAB, 0xCD});
    EXPECT_EQ(server->Board(0).Memory()->Peek(0x0100, 2), (B{0xAB, 0xCD}));
    Write(ctl.Get(), 0x50, {0x01, 0x00});
    EXPECT_EQ(Read(ctl.Get(), 0x50, 2), (B{0xAB, 0xCD}));
    EmulatedOcx& ocx = EmulatedOcx::Get();
    EXPECT_EQ(ocx.OpenHandleCount(), 0u);
    EXPECT_EQ(ocx.CommandCount(-1), 0u);
    ocx.SetSilent(TRUE);  // reaches no board: the served one still answers
    Write(ctl.Get(), 0x50, {0x01, 0x00});
    EXPECT_EQ(Read(ctl.Get(), 0x50, 2), (B{0xAB, 0xCD}));
    ocx.WriteEeprom(0, B{0x11}.data(), 1);
    B untouched{0x77};
    ocx.ReadEeprom(0, untouched.data(), 1);
    EXPECT_EQ(untouched, B{0x77});
    EXPECT_EQ(server->Board(0).Eeprom(0, 1), B{0xFF});
  }
  server->Stop();
  serving.join();
  EXPECT_EQ(log.str(), "");
}

TEST(EmulatedServer, AServerThatCannotBeReachedRefusesTheControlWithItsName) {
  ASSERT_EQ(_putenv_s("QVX_EMULATED_SERVER", "qvx-no-such-server"), 0);
  const std::wstring text = RefusalMessage();
  const std::wstring expected =
      L"QelVantorixActiveX: the emulated board server '\\\\.\\pipe\\qvx-no-such-server' "
      L"(QVX_EMULATED_SERVER) cannot be reached: ";
  EXPECT_EQ(text.substr(0, expected.size()), expected);
  EXPECT_GT(text.size(), expected.size()) << "the reason is missing";
}

}  // namespace
}  // namespace dispatch_test
