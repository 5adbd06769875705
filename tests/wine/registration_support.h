// Shared by the registration tests: the OCX under test, its exports, a private classes root and
// a flat dump of a registry tree.
#pragma once

#include <objbase.h>
#include <windows.h>

#include <set>
#include <string>

namespace regtest {

// The product OCX the tests load (test_files::RealOcx()); a failure of the calling test when the
// file is missing.
const wchar_t* OcxPath();
// GetShortPathNameW of OcxPath(), as registration writes it.
std::wstring OcxShortPath();

struct Exports {
  HMODULE module = nullptr;
  HRESULT(WINAPI* DllRegisterServer)() = nullptr;
  HRESULT(WINAPI* DllUnregisterServer)() = nullptr;
  HRESULT(WINAPI* DllGetClassObject)(REFCLSID, REFIID, void**) = nullptr;
  HRESULT(WINAPI* DllCanUnloadNow)() = nullptr;
};
// Loads the OCX once for the process and resolves the four exports; while it cannot be loaded,
// each call adds a failure that says why.
const Exports& Ocx();

// Redirects HKEY_CLASSES_ROOT of this process to an empty scratch key for its lifetime, so the
// tests see exactly what registration writes and never disturb the prefix's real classes.
class PrivateClassesRoot {
 public:
  PrivateClassesRoot();
  ~PrivateClassesRoot();
  PrivateClassesRoot(const PrivateClassesRoot&) = delete;
  PrivateClassesRoot& operator=(const PrivateClassesRoot&) = delete;
  bool ok() const { return ok_; }

 private:
  HKEY scratch_ = nullptr;
  std::wstring scratch_path_;
  bool ok_ = false;
};

// Every key and value below `path` of `root`, one line each: "key" for a key, and
// "key|name=value" for a REG_SZ value ("@" names the default value; other types show as
// "#type"). Keys are given relative to `path`, "" for the key itself.
std::set<std::wstring> DumpTree(HKEY root, const std::wstring& path);

bool KeyExists(HKEY root, const std::wstring& path);
// The REG_SZ default value of a key, or "<missing>".
std::wstring DefaultValue(HKEY root, const std::wstring& path);

std::wstring GuidText(REFGUID guid);

}  // namespace regtest
