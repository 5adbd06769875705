#include "ole/registration.h"

#include <oleauto.h>

#include <cwchar>

#include "ole/module_path.h"
#include "ole/raii.h"

namespace ole {
namespace {

constexpr size_t kTextSize = 1024;

bool DeletionSucceeded(LONG result) {
  return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND || result == ERROR_BADKEY;
}

bool KeyExists(HKEY root, const wchar_t* path, REGSAM view = 0) {
  RegKey key;
  return RegOpenKeyExW(root, path, 0, KEY_READ | view, key.Put()) == ERROR_SUCCESS;
}

// The registry view of the other bitness on 64-bit Windows (classes and interfaces are kept
// apart there, ProgIDs and type libraries are shared); 0 where there is only one view.
REGSAM OtherView() {
#ifdef _WIN64
  return KEY_WOW64_32KEY;
#else
  BOOL wow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow64) && wow64 ? KEY_WOW64_64KEY : 0;
#endif
}

// Creates (or opens) `sub_key` of `parent` for writing values.
LONG CreateKey(HKEY parent, const wchar_t* sub_key, RegKey& key) {
  return RegCreateKeyExW(parent, sub_key, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, key.Put(),
                         nullptr);
}

// The module's short path, or its long path when the short form cannot be had.
bool ModuleShortPath(HMODULE module, wchar_t (&path)[MAX_PATH]) {
  wchar_t long_path[MAX_PATH];
  if (!ModuleFilePath(module, long_path)) return false;
  const DWORD short_length = GetShortPathNameW(long_path, path, MAX_PATH);
  if (short_length == 0 || short_length >= MAX_PATH) wcscpy(path, long_path);
  return true;
}

// The user type name from the string table, or the class identifier text without it.
void TypeName(HMODULE module, UINT id, const wchar_t* fallback, wchar_t (&name)[256]) {
  if (LoadStringW(module, id, name, ARRAYSIZE(name)) == 0) {
    wcsncpy(name, fallback, ARRAYSIZE(name) - 1);
    name[ARRAYSIZE(name) - 1] = L'\0';
  }
}

void ClassKeyPath(const wchar_t* clsid_text, wchar_t (&path)[64]) {
  swprintf(path, ARRAYSIZE(path), L"CLSID\\%ls", clsid_text);
}

const RegistryTemplateRow kProgIdTemplate[] = {
    {L"", L"%1"},
    {L"CLSID", L"%2"},
};

const RegistryTemplateRow kControlClassTemplate[] = {
    {L"", L"%1"},
    {L"ProgID", L"%2"},
    {L"InprocServer32", L"%3"},
    {L"ToolboxBitmap32", L"%3, %4"},
    {L"MiscStatus", L"0"},
    {L"MiscStatus\\1", L"%5"},
    {L"Control", L""},
    {L"TypeLib", L"%6"},
    {L"Version", L"%7"},
};

const RegistryTemplateRow kPropertyPageTemplate[] = {
    {L"", L"%1"},
    {L"InprocServer32", L"%2"},
};

}  // namespace

bool GuidToText(REFGUID guid, wchar_t (&text)[39]) {
  return StringFromGUID2(guid, text, ARRAYSIZE(text)) == 39;
}

size_t ExpandTemplate(const wchar_t* pattern, const wchar_t* const* symbols, size_t symbol_count,
                      wchar_t* out, size_t size) {
  if (size == 0) return 0;
  size_t n = 0;
  auto put = [&](wchar_t c) {
    if (n + 1 < size) out[n++] = c;
  };
  for (const wchar_t* p = pattern; *p != L'\0'; ++p) {
    if (p[0] == L'%' && p[1] >= L'1' && p[1] <= L'9') {
      const size_t index = static_cast<size_t>(p[1] - L'1');
      if (index < symbol_count && symbols[index] != nullptr) {
        for (const wchar_t* s = symbols[index]; *s != L'\0'; ++s) put(*s);
      }
      ++p;
    } else {
      put(*p);
    }
  }
  out[n] = L'\0';
  return n;
}

bool WriteRegistryTemplate(HKEY key, const RegistryTemplateRow* rows, size_t row_count,
                           const wchar_t* const* symbols, size_t symbol_count) {
  wchar_t value[kTextSize];
  for (size_t i = 0; i < row_count; ++i) {
    const size_t length = ExpandTemplate(rows[i].value, symbols, symbol_count, value, kTextSize);
    RegKey row_key;
    HKEY target = key;
    LONG result = ERROR_SUCCESS;
    if (rows[i].sub_key[0] != L'\0') {
      result = CreateKey(key, rows[i].sub_key, row_key);
      target = row_key.Get();
    }
    if (result == ERROR_SUCCESS) {
      result = RegSetValueExW(target, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                              static_cast<DWORD>((length + 1) * sizeof(wchar_t)));
    }
    if (result != ERROR_SUCCESS) {
      // A user without rights to the classes root gets no error from registration: the
      // entries written by an administrator stay in force.
      return result == ERROR_ACCESS_DENIED;
    }
  }
  return true;
}

