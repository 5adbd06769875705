// Unix domain stream sockets.
#include "platform/byte_stream.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "platform/posix/write_fully.h"

namespace platform {

namespace {

std::string Reason(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

class SocketStream : public ByteStream {
 public:
  explicit SocketStream(int fd) : fd_(fd) {}
  ~SocketStream() override { ::close(fd_); }

  bool WriteAll(const void* data, std::size_t bytes) override {
    // Nothing more is sent once the stream is broken (Break is then a no-op).
    if (WriteFully(data, bytes, [this](const char* p, std::size_t n) -> ssize_t {
          return shut_.load() ? 0 : ::send(fd_, p, n, MSG_NOSIGNAL);
        })) {
      return true;
    }
    return Break();
  }

  ReadResult ReadExact(void* data, std::size_t bytes, unsigned timeout_ms) override {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    char* p = static_cast<char*>(data);
    while (bytes > 0) {
      if (shut_.load()) return ReadResult::kFailed;
      int wait = -1;
      if (timeout_ms != kWaitForever) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
          Break();
          return ReadResult::kTimedOut;
        }
        wait = static_cast<int>(left);
      }
      pollfd ready{fd_, POLLIN, 0};
      const int polled = ::poll(&ready, 1, wait);
      if (polled < 0 && errno == EINTR) continue;
      if (polled < 0) {
        Break();
        return ReadResult::kFailed;
      }
      if (polled == 0) continue;  // the deadline check above ends the wait
      const ssize_t n = ::recv(fd_, p, bytes, 0);
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (n <= 0) {
        Break();
        return ReadResult::kFailed;
      }
      p += n;
      bytes -= static_cast<std::size_t>(n);
    }
    return ReadResult::kOk;
  }

  void Shutdown() override { Break(); }

 private:
  // Wakes whoever waits on the socket; false, for the callers' convenience.
  bool Break() {
    if (!shut_.exchange(true)) ::shutdown(fd_, SHUT_RDWR);
    return false;
  }

  const int fd_;
  std::atomic<bool> shut_{false};
};

bool FillAddress(const std::string& path, sockaddr_un* address, std::string* why) {
  std::memset(address, 0, sizeof *address);
  address->sun_family = AF_UNIX;
  if (path.size() >= sizeof address->sun_path) {
    if (why != nullptr)
      *why = "the socket path is longer than " + std::to_string(sizeof address->sun_path - 1) +
             " bytes";
    return false;
  }
  std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
  return true;
}

int Connect(const std::string& path, std::string* why) {
  sockaddr_un address;
  if (!FillAddress(path, &address, why)) return -1;
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    if (why != nullptr) *why = Reason("socket");
    return -1;
  }
  int rc;
  do {
    rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (rc < 0 && errno == EINTR);
  if (rc < 0) {
    if (why != nullptr) *why = std::strerror(errno);
    ::close(fd);
    return -1;
  }
  return fd;
}

class SocketListener : public StreamListener {
 public:
  SocketListener(int fd, int wake_read, int wake_write, std::string path)
      : fd_(fd), wake_read_(wake_read), wake_write_(wake_write), path_(std::move(path)) {}
  ~SocketListener() override {
    ::unlink(path_.c_str());
    ::close(fd_);
    ::close(wake_read_);
    ::close(wake_write_);
  }

  std::unique_ptr<ByteStream> Accept() override {
    for (;;) {
      if (stopped_.load()) return nullptr;
      pollfd ready[2] = {{fd_, POLLIN, 0}, {wake_read_, POLLIN, 0}};
      const int polled = ::poll(ready, 2, -1);
      if (polled < 0 && errno == EINTR) continue;
      if (polled < 0 || stopped_.load() || (ready[1].revents & POLLIN) != 0) return nullptr;
      const int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;  // the client gave up meanwhile, or a signal came
      return std::make_unique<SocketStream>(client);
    }
  }

  // Only async-signal-safe calls.
  void Stop() override {
    stopped_.store(true);
    const char byte = 1;
    const ssize_t ignored = ::write(wake_write_, &byte, 1);
    (void)ignored;
  }

  std::string Name() const override { return path_; }

 private:
  const int fd_;
  const int wake_read_;
  const int wake_write_;
  const std::string path_;
  std::atomic<bool> stopped_{false};
};

}  // namespace

std::string FullStreamName(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  const char* folder = std::getenv("XDG_RUNTIME_DIR");
  const std::string base = folder != nullptr && *folder != '\0' ? folder : "/tmp";
  return base + "/" + name;
}

std::string ProcessStreamName() {
  return "qvx-" + std::to_string(static_cast<long>(::getpid()));
}

std::unique_ptr<StreamListener> ListenStream(const std::string& name, std::string* why) {
  const std::string path = FullStreamName(name);
  sockaddr_un address;
  if (!FillAddress(path, &address, why)) return nullptr;
  struct stat existing;
  if (::lstat(path.c_str(), &existing) == 0) {
    // A socket nobody listens on is left over from a server that was killed: take its place.
    std::string ignored;
    const int live = S_ISSOCK(existing.st_mode) ? Connect(path, &ignored) : -1;
    if (live >= 0 || !S_ISSOCK(existing.st_mode)) {
      if (live >= 0) ::close(live);
      if (why != nullptr) *why = "'" + path + "' is in use";
      return nullptr;
    }
    ::unlink(path.c_str());
  }
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    if (why != nullptr) *why = Reason("socket");
    return nullptr;
  }
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0 ||
      ::listen(fd, 16) < 0) {
    if (why != nullptr) *why = "'" + path + "': " + std::strerror(errno);
    ::close(fd);
    return nullptr;
  }
  int wake[2];
  if (::pipe2(wake, O_CLOEXEC) < 0) {
    if (why != nullptr) *why = Reason("pipe");
    ::close(fd);
    ::unlink(path.c_str());
    return nullptr;
  }
  return std::make_unique<SocketListener>(fd, wake[0], wake[1], path);
}

std::unique_ptr<ByteStream> ConnectStream(const std::string& name, std::string* why) {
  const int fd = Connect(FullStreamName(name), why);
  if (fd < 0) return nullptr;
  return std::make_unique<SocketStream>(fd);
}

namespace {
std::atomic<StreamListener*> g_interrupted{nullptr};
void OnInterrupt(int) {
  if (StreamListener* listener = g_interrupted.load()) listener->Stop();
}
}  // namespace

void StopOnInterrupt(StreamListener* listener) {
  g_interrupted.store(listener);
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = listener != nullptr ? &OnInterrupt : SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

}  // namespace platform
