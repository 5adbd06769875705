// The resources the module carries, read as Windows reads them: the version record (with its
// Chinese product name), the strings, the pictures, the dialogs, the manifest, and the languages
// they are filed under.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "registration_support.h"

namespace {

constexpr WORD kChinesePrc = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);  // 2052
constexpr WORD kEnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);           // 1033
// "Vantorix读写控件", spelt by code point so the check does not depend on this file's encoding.
const wchar_t kProductName[] = L"Vantorix\u8BFB\u5199\u63A7\u4EF6";

class ModuleResources : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryExW(regtest::OcxPath(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module_, nullptr);
  }
  void TearDown() override { FreeLibrary(module_); }

  std::vector<BYTE> Resource(LPCWSTR type, LPCWSTR name, WORD language) {
    HRSRC found = FindResourceExW(module_, type, name, language);
    if (found == nullptr) return {};
    const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(module_, found)));
    return std::vector<BYTE>(data, data + SizeofResource(module_, found));
  }

  HMODULE module_ = nullptr;
};

TEST_F(ModuleResources, VersionRecord) {
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(regtest::OcxPath(), &handle);
  ASSERT_GT(size, 0u);
  std::vector<BYTE> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(regtest::OcxPath(), 0, size, block.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010008u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010008u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0u);
  EXPECT_EQ(fixed->dwFileFlagsMask, 0x3Fu);
  EXPECT_EQ(fixed->dwFileFlags, 0u);
  EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS__WINDOWS32));
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
  EXPECT_EQ(fixed->dwFileSubtype, 0u);

  WORD* translation = nullptr;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                             reinterpret_cast<void**>(&translation), &length));
  ASSERT_EQ(length, 4u);
  EXPECT_EQ(translation[0], 0x0409);
  EXPECT_EQ(translation[1], 1252);

  struct Entry {
    const wchar_t* name;
    const wchar_t* value;  // null: present, any text
  };
  const Entry entries[] = {
      {L"Comments", kProductName},
      {L"FileDescription", kProductName},
      {L"ProductName", kProductName},
      {L"FileVersion", L"1.8.0.0"},
      {L"ProductVersion", L"1.8.0.0"},
      {L"InternalName", L"QelVantorixActiveX.ocx"},
      {L"OriginalFilename", L"QelVantorixActiveX.ocx"},
      {L"CompanyName", nullptr},
      {L"LegalCopyright", nullptr},
  };
  for (const Entry& e : entries) {
    const std::wstring path = std::wstring(L"\\StringFileInfo\\040904e4\\") + e.name;
    wchar_t* text = nullptr;
    ASSERT_TRUE(
        VerQueryValueW(block.data(), path.c_str(), reinterpret_cast<void**>(&text), &length))
        << path.c_str();
    if (e.value != nullptr) {
      EXPECT_EQ(std::wstring(text), e.value) << path.c_str();
    } else {
      EXPECT_GT(wcslen(text), 0u) << path.c_str();
    }
  }
}

TEST_F(ModuleResources, Strings) {
  struct Case {
    UINT id;
    const wchar_t* text;
  };
  for (const Case& c : {Case{1, L"QelVantorixActiveX Control"},
                        Case{2, L"QelVantorixActiveX Property Page"}, Case{200, L"General"}}) {
    wchar_t buffer[128] = {};
    ASSERT_GT(LoadStringW(module_, c.id, buffer, ARRAYSIZE(buffer)), 0) << c.id;
    EXPECT_EQ(std::wstring(buffer), c.text) << c.id;
  }
}

