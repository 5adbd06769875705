// registry_rows: the installer's registry rows, taken from the control's own registration.
//
//   registry_rows <ocx> <file-id> <out.wxi>
//
// Loads the OCX, sends HKEY_CLASSES_ROOT of this process to an empty scratch key, calls
// DllRegisterServer and writes every value it left there as a WiX <RegistryValue>. The module's
// path becomes the formatted reference to the installed file ([!id] for the short path that
// registration writes, [#id] for the long one), so the package writes what DllRegisterServer
// would write for the installed file. The "TypeLib" and "Interface" trees are left out: they
// come from the platform's RegisterTypeLib, which the package's TypeLib table calls at install
// time just as DllRegisterServer does.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

struct Row {
  std::wstring key;
  std::wstring name;  // empty: the default value
  std::wstring value;
  bool operator<(const Row& other) const {
    return std::tie(key, name, value) < std::tie(other.key, other.name, other.value);
  }
};

// Sub-trees written by RegisterTypeLib, not by the control's templates.
const wchar_t* const kPlatformTrees[] = {L"TypeLib", L"Interface"};

bool IsPlatformTree(const std::wstring& top) {
  for (const wchar_t* tree : kPlatformTrees) {
    if (_wcsicmp(top.c_str(), tree) == 0) return true;
  }
  return false;
}

// Collects the REG_SZ values below `key`; false on any other value type, which the package
// would have no faithful way to write as text.
bool Collect(HKEY key, const std::wstring& path, std::set<Row>& rows) {
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD name_length = ARRAYSIZE(name);
    DWORD type = 0;
    BYTE data[4096];
    DWORD size = sizeof(data);
    const LONG result = RegEnumValueW(key, i, name, &name_length, nullptr, &type, data, &size);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS || type != REG_SZ) {
      fwprintf(stderr, L"registry_rows: %ls\\%ls is not a string value\n", path.c_str(), name);
      return false;
    }
    const auto* text = reinterpret_cast<const wchar_t*>(data);
    rows.insert({path, name, std::wstring(text, wcsnlen(text, size / sizeof(wchar_t)))});
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
    if (path.empty() && IsPlatformTree(child)) continue;
    HKEY sub = nullptr;
    if (RegOpenKeyExW(key, child.c_str(), 0, KEY_READ, &sub) != ERROR_SUCCESS) return false;
    const bool ok = Collect(sub, path.empty() ? child : path + L"\\" + child, rows);
    RegCloseKey(sub);
    if (!ok) return false;
  }
  return true;
}

// Runs DllRegisterServer with HKEY_CLASSES_ROOT sent to a scratch key and collects what it wrote.
bool RegisterIntoScratch(const wchar_t* ocx, std::set<Row>& rows) {
  HMODULE module = LoadLibraryW(ocx);
  if (module == nullptr) {
    fwprintf(stderr, L"registry_rows: cannot load %ls (error %lu)\n", ocx, GetLastError());
    return false;
  }
  auto* register_server =
      reinterpret_cast<HRESULT(WINAPI*)()>(GetProcAddress(module, "DllRegisterServer"));
  const std::wstring scratch_path =
      L"Software\\QvxRegistryRows\\" + std::to_wstring(GetCurrentProcessId());
  HKEY scratch = nullptr;
  bool ok = register_server != nullptr &&
            RegCreateKeyExW(HKEY_CURRENT_USER, scratch_path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &scratch, nullptr) == ERROR_SUCCESS;
  if (ok) ok = RegOverridePredefKey(HKEY_CLASSES_ROOT, scratch) == ERROR_SUCCESS;
  if (ok) {
    const HRESULT hr = register_server();
    RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    if (FAILED(hr)) fwprintf(stderr, L"registry_rows: DllRegisterServer: 0x%08lx\n", hr);
    ok = SUCCEEDED(hr) && Collect(scratch, L"", rows);
  }
  if (scratch != nullptr) RegCloseKey(scratch);
  RegDeleteTreeW(HKEY_CURRENT_USER, scratch_path.c_str());
  RegDeleteKeyW(HKEY_CURRENT_USER, scratch_path.c_str());
  FreeLibrary(module);
  return ok;
}

void ReplaceAll(std::wstring& text, const std::wstring& from, const std::wstring& to) {
  for (size_t at = text.find(from); at != std::wstring::npos; at = text.find(from, at)) {
    text.replace(at, from.size(), to);
    at += to.size();
  }
}

