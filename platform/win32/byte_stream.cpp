// Named pipes, byte mode, overlapped I/O: every wait also watches an event that Shutdown() or
// Stop() sets.
#include "platform/byte_stream.h"

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <utility>

#include "platform/win32/wide_text.h"

namespace platform {

namespace {

constexpr char kPipePrefix[] = "\\\\.\\pipe\\";
constexpr DWORD kPipeBufferBytes = 64 * 1024;

std::string SystemText(DWORD code) {
  char* text = nullptr;
  const DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string line =
      n > 0 && text != nullptr ? std::string(text, n) : "error " + std::to_string(code);
  if (text != nullptr) LocalFree(text);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == '.')) {
    line.pop_back();
  }
  return line;
}

// Owns a handle.
struct Handle {
  explicit Handle(HANDLE h = nullptr) : h_(h) {}
  ~Handle() {
    if (h_ != nullptr && h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return h_; }
  bool valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
  HANDLE h_;
};

enum class Waited { kDone, kStopped, kTimedOut, kFailed };

// Waits for an overlapped operation on `file` that returned `started` (its BOOL), or for
// `stop`. The operation is cancelled unless it completed; `bytes` gets what it moved.
Waited Finish(HANDLE file, OVERLAPPED* o, BOOL started, HANDLE stop, DWORD timeout_ms,
              DWORD* bytes) {
  if (!started && GetLastError() != ERROR_IO_PENDING) return Waited::kFailed;
  const HANDLE events[2] = {o->hEvent, stop};
  const DWORD woke = WaitForMultipleObjects(2, events, FALSE, timeout_ms);
  if (woke != WAIT_OBJECT_0) {
    CancelIoEx(file, o);
    const BOOL finished = GetOverlappedResult(file, o, bytes, TRUE);
    if (finished && woke != WAIT_OBJECT_0 + 1) return Waited::kDone;  // it made it after all
    return woke == WAIT_OBJECT_0 + 1 ? Waited::kStopped : Waited::kTimedOut;
  }
  return GetOverlappedResult(file, o, bytes, FALSE) ? Waited::kDone : Waited::kFailed;
}

class PipeStream : public ByteStream {
 public:
  explicit PipeStream(HANDLE pipe)
      : pipe_(pipe),
        stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
        read_event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
        write_event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

  bool Usable() const {
    return pipe_.valid() && stop_.valid() && read_event_.valid() && write_event_.valid();
  }

  bool WriteAll(const void* data, std::size_t bytes) override {
    const char* p = static_cast<const char*>(data);
    while (bytes > 0) {
      if (shut_.load()) return false;
      OVERLAPPED o = {};
      o.hEvent = write_event_.get();
      ResetEvent(o.hEvent);
      DWORD moved = 0;
      const DWORD ask = static_cast<DWORD>(bytes < kPipeBufferBytes ? bytes : kPipeBufferBytes);
      const BOOL started = WriteFile(pipe_.get(), p, ask, nullptr, &o);
      if (Finish(pipe_.get(), &o, started, stop_.get(), INFINITE, &moved) != Waited::kDone ||
          moved == 0) {
        Shutdown();
        return false;
      }
      p += moved;
      bytes -= moved;
    }
    return true;
  }

  ReadResult ReadExact(void* data, std::size_t bytes, unsigned timeout_ms) override {
    const ULONGLONG deadline = GetTickCount64() + timeout_ms;
    char* p = static_cast<char*>(data);
    while (bytes > 0) {
      if (shut_.load()) return ReadResult::kFailed;
      DWORD wait = INFINITE;
      if (timeout_ms != kWaitForever) {
        const ULONGLONG now = GetTickCount64();
        wait = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
      }
      OVERLAPPED o = {};
      o.hEvent = read_event_.get();
      ResetEvent(o.hEvent);
      DWORD moved = 0;
      const BOOL started = ReadFile(pipe_.get(), p, static_cast<DWORD>(bytes), nullptr, &o);
      const Waited waited = Finish(pipe_.get(), &o, started, stop_.get(), wait, &moved);
      if (waited == Waited::kTimedOut) {
        Shutdown();
        return ReadResult::kTimedOut;
      }
      if (waited != Waited::kDone || moved == 0) {
        Shutdown();
        return ReadResult::kFailed;
      }
      p += moved;
      bytes -= moved;
    }
    return ReadResult::kOk;
  }

  void Shutdown() override {
    if (!shut_.exchange(true)) SetEvent(stop_.get());
  }

 private:
  Handle pipe_;
  Handle stop_;
  Handle read_event_;
  Handle write_event_;
  std::atomic<bool> shut_{false};
};

class PipeListener : public StreamListener {
 public:
  PipeListener(std::string name, HANDLE first)
      : name_(std::move(name)),
        wide_(win32::WidenUtf8(name_)),
        next_(first),
        stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
        connect_event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~PipeListener() override {
    if (next_ != INVALID_HANDLE_VALUE) CloseHandle(next_);
  }

