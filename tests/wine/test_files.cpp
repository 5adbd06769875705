#include "test_files.h"

#include <windows.h>
// after windows.h, which they need
#include <shellapi.h>

#include <vector>

namespace test_files {
namespace {

// The value of `--name=VALUE` on the process's command line (the last one given), or "".
std::wstring FlagValue(const wchar_t* name) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr) return L"";
  const std::wstring prefix = std::wstring(name) + L"=";
  std::wstring value;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (arg.compare(0, prefix.size(), prefix) == 0) value = arg.substr(prefix.size());
  }
  LocalFree(argv);
  return value;
}

std::wstring Variable(const wchar_t* name) {
  const DWORD n = GetEnvironmentVariableW(name, nullptr, 0);
  if (n == 0) return L"";
  std::wstring value(n, L'\0');
  value.resize(GetEnvironmentVariableW(name, value.data(), n));
  return value;
}

// A relative name or one with forward slashes (as CTest passes Z:/...) becomes the full name
// with back slashes, which is what Windows reports for a loaded module.
std::wstring Full(const std::wstring& path) {
  const DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (n == 0) return path;
  std::wstring full(n, L'\0');
  full.resize(GetFullPathNameW(path.c_str(), n, full.data(), nullptr));
  return full;
}

Location Find(const wchar_t* flag, const wchar_t* variable, const std::wstring& fallback) {
  if (std::wstring v = FlagValue(flag); !v.empty()) {
    return {Full(v), Narrow(std::wstring(flag))};
  }
  if (std::wstring v = Variable(variable); !v.empty()) {
    return {Full(v), Narrow(std::wstring(variable))};
  }
  return {ProgramFolder() + fallback, "the default"};
}

Location Inside(Location folder, const wchar_t* name) {
  folder.path += L"\\";
  folder.path += name;
  return folder;
}

}  // namespace

std::string Location::Describe() const {
  return Narrow(path) + " (from " + origin + ")";
}

Location EmulatedOcx() {
  return Find(L"--qvx-ocx", L"QVX_TEST_OCX", L"\\QelVantorixActiveX.ocx");
}

Location RealOcx() {
  return Find(L"--qvx-real-ocx", L"QVX_TEST_REAL_OCX", L"\\product\\QelVantorixActiveX.ocx");
}

Location DataFolder() {
  return Find(L"--qvx-data", L"QVX_TEST_DATA", L"\\data");
}

Location DataFile(const wchar_t* name) {
  return Inside(DataFolder(), name);
}

Location Program(const wchar_t* name) {
  return Inside(Find(L"--qvx-programs", L"QVX_TEST_PROGRAMS", L""), name);
}

bool Present(const Location& where, const char* what) {
  const DWORD attributes = GetFileAttributesW(where.path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return true;
  }
  ADD_FAILURE() << what << " " << where.Describe() << " does not exist";
  return false;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return "";
  const int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr,
                      nullptr);
  return out;
}

bool IsAdministrator() {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                                0, 0, 0, 0, &administrators)) {
    return false;
  }
  BOOL member = FALSE;
  if (!CheckTokenMembership(nullptr, administrators, &member)) member = FALSE;
  FreeSid(administrators);
  return member != FALSE;
}

}  // namespace test_files