bool RegisterControlClass(const ControlClassInfo& info, HKEY root) {
  wchar_t clsid_text[39];
  wchar_t libid_text[39];
  if (!GuidToText(*info.clsid, clsid_text) || !GuidToText(*info.libid, libid_text)) return false;
  wchar_t path[MAX_PATH];
  if (!ModuleShortPath(info.module, path)) return false;
  wchar_t type_name[256];
  TypeName(info.module, info.type_name_id, clsid_text, type_name);
  wchar_t bitmap[16];
  wchar_t misc[16];
  wchar_t version[16];
  swprintf(bitmap, ARRAYSIZE(bitmap), L"%u", info.bitmap_id);
  swprintf(misc, ARRAYSIZE(misc), L"%lu", static_cast<unsigned long>(info.misc_status));
  swprintf(version, ARRAYSIZE(version), L"%d.%d", info.major, info.minor);

  wchar_t class_path[64];
  ClassKeyPath(clsid_text, class_path);
  RegKey class_key;
  RegKey prog_id_key;
  if (CreateKey(root, class_path, class_key) != ERROR_SUCCESS) return false;
  if (CreateKey(root, info.prog_id, prog_id_key) != ERROR_SUCCESS) return false;
  const wchar_t* prog_id_symbols[] = {type_name, clsid_text};
  const wchar_t* class_symbols[] = {type_name, info.prog_id, path,   bitmap,
                                    misc,      libid_text,   version};
  bool ok = WriteRegistryTemplate(prog_id_key.Get(), kProgIdTemplate, ARRAYSIZE(kProgIdTemplate),
                                  prog_id_symbols, ARRAYSIZE(prog_id_symbols)) &&
            WriteRegistryTemplate(class_key.Get(), kControlClassTemplate,
                                  ARRAYSIZE(kControlClassTemplate), class_symbols,
                                  ARRAYSIZE(class_symbols));
  prog_id_key.Reset();

  if (ok && info.threading_model == ThreadingModel::kApartment) {
    RegKey server_key;
    ok = RegOpenKeyExW(class_key.Get(), L"InprocServer32", 0, KEY_SET_VALUE, server_key.Put()) ==
         ERROR_SUCCESS;
    if (ok) {
      static const wchar_t kApartment[] = L"Apartment";
      ok = RegSetValueExW(server_key.Get(), L"ThreadingModel", 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(kApartment),
                          sizeof(kApartment)) == ERROR_SUCCESS;
    }
  }
  return ok;
}

bool RegisterPropertyPageClass(HMODULE module, REFCLSID clsid, UINT type_name_id, HKEY root) {
  wchar_t clsid_text[39];
  if (!GuidToText(clsid, clsid_text)) return false;
  wchar_t path[MAX_PATH];
  if (!ModuleShortPath(module, path)) return false;
  wchar_t type_name[256];
  TypeName(module, type_name_id, clsid_text, type_name);
  wchar_t class_path[64];
  ClassKeyPath(clsid_text, class_path);
  RegKey class_key;
  if (CreateKey(root, class_path, class_key) != ERROR_SUCCESS) return false;
  const wchar_t* symbols[] = {type_name, path};
  return WriteRegistryTemplate(class_key.Get(), kPropertyPageTemplate,
                               ARRAYSIZE(kPropertyPageTemplate), symbols, ARRAYSIZE(symbols));
}

bool DeleteKeyTree(HKEY parent, const wchar_t* sub_key) {
  // Opened for deletion first: a key this process may not delete is refused before anything
  // below it goes, and the refusal is reported.
  RegKey key;
  LONG result = RegOpenKeyExW(parent, sub_key, 0, KEY_READ | KEY_WRITE | DELETE, key.Put());
  if (result == ERROR_SUCCESS) result = RegDeleteTreeW(key.Get(), nullptr);
  key.Reset();
  if (result == ERROR_SUCCESS) result = RegDeleteKeyW(parent, sub_key);
  return DeletionSucceeded(result);
}

