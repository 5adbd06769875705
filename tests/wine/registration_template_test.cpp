// The registration helpers on their own: template expansion, the access-denied rule, the
// missing-type-name fallback and key deletion, in a scratch key of the current user.
#include <objbase.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "ole/registration.h"
#include "registration_support.h"

namespace {

TEST(ExpandTemplate, ReplacesNumberedSymbols) {
  const wchar_t* symbols[] = {L"Name", L"{ID}", L"C:\\X.OCX", L"1"};
  struct Case {
    const wchar_t* pattern;
    const wchar_t* expected;
  };
  const Case cases[] = {
      {L"%1", L"Name"},   {L"%3, %4", L"C:\\X.OCX, 1"}, {L"", L""},
      {L"0", L"0"},       {L"%2%1", L"{ID}Name"},       {L"%5", L""},  // no such symbol
      {L"100%", L"100%"},                                              // a lone percent sign stays
      {L"%0", L"%0"},
  };
  for (const Case& c : cases) {
    wchar_t out[64];
    const size_t n = ole::ExpandTemplate(c.pattern, symbols, 4, out, ARRAYSIZE(out));
    EXPECT_EQ(std::wstring(out), c.expected) << c.pattern;
    EXPECT_EQ(n, wcslen(c.expected)) << c.pattern;
  }
}

TEST(ExpandTemplate, TruncatesToTheBuffer) {
  const wchar_t* symbols[] = {L"abcdefgh"};
  wchar_t out[5];
  EXPECT_EQ(ole::ExpandTemplate(L"%1%1", symbols, 1, out, ARRAYSIZE(out)), 4u);
  EXPECT_EQ(std::wstring(out), L"abcd");
}

class ScratchKey : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = L"Software\\QvxTemplateTest\\" + std::to_wstring(GetCurrentProcessId());
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key_, nullptr),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    RegCloseKey(key_);
    RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, path_.c_str());
  }

  std::wstring path_;
  HKEY key_ = nullptr;
};

TEST_F(ScratchKey, WritesRowsAsDefaultValuesOfSubKeys) {
  const ole::RegistryTemplateRow rows[] = {{L"", L"%1"}, {L"A\\B", L"x%2"}, {L"C", L""}};
  const wchar_t* symbols[] = {L"top", L"y"};
  ASSERT_TRUE(ole::WriteRegistryTemplate(key_, rows, 3, symbols, 2));
  EXPECT_EQ(regtest::DumpTree(HKEY_CURRENT_USER, path_),
            (std::set<std::wstring>{L"", L"|@=top", L"A", L"A\\B", L"A\\B|@=xy", L"C", L"C|@="}));
}

TEST_F(ScratchKey, AccessDeniedCountsAsWrittenOtherFailuresDoNot) {
  const ole::RegistryTemplateRow rows[] = {{L"", L"value"}};
  HKEY read_only = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, KEY_READ, &read_only),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueW(read_only, nullptr, REG_SZ, L"probe", 0), ERROR_ACCESS_DENIED)
      << "the platform does not refuse a read-only key";
  EXPECT_TRUE(ole::WriteRegistryTemplate(read_only, rows, 1, nullptr, 0));
  RegCloseKey(read_only);
  EXPECT_EQ(regtest::DefaultValue(HKEY_CURRENT_USER, path_), L"<missing>");

  HKEY closed = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, KEY_ALL_ACCESS, &closed),
            ERROR_SUCCESS);
  RegCloseKey(closed);
  EXPECT_FALSE(ole::WriteRegistryTemplate(closed, rows, 1, nullptr, 0));
}

TEST_F(ScratchKey, AMissingTypeNameFallsBackToTheClassIdentifier) {
  // The test program has no string table: string 1 cannot be loaded from it.
  const GUID clsid = {0x0A0B0C0D, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
  ASSERT_TRUE(ole::RegisterPropertyPageClass(GetModuleHandleW(nullptr), clsid, 1, key_));
  const std::wstring clsid_text = regtest::GuidText(clsid);
  EXPECT_EQ(regtest::DefaultValue(key_, L"CLSID\\" + clsid_text), clsid_text);
}

TEST_F(ScratchKey, DeletingATreeRemovesEverythingAndNothingIsNoError) {
  ASSERT_EQ(RegSetValueW(key_, L"T\\U\\V", REG_SZ, L"v", 0), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueW(key_, L"T\\W", REG_SZ, L"w", 0), ERROR_SUCCESS);
  EXPECT_TRUE(ole::DeleteKeyTree(key_, L"T"));
  EXPECT_FALSE(regtest::KeyExists(key_, L"T"));
  EXPECT_TRUE(ole::DeleteKeyTree(key_, L"T"));
}

}  // namespace