  bool Usable() const { return stop_.valid() && connect_event_.valid(); }

  std::unique_ptr<ByteStream> Accept() override {
    for (;;) {
      if (stopped_.load()) return nullptr;
      if (next_ == INVALID_HANDLE_VALUE) next_ = MakeInstance(wide_, false);
      if (next_ == INVALID_HANDLE_VALUE) return nullptr;
      OVERLAPPED o = {};
      o.hEvent = connect_event_.get();
      ResetEvent(o.hEvent);
      DWORD ignored = 0;
      const BOOL started = ConnectNamedPipe(next_, &o);
      Waited waited = Waited::kDone;
      if (!started && GetLastError() == ERROR_PIPE_CONNECTED) {
        waited = Waited::kDone;  // the client came between the create and the connect
      } else {
        waited = Finish(next_, &o, started, stop_.get(), INFINITE, &ignored);
      }
      if (waited == Waited::kStopped) return nullptr;
      HANDLE connected = next_;
      next_ = INVALID_HANDLE_VALUE;
      if (waited != Waited::kDone) {
        CloseHandle(connected);  // a client that went away at once: wait for the next
        continue;
      }
      auto stream = std::make_unique<PipeStream>(connected);
      if (!stream->Usable()) continue;
      return stream;
    }
  }

  void Stop() override {
    stopped_.store(true);
    SetEvent(stop_.get());
  }

  std::string Name() const override { return name_; }

  static HANDLE MakeInstance(const std::wstring& name, bool first) {
    return CreateNamedPipeW(
        name.c_str(),
        PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
        PIPE_UNLIMITED_INSTANCES, kPipeBufferBytes, kPipeBufferBytes, 0, nullptr);
  }

 private:
  const std::string name_;
  const std::wstring wide_;
  HANDLE next_;
  Handle stop_;
  Handle connect_event_;
  std::atomic<bool> stopped_{false};
};

}  // namespace

std::string FullStreamName(const std::string& name) {
  if (name.rfind(kPipePrefix, 0) == 0) return name;
  return kPipePrefix + name;
}

std::string ProcessStreamName() {
  return "qvx-" + std::to_string(static_cast<unsigned long>(GetCurrentProcessId()));
}

std::unique_ptr<StreamListener> ListenStream(const std::string& name, std::string* why) {
  const std::string full = FullStreamName(name);
  const HANDLE first = PipeListener::MakeInstance(win32::WidenUtf8(full), true);
  if (first == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (why != nullptr) {
      *why = "'" + full +
             "': " + (error == ERROR_ACCESS_DENIED ? std::string("in use") : SystemText(error));
    }
    return nullptr;
  }
  auto listener = std::make_unique<PipeListener>(full, first);
  if (!listener->Usable()) {
    if (why != nullptr) *why = "no event objects: " + SystemText(GetLastError());
    return nullptr;
  }
  return listener;
}

std::unique_ptr<ByteStream> ConnectStream(const std::string& name, std::string* why) {
  const std::wstring wide = win32::WidenUtf8(FullStreamName(name));
  for (int attempt = 0;; ++attempt) {
    const HANDLE pipe = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (pipe != INVALID_HANDLE_VALUE) {
      auto stream = std::make_unique<PipeStream>(pipe);
      if (stream->Usable()) return stream;
      if (why != nullptr) *why = "no event objects";
      return nullptr;
    }
    const DWORD error = GetLastError();
    // Every instance busy: the server makes the next one as soon as it has taken a client.
    if (error == ERROR_PIPE_BUSY && attempt < 50 && WaitNamedPipeW(wide.c_str(), 100)) continue;
    if (error == ERROR_PIPE_BUSY && attempt < 50) continue;
    if (why != nullptr) *why = SystemText(error);
    return nullptr;
  }
}

namespace {
std::atomic<StreamListener*> g_interrupted{nullptr};
BOOL WINAPI OnConsoleEvent(DWORD event) {
  StreamListener* listener = g_interrupted.load();
  if (listener == nullptr) return FALSE;
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) {
    listener->Stop();
    return TRUE;
  }
  return FALSE;
}
}  // namespace

void StopOnInterrupt(StreamListener* listener) {
  const bool had = g_interrupted.exchange(listener) != nullptr;
  if (listener != nullptr && !had) SetConsoleCtrlHandler(&OnConsoleEvent, TRUE);
  if (listener == nullptr && had) SetConsoleCtrlHandler(&OnConsoleEvent, FALSE);
}

}  // namespace platform