bool UnregisterClass(REFCLSID clsid, const wchar_t* prog_id, HKEY root) {
  wchar_t clsid_text[39];
  if (!GuidToText(clsid, clsid_text)) return false;
  wchar_t class_path[64];
  ClassKeyPath(clsid_text, class_path);
  wchar_t path[128];
  swprintf(path, ARRAYSIZE(path), L"%ls\\%ls", class_path, L"InprocServer");
  if (KeyExists(root, path)) {
    // A 16-bit server shares the class: take away only what the 32-bit module added.
    swprintf(path, ARRAYSIZE(path), L"%ls\\%ls", class_path, L"InprocServer32");
    bool ok = DeleteKeyTree(root, path);
    swprintf(path, ARRAYSIZE(path), L"%ls\\%ls", class_path, L"ToolboxBitmap32");
    ok = DeleteKeyTree(root, path) && ok;
    return ok;
  }
  bool ok = DeleteKeyTree(root, class_path);
  // The ProgID key is shared by both views: it stays while the other bitness's class uses it.
  const REGSAM other_view = OtherView();
  const bool used_by_other = other_view != 0 && KeyExists(root, class_path, other_view);
  if (prog_id != nullptr && prog_id[0] != L'\0' && !used_by_other) {
    ok = DeleteKeyTree(root, prog_id) && ok;
  }
  return ok;
}

bool RegisterModuleTypeLib(HMODULE module, REFGUID libid) {
  wchar_t path[MAX_PATH];
  if (!ModuleFilePath(module, path)) return false;
  ComPtr<ITypeLib> type_lib;
  if (FAILED(LoadTypeLib(path, type_lib.Put()))) return false;
  bool ok = false;
  TLIBATTR* attr = nullptr;
  if (SUCCEEDED(type_lib->GetLibAttr(&attr))) {
    ok = IsEqualGUID(attr->guid, libid);
    type_lib->ReleaseTLibAttr(attr);
  }
  if (ok) ok = SUCCEEDED(RegisterTypeLib(type_lib.Get(), path, nullptr));
  return ok;
}

namespace {

// The platform sub-key of a type library locale that this build registers, and every platform a
// locale can hold.
#ifdef _WIN64
constexpr wchar_t kOwnPlatform[] = L"win64";
#else
constexpr wchar_t kOwnPlatform[] = L"win32";
#endif
constexpr const wchar_t* kPlatforms[] = {L"win16", L"win32", L"win64"};

bool IsLocale(const wchar_t* name) {
  return _wcsicmp(name, L"HELPDIR") != 0 && _wcsicmp(name, L"FLAGS") != 0;
}

bool HoldsOtherPlatform(HKEY locale_key) {
  for (const wchar_t* platform : kPlatforms) {
    if (_wcsicmp(platform, kOwnPlatform) != 0 && KeyExists(locale_key, platform)) return true;
  }
  return false;
}

// The name of sub-key `index` of `key`; false past the last one.
bool SubKeyAt(HKEY key, DWORD index, wchar_t (&name)[64]) {
  DWORD length = ARRAYSIZE(name);
  return RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) ==
         ERROR_SUCCESS;
}

// What unregistration does to one sub-key of TypeLib\{libid}\<version>: this build takes away
// only what it registered, because the key is shared by the 32- and 64-bit registry views.
enum class LocaleAction {
  kKeep,               // not a locale (HELPDIR, FLAGS): left alone
  kRemoveOwnPlatform,  // another platform is registered there too: only ours goes
  kRemoveWhole,        // only ours is there: the locale goes
};
struct LocaleRule {
  bool is_locale;
  bool holds_other_platform;
  LocaleAction action;
};
constexpr LocaleRule kLocaleRules[] = {
    {false, false, LocaleAction::kKeep},
    {false, true, LocaleAction::kKeep},
    {true, true, LocaleAction::kRemoveOwnPlatform},
    {true, false, LocaleAction::kRemoveWhole},
};

LocaleAction ActionFor(bool is_locale, bool holds_other_platform) {
  for (const LocaleRule& rule : kLocaleRules) {
    if (rule.is_locale == is_locale && rule.holds_other_platform == holds_other_platform) {
      return rule.action;
    }
  }
  return LocaleAction::kKeep;
}

// Applies kLocaleRules to every sub-key of one version. Sets `kept` when a locale stays (one that
// loses only our platform, or one that could not be deleted).
bool DeleteOwnLocales(HKEY version_key, bool& kept) {
  bool ok = true;
  wchar_t name[64];
  // Keys that stay shift the enumeration index; deleted ones do not.
  for (DWORD index = 0; SubKeyAt(version_key, index, name);) {
    const bool is_locale = IsLocale(name);
    RegKey locale_key;
    const bool holds_other_platform = is_locale &&
                                      RegOpenKeyExW(version_key, name, 0, KEY_READ | KEY_WRITE,
                                                    locale_key.Put()) == ERROR_SUCCESS &&
                                      HoldsOtherPlatform(locale_key.Get());
    bool stays = true;
    switch (ActionFor(is_locale, holds_other_platform)) {
      case LocaleAction::kKeep:
        ++index;
        continue;
      case LocaleAction::kRemoveOwnPlatform:
        ok = DeleteKeyTree(locale_key.Get(), kOwnPlatform) && ok;
        break;
      case LocaleAction::kRemoveWhole:
        locale_key.Reset();
        stays = !DeleteKeyTree(version_key, name);
        ok = ok && !stays;
        break;
    }
    if (stays) {
      kept = true;
      ++index;
    }
  }
  return ok;
}

