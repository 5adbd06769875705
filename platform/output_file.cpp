#include "platform/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/posix/write_fully.h"

namespace platform {

namespace {

class PosixOutputFile : public OutputFile {
 public:
  explicit PosixOutputFile(int fd) : fd_(fd) {}
  ~PosixOutputFile() override { ::close(fd_); }

  bool Write(const void* data, std::size_t bytes) override {
    return WriteFully(data, bytes,
                      [this](const char* p, std::size_t n) { return ::write(fd_, p, n); });
  }
  // Every Write has reached the system already; a crash of this process loses none of it.
  bool Flush() override { return true; }

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<OutputFile> CreateNewFile(const std::string& path, std::string* why) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (why) *why = std::strerror(errno);
    return nullptr;
  }
  return std::make_unique<PosixOutputFile>(fd);
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MoveOver(const std::string& from, const std::string& to, std::string* why) {
  if (std::rename(from.c_str(), to.c_str()) == 0) return true;
  if (why) *why = std::strerror(errno);
  return false;
}

}  // namespace platform
