#include "registration_support.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_files.h"

namespace regtest {

const wchar_t* OcxPath() {
  static const test_files::Location ocx = test_files::RealOcx();
  // Every test that reaches for a missing OCX fails with the reason, not only the first.
  test_files::Present(ocx, "the product OCX");
  return ocx.path.c_str();
}

std::wstring OcxShortPath() {
  wchar_t path[MAX_PATH];
  const DWORD n = GetShortPathNameW(OcxPath(), path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return OcxPath();
  return path;
}

const Exports& Ocx() {
  static const Exports exports = [] {
    Exports e;
    e.module = LoadLibraryW(OcxPath());
    if (e.module == nullptr) return e;
    e.DllRegisterServer =
        reinterpret_cast<HRESULT(WINAPI*)()>(GetProcAddress(e.module, "DllRegisterServer"));
    e.DllUnregisterServer =
        reinterpret_cast<HRESULT(WINAPI*)()>(GetProcAddress(e.module, "DllUnregisterServer"));
    e.DllGetClassObject = reinterpret_cast<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>(
        GetProcAddress(e.module, "DllGetClassObject"));
    e.DllCanUnloadNow =
        reinterpret_cast<HRESULT(WINAPI*)()>(GetProcAddress(e.module, "DllCanUnloadNow"));
    return e;
  }();
  if (exports.module == nullptr) {
    ADD_FAILURE() << "the product OCX " << test_files::Narrow(OcxPath()) << " cannot be loaded";
  }
  return exports;
}

PrivateClassesRoot::PrivateClassesRoot() {
  scratch_path_ = L"Software\\QvxRegistrationTest\\" + std::to_wstring(GetCurrentProcessId());
  RegDeleteTreeW(HKEY_CURRENT_USER, scratch_path_.c_str());
  if (RegCreateKeyExW(HKEY_CURRENT_USER, scratch_path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                      nullptr, &scratch_, nullptr) != ERROR_SUCCESS) {
    return;
  }
  ok_ = RegOverridePredefKey(HKEY_CLASSES_ROOT, scratch_) == ERROR_SUCCESS;
}

PrivateClassesRoot::~PrivateClassesRoot() {
  RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
  if (scratch_ != nullptr) RegCloseKey(scratch_);
  RegDeleteTreeW(HKEY_CURRENT_USER, scratch_path_.c_str());
  RegDeleteKeyW(HKEY_CURRENT_USER, scratch_path_.c_str());
}

namespace {

void Dump(HKEY key, const std::wstring& relative, std::set<std::wstring>& out) {
  out.insert(relative);
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD name_length = ARRAYSIZE(name);
    DWORD type = 0;
    BYTE data[2048];
    DWORD data_size = sizeof(data);
    if (RegEnumValueW(key, i, name, &name_length, nullptr, &type, data, &data_size) !=
        ERROR_SUCCESS) {
      break;
    }
    std::wstring line = relative + L"|" + (name_length == 0 ? L"@" : name) + L"=";
    if (type == REG_SZ) {
      line += std::wstring(
          reinterpret_cast<const wchar_t*>(data),
          wcsnlen(reinterpret_cast<const wchar_t*>(data), data_size / sizeof(wchar_t)));
    } else {
      line += L"#" + std::to_wstring(type);
    }
    out.insert(line);
  }
  std::vector<std::wstring> children;
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD name_length = ARRAYSIZE(name);
    if (RegEnumKeyExW(key, i, name, &name_length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    children.emplace_back(name);
  }
  for (const std::wstring& child : children) {
    HKEY sub = nullptr;
    if (RegOpenKeyExW(key, child.c_str(), 0, KEY_READ, &sub) != ERROR_SUCCESS) continue;
    Dump(sub, relative.empty() ? child : relative + L"\\" + child, out);
    RegCloseKey(sub);
  }
}

}  // namespace

std::set<std::wstring> DumpTree(HKEY root, const std::wstring& path) {
  std::set<std::wstring> out;
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.empty() ? nullptr : path.c_str(), 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return out;
  }
  Dump(key, L"", out);
  RegCloseKey(key);
  return out;
}

bool KeyExists(HKEY root, const std::wstring& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

std::wstring DefaultValue(HKEY root, const std::wstring& path) {
  wchar_t value[1024];
  DWORD size = sizeof(value);
  if (RegGetValueW(root, path.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &size) !=
      ERROR_SUCCESS) {
    return L"<missing>";
  }
  return value;
}

std::wstring GuidText(REFGUID guid) {
  wchar_t text[39];
  StringFromGUID2(guid, text, ARRAYSIZE(text));
  return text;
}

}  // namespace regtest
