#include "platform/output_file.h"

#include <windows.h>

#include "platform/win32/wide_text.h"

namespace platform {

namespace {

class Win32OutputFile : public OutputFile {
 public:
  explicit Win32OutputFile(HANDLE handle) : handle_(handle) {}
  ~Win32OutputFile() override { CloseHandle(handle_); }

  bool Write(const void* data, std::size_t bytes) override {
    const auto* p = static_cast<const char*>(data);
    while (bytes > 0) {
      const DWORD chunk = bytes > 0x10000000 ? 0x10000000 : static_cast<DWORD>(bytes);
      DWORD written = 0;
      if (!WriteFile(handle_, p, chunk, &written, nullptr) || written == 0) return false;
      p += written;
      bytes -= written;
    }
    return true;
  }
  // WriteFile hands the bytes to the system cache: they survive a crash of this process.
  bool Flush() override { return true; }

 private:
  HANDLE handle_;
};

std::string SystemMessage(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message = n && text ? win32::NarrowUtf8(text) : std::string();
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
    message.pop_back();
  }
  return message.empty() ? "error " + std::to_string(error) : message;
}

}  // namespace

std::unique_ptr<OutputFile> CreateNewFile(const std::string& path, std::string* why) {
  const std::wstring wide = win32::WidenUtf8(path);
  if (wide.empty()) {
    if (why) *why = "the name is not valid UTF-8";
    return nullptr;
  }
  const HANDLE handle = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    if (why) *why = SystemMessage(GetLastError());
    return nullptr;
  }
  return std::make_unique<Win32OutputFile>(handle);
}

bool IsFolder(const std::string& path) {
  const std::wstring wide = win32::WidenUtf8(path);
  if (wide.empty()) return false;
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The C runtime's rename refuses to replace an existing file here; removing it first would lose
// both files when the rename then fails. MoveFileExW replaces it in one step or not at all.
bool MoveOver(const std::string& from, const std::string& to, std::string* why) {
  const auto wide = [](const std::string& name) {
    const int n = MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, nullptr, 0);
    std::wstring text(n > 0 ? static_cast<std::size_t>(n) : 1u, L'\0');
    if (n > 0) MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, &text[0], n);
    text.resize(text.size() - 1);
    return text;
  };
  if (MoveFileExW(wide(from).c_str(), wide(to).c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  if (why) *why = SystemMessage(GetLastError());
  return false;
}

}  // namespace platform
