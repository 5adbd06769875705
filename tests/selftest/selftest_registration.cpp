#include "tests/selftest/selftest_registration.h"

#include <windows.h>

#include <cstdio>

#include "tests/wine/this_process.h"

namespace selftest {

const wchar_t kControlProgId[] = L"QELVANTORIXAC.QelVantorixAcCtrl.1";

namespace {

std::wstring DefaultValue(const std::wstring& key) {
  wchar_t value[MAX_PATH * 2];
  DWORD size = sizeof value;
  if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &size) !=
      ERROR_SUCCESS)
    return L"";
  return value;
}

std::string HrText(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
  return text;
}

// Calls the control's DllRegisterServer or DllUnregisterServer, with HKEY_CLASSES_ROOT mapped
// to this user's classes when `per_user`.
HRESULT CallRegistration(const std::wstring& ocx, const char* entry, bool per_user) {
  HKEY user_classes = nullptr;
  if (per_user) {
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &user_classes, nullptr) != ERROR_SUCCESS)
      return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
    RegOverridePredefKey(HKEY_CLASSES_ROOT, user_classes);
    // Without it RegisterTypeLib ignores the mapping for a limited user (Windows Vista SP1 on).
    using EnableFn = void(WINAPI*)();
    if (auto enable = reinterpret_cast<EnableFn>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleW(L"oleaut32.dll"), "OaEnablePerUserTLibRegistration"))))
      enable();
  }
  HRESULT hr = HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
  if (HMODULE module = LoadLibraryW(ocx.c_str())) {
    using EntryFn = HRESULT(WINAPI*)();
    auto call = reinterpret_cast<EntryFn>(reinterpret_cast<void*>(GetProcAddress(module, entry)));
    hr = call ? call() : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    FreeLibrary(module);
  }
  if (user_classes) {
    RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    RegCloseKey(user_classes);
  }
  return hr;
}

}  // namespace

std::wstring InstalledControl() {
  const std::wstring clsid = DefaultValue(std::wstring(kControlProgId) + L"\\CLSID");
  if (clsid.empty()) return L"";
  return DefaultValue(L"CLSID\\" + clsid + L"\\InprocServer32");
}

UserRegistration::~UserRegistration() {
  std::string ignored;
  Remove(&ignored);
}

Verdict UserRegistration::Ensure() {
  if (tried_) return answer_;
  tried_ = true;
  per_user_ = !test_files::OnWine();
  if (!per_user_ && !installed_.empty() && _wcsicmp(installed_.c_str(), ocx_.c_str()) != 0) {
    answer_ = {Outcome::kSkipped,
               "Wine's COM reads no per-user classes, and registering the emulated control for "
               "the whole prefix would replace the installed one"};
    return answer_;
  }
  const HRESULT hr = CallRegistration(ocx_, "DllRegisterServer", per_user_);
  registered_ = SUCCEEDED(hr);
  answer_ = {Outcome::kPassed, ""};
  if (!registered_) {
    answer_ = {Outcome::kFailed, std::string("the emulated control could not be registered ") +
                                     (per_user_ ? "for this user" : "in this prefix") +
                                     ": DllRegisterServer returned " + HrText(hr)};
  }
  return answer_;
}

bool UserRegistration::Remove(std::string* why) {
  if (!registered_) return true;
  registered_ = false;
  const HRESULT hr = CallRegistration(ocx_, "DllUnregisterServer", per_user_);
  if (SUCCEEDED(hr)) return true;
  *why = "DllUnregisterServer returned " + HrText(hr);
  return false;
}

}  // namespace selftest
