// The write loop of the POSIX file and socket streams.
#pragma once

#include <sys/types.h>

#include <cerrno>
#include <cstddef>

namespace platform {

// Writes all `bytes` of `data` through `write_some(p, n)` (::write for a file, ::send for a
// socket: it writes some of the n bytes at p and returns how many, or -1), again after a
// signal. False at the first write that fails or writes nothing.
template <class WriteSome>
bool WriteFully(const void* data, std::size_t bytes, WriteSome write_some) {
  const char* p = static_cast<const char*>(data);
  while (bytes > 0) {
    const ssize_t n = write_some(p, bytes);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    bytes -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace platform
