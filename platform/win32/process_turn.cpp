// The turn among processes on Windows: a named mutex, and a named file mapping (backed by the
// paging file) for the shared record. Both live in the session's namespace ("Local\"): the
// programs of one desktop session share them, and the last handle closed removes them.
#include "platform/process_turn.h"

#include <windows.h>

#include <string>

namespace platform {

namespace {

constexpr char kMutexPrefix[] = "Local\\QelVantorix.Turn.";
constexpr char kRecordPrefix[] = "Local\\QelVantorix.TurnRecord.";

// The names are ASCII: a prefix and hexadecimal digits.
std::wstring Wide(const std::string& ascii) {
  return std::wstring(ascii.begin(), ascii.end());
}

std::string SystemError(const char* call) {
  return std::string(call) + " failed (error " + std::to_string(GetLastError()) + ")";
}

class MutexTurn final : public ProcessTurn {
 public:
  MutexTurn(HANDLE mutex, HANDLE mapping, TurnRecord* record)
      : mutex_(mutex), mapping_(mapping), record_(record) {}
  ~MutexTurn() override {
    UnmapViewOfFile(record_);
    CloseHandle(mapping_);
    CloseHandle(mutex_);
  }

  TurnTake Take(unsigned timeout_ms) override {
    switch (WaitForSingleObject(mutex_, timeout_ms)) {
      case WAIT_OBJECT_0:
        break;
      case WAIT_ABANDONED:
        // The holder ended without releasing it: the system gives it to this thread.
        record_->holder = GetCurrentProcessId();
        return TurnTake::kTakenOver;
      default:
        return TurnTake::kTimedOut;
    }
    record_->holder = GetCurrentProcessId();
    return TurnTake::kTaken;
  }

  void Give() override {
    record_->holder = 0;
    ReleaseMutex(mutex_);
  }

  TurnRecord& Record() override { return *record_; }

 private:
  HANDLE mutex_;
  HANDLE mapping_;
  TurnRecord* record_;
};

}  // namespace

std::string TurnObjectName(const std::string& key) {
  // "Local\" and then a name without a backslash, well within the MAX_PATH characters allowed.
  return kMutexPrefix + TurnKeyHash(key);
}

std::unique_ptr<ProcessTurn> OpenProcessTurn(const std::string& key, std::string* why) {
  const std::wstring mutex_name = Wide(TurnObjectName(key));
  const std::wstring record_name = Wide(kRecordPrefix + TurnKeyHash(key));
  HANDLE mutex = CreateMutexW(nullptr, FALSE, mutex_name.c_str());  // opens one that exists
  if (mutex == nullptr) {
    if (why != nullptr) *why = SystemError("CreateMutexW");
    return nullptr;
  }
  // A new mapping reads as zeros.
  HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                      sizeof(TurnRecord), record_name.c_str());
  if (mapping == nullptr) {
    if (why != nullptr) *why = SystemError("CreateFileMappingW");
    CloseHandle(mutex);
    return nullptr;
  }
  void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(TurnRecord));
  if (view == nullptr) {
    if (why != nullptr) *why = SystemError("MapViewOfFile");
    CloseHandle(mapping);
    CloseHandle(mutex);
    return nullptr;
  }
  return std::make_unique<MutexTurn>(mutex, mapping, static_cast<TurnRecord*>(view));
}

}  // namespace platform