// Text for an XML attribute value.
std::wstring Attribute(const std::wstring& text) {
  static const struct {
    wchar_t c;
    const wchar_t* escape;
  } kEscapes[] = {{L'&', L"&amp;"}, {L'<', L"&lt;"}, {L'>', L"&gt;"}, {L'"', L"&quot;"}};
  std::wstring out;
  for (wchar_t c : text) {
    const wchar_t* escape = nullptr;
    for (const auto& e : kEscapes) {
      if (e.c == c) escape = e.escape;
    }
    if (escape != nullptr) {
      out += escape;
    } else {
      out += c;
    }
  }
  return out;
}

// The installer reads a registry value as a formatted string: square brackets would start a
// property reference, so they are written as the escapes [\[] and [\]].
std::wstring Formatted(const std::wstring& text) {
  std::wstring out;
  for (wchar_t c : text) {
    if (c == L'[' || c == L']') {
      out += L"[\\";
      out += c;
      out += L']';
    } else {
      out += c;
    }
  }
  return out;
}

std::wstring Folded(std::wstring text) {
  for (wchar_t& c : text) c = towlower(c);
  return text;
}

std::wstring Folder(const std::wstring& path) {
  return path.substr(0, path.find_last_of(L'\\') + 1);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) {
    fwprintf(stderr, L"usage: registry_rows <ocx> <file-id> <out.wxi>\n");
    return 2;
  }
  const wchar_t* ocx = argv[1];
  const std::wstring file_id = argv[2];
  wchar_t long_path[MAX_PATH];
  wchar_t short_path[MAX_PATH];
  if (GetFullPathNameW(ocx, MAX_PATH, long_path, nullptr) == 0 ||
      GetShortPathNameW(long_path, short_path, MAX_PATH) == 0) {
    fwprintf(stderr, L"registry_rows: no such file %ls\n", ocx);
    return 1;
  }
  std::set<Row> rows;
  if (!RegisterIntoScratch(long_path, rows)) return 1;
  if (rows.empty()) {
    fwprintf(stderr, L"registry_rows: DllRegisterServer wrote nothing\n");
    return 1;
  }

  // Where registration wrote the module's path, the package writes the installed file's.
  const wchar_t kShortMark = L'\x1';
  const wchar_t kLongMark = L'\x2';
  std::wstring out =
      L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
      L"<!-- Generated by registry_rows from DllRegisterServer of QelVantorixActiveX.ocx. -->\n"
      L"<Include>\n";
  for (const Row& row : rows) {
    std::wstring value = row.value;
    // The short path first: where no folder has a short name, both paths are the same text.
    ReplaceAll(value, short_path, std::wstring(1, kShortMark));
    ReplaceAll(value, long_path, std::wstring(1, kLongMark));
    if (Folded(value).find(Folded(Folder(short_path))) != std::wstring::npos ||
        Folded(value).find(Folded(Folder(long_path))) != std::wstring::npos) {
      fwprintf(stderr, L"registry_rows: %ls names the build folder: %ls\n", row.key.c_str(),
               row.value.c_str());
      return 1;
    }
    value = Formatted(value);
    ReplaceAll(value, std::wstring(1, kShortMark), L"[!" + file_id + L"]");
    ReplaceAll(value, std::wstring(1, kLongMark), L"[#" + file_id + L"]");
    if (!value.empty() && value[0] == L'#') {
      fwprintf(stderr, L"registry_rows: %ls: a leading '#' would change the value's type\n",
               row.key.c_str());
      return 1;
    }
    out += L"  <RegistryValue Root=\"HKCR\" Key=\"" + Attribute(Formatted(row.key)) + L"\"";
    if (!row.name.empty()) out += L" Name=\"" + Attribute(Formatted(row.name)) + L"\"";
    out += L" Type=\"string\" Value=\"" + Attribute(value) + L"\"/>\n";
  }
  out += L"</Include>\n";

  const int bytes = WideCharToMultiByte(CP_UTF8, 0, out.c_str(), static_cast<int>(out.size()),
                                        nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, out.c_str(), static_cast<int>(out.size()), utf8.data(), bytes,
                      nullptr, nullptr);
  FILE* file = _wfopen(argv[3], L"wb");
  if (file == nullptr || fwrite(utf8.data(), 1, utf8.size(), file) != utf8.size()) {
    fwprintf(stderr, L"registry_rows: cannot write %ls\n", argv[3]);
    if (file != nullptr) fclose(file);
    return 1;
  }
  fclose(file);
  return 0;
}