// Removes this build's registration from every version of TypeLib\{libid}: a version goes once
// no locale of it remains. Sets `kept` when a version stays. The key is shared between the 32-
// and 64-bit registry views, so what the other bitness registered must survive.
bool DeleteTypeLibVersions(HKEY lib_key, bool& kept) {
  bool ok = true;
  wchar_t version[64];
  for (DWORD index = 0; SubKeyAt(lib_key, index, version);) {
    RegKey version_key;
    bool version_kept = false;
    if (RegOpenKeyExW(lib_key, version, 0, KEY_READ | KEY_WRITE, version_key.Put()) !=
        ERROR_SUCCESS) {
      ok = false;
      version_kept = true;
    } else {
      ok = DeleteOwnLocales(version_key.Get(), version_kept) && ok;
      version_key.Reset();
    }
    if (!version_kept && !DeleteKeyTree(lib_key, version)) {
      ok = false;
      version_kept = true;
    }
    if (version_kept) {
      kept = true;
      ++index;
    }
  }
  return ok;
}

// Whether any locale of TypeLib\{libid}\<major>.<minor> still holds this build's platform: the
// registration that hosts of this bitness load through (a 64-bit LoadRegTypeLib would also fall
// back to a 32-bit one, which is not ours to keep interfaces for).
bool OwnPlatformRegistered(HKEY root, const wchar_t* lib_path, WORD major, WORD minor) {
  wchar_t path[96];
  swprintf(path, ARRAYSIZE(path), L"%ls\\%x.%x", lib_path, major, minor);
  RegKey version_key;
  if (RegOpenKeyExW(root, path, 0, KEY_READ, version_key.Put()) != ERROR_SUCCESS) return false;
  bool found = false;
  wchar_t locale[64];
  for (DWORD index = 0; !found && SubKeyAt(version_key.Get(), index, locale); ++index) {
    if (!IsLocale(locale)) continue;
    swprintf(path, ARRAYSIZE(path), L"%ls\\%ls", locale, kOwnPlatform);
    found = KeyExists(version_key.Get(), path);
  }
  return found;
}

void DeleteInterfaceKeys(ITypeLib* type_lib, HKEY root) {
  const UINT count = type_lib->GetTypeInfoCount();
  for (UINT i = 0; i < count; ++i) {
    TYPEKIND kind;
    if (FAILED(type_lib->GetTypeInfoType(i, &kind))) continue;
    if (kind != TKIND_DISPATCH && kind != TKIND_INTERFACE) continue;
    ComPtr<ITypeInfo> info;
    if (FAILED(type_lib->GetTypeInfo(i, info.Put()))) continue;
    TYPEATTR* attr = nullptr;
    if (SUCCEEDED(info->GetTypeAttr(&attr))) {
      wchar_t iid_text[39];
      if (GuidToText(attr->guid, iid_text)) {
        wchar_t path[64];
        swprintf(path, ARRAYSIZE(path), L"Interface\\%ls", iid_text);
        DeleteKeyTree(root, path);
      }
      info->ReleaseTypeAttr(attr);
    }
  }
}

}  // namespace

bool UnregisterModuleTypeLib(REFGUID libid, WORD major, WORD minor, HKEY root) {
  wchar_t libid_text[39];
  if (!GuidToText(libid, libid_text)) return false;
  ComPtr<ITypeLib> registered;
  if (FAILED(LoadRegTypeLib(libid, major, minor, 0, registered.Put()))) registered.Reset();

  wchar_t lib_path[64];
  swprintf(lib_path, ARRAYSIZE(lib_path), L"TypeLib\\%ls", libid_text);
  RegKey lib_key;
  const LONG opened = RegOpenKeyExW(root, lib_path, 0, KEY_READ | KEY_WRITE, lib_key.Put());
  bool ok = DeletionSucceeded(opened);
  if (opened == ERROR_SUCCESS) {
    bool kept = false;
    ok = DeleteTypeLibVersions(lib_key.Get(), kept);
    lib_key.Reset();
    if (ok && !kept) ok = DeleteKeyTree(root, lib_path);
  }

  // Interface keys live in one registry view: they go with this bitness's registration, and
  // never after a failed deletion (the caller then stops with every class entry intact).
  if (registered && ok && !OwnPlatformRegistered(root, lib_path, major, minor)) {
    DeleteInterfaceKeys(registered.Get(), root);
  }
  return ok;
}

}  // namespace ole
