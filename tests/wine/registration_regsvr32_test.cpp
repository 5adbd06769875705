// regsvr32, as an installer runs it, against the prefix's real classes root. Leaves the control
// registered or not as it found it, and registered from the same file (other tests may have
// registered the emulated build).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "control/identity.h"
#include "registration_support.h"
#include "test_files.h"

namespace {

using regtest::DefaultValue;
using regtest::GuidText;
using regtest::KeyExists;

const wchar_t kProgId[] = L"QELVANTORIXAC.QelVantorixAcCtrl.1";

DWORD RunRegsvr32(const std::wstring& options, const std::wstring& file = regtest::OcxPath()) {
  std::wstring command = L"regsvr32.exe /s " + options + L" \"" + file + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return 0xFFFFFFFF;
  }
  WaitForSingleObject(process.hProcess, 60000);
  DWORD code = 0xFFFFFFFE;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

TEST(Regsvr32, RegistersTwiceAndUnregisters) {
  QVX_NEEDS_ADMIN("regsvr32 writes the machine's classes root");
  const std::wstring ctrl_key = L"CLSID\\" + GuidText(qvx::kClsidCtrl);
  const std::wstring registered_file =
      DefaultValue(HKEY_CLASSES_ROOT, ctrl_key + L"\\InprocServer32");

  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(RunRegsvr32(L""), 0u) << "round " << round;
    EXPECT_EQ(DefaultValue(HKEY_CLASSES_ROOT, std::wstring(kProgId) + L"\\CLSID"),
              GuidText(qvx::kClsidCtrl));
    EXPECT_EQ(DefaultValue(HKEY_CLASSES_ROOT, ctrl_key + L"\\MiscStatus\\1"), L"131473");
    EXPECT_EQ(DefaultValue(HKEY_CLASSES_ROOT, ctrl_key + L"\\Version"), L"1.8");
    EXPECT_EQ(DefaultValue(HKEY_CLASSES_ROOT, ctrl_key + L"\\InprocServer32"),
              regtest::OcxShortPath());
    wchar_t model[32] = {};
    DWORD size = sizeof(model);
    EXPECT_EQ(RegGetValueW(HKEY_CLASSES_ROOT, (ctrl_key + L"\\InprocServer32").c_str(),
                           L"ThreadingModel", RRF_RT_REG_SZ, nullptr, model, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(model), L"Apartment");
  }
  // A host finds the control by its ProgID.
  CLSID clsid = {};
  ASSERT_EQ(CLSIDFromProgID(kProgId, &clsid), S_OK);
  EXPECT_TRUE(IsEqualCLSID(clsid, qvx::kClsidCtrl));

  ASSERT_EQ(RunRegsvr32(L"/u"), 0u);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ctrl_key));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kProgId));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"TypeLib\\" + GuidText(qvx::kLibId)));
  // Unregistering again finds nothing and still succeeds.
  EXPECT_EQ(RunRegsvr32(L"/u"), 0u);

  if (registered_file != L"<missing>") {
    EXPECT_EQ(RunRegsvr32(L"", registered_file), 0u);
  }
}

}  // namespace