TEST_F(ModuleResources, EveryResourceInItsLanguage) {
  struct Case {
    LPCWSTR type;
    LPCWSTR name;
    WORD language;
  };
  const Case cases[] = {
      {RT_STRING, MAKEINTRESOURCEW(1), kChinesePrc},    // strings 1..15
      {RT_STRING, MAKEINTRESOURCEW(13), kChinesePrc},   // strings 192..207
      {RT_BITMAP, MAKEINTRESOURCEW(1), kChinesePrc},    // toolbox bitmap
      {RT_BITMAP, MAKEINTRESOURCEW(202), kChinesePrc},  // property page picture
      {RT_GROUP_ICON, MAKEINTRESOURCEW(1), kChinesePrc},
      {RT_DIALOG, MAKEINTRESOURCEW(1), kChinesePrc},
      {RT_DIALOG, MAKEINTRESOURCEW(200), kChinesePrc},
      {L"TYPELIB", MAKEINTRESOURCEW(1), kChinesePrc},
      {RT_VERSION, MAKEINTRESOURCEW(1), kChinesePrc},
      {RT_MANIFEST, MAKEINTRESOURCEW(2), kEnglishUs},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(Resource(c.type, c.name, c.language).empty())
        << "type " << reinterpret_cast<ULONG_PTR>(c.type) << " id "
        << reinterpret_cast<ULONG_PTR>(c.name);
  }
}

TEST_F(ModuleResources, PicturesHaveTheirSizesAndColours) {
  struct Case {
    UINT id;
    LONG width, height;
    WORD bits;
  };
  for (const Case& c : {Case{1, 16, 15, 4}, Case{202, 317, 170, 8}}) {
    const std::vector<BYTE> dib = Resource(RT_BITMAP, MAKEINTRESOURCEW(c.id), kChinesePrc);
    ASSERT_GE(dib.size(), sizeof(BITMAPINFOHEADER)) << c.id;
    const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(dib.data());
    EXPECT_EQ(header->biWidth, c.width) << c.id;
    EXPECT_EQ(header->biHeight, c.height) << c.id;
    EXPECT_EQ(header->biBitCount, c.bits) << c.id;
  }
  // Bitmap 1: yellow letters on green (first pixel of the bottom row, and somewhere yellow).
  HBITMAP bitmap = static_cast<HBITMAP>(
      LoadImageW(module_, MAKEINTRESOURCEW(1), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  ASSERT_NE(bitmap, nullptr);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, bitmap);
  EXPECT_EQ(GetPixel(dc, 0, 0), RGB(0, 128, 0));
  bool yellow = false;
  for (int y = 0; y < 15; ++y) {
    for (int x = 0; x < 16; ++x) yellow = yellow || GetPixel(dc, x, y) == RGB(255, 255, 0);
  }
  EXPECT_TRUE(yellow);
  SelectObject(dc, old);
  DeleteDC(dc);
  DeleteObject(bitmap);
  // Icon 1 in both sizes.
  for (int size : {32, 16}) {
    HICON icon = static_cast<HICON>(
        LoadImageW(module_, MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
    ASSERT_NE(icon, nullptr) << size;
    ICONINFO info = {};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP bm = {};
    GetObjectW(info.hbmMask, sizeof(bm), &bm);
    EXPECT_EQ(bm.bmWidth, size);
    DeleteObject(info.hbmMask);
    if (info.hbmColor != nullptr) DeleteObject(info.hbmColor);
    DestroyIcon(icon);
  }
}

TEST_F(ModuleResources, TheManifestMakesAnActivationContext) {
  ACTCTXW request = {};
  request.cbSize = sizeof(request);
  request.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
  request.lpSource = regtest::OcxPath();
  HMODULE loaded = LoadLibraryW(regtest::OcxPath());
  ASSERT_NE(loaded, nullptr);
  request.hModule = loaded;
  request.lpResourceName = MAKEINTRESOURCEW(2);
  HANDLE context = CreateActCtxW(&request);
  ASSERT_NE(context, INVALID_HANDLE_VALUE) << GetLastError();
  ULONG_PTR cookie = 0;
  EXPECT_TRUE(ActivateActCtx(context, &cookie));
  EXPECT_TRUE(DeactivateActCtx(0, cookie));
  ReleaseActCtx(context);
  FreeLibrary(loaded);
}

}  // namespace
