// Shared by the board server's tests (Linux and Windows) and the client program they start: the
// clock they compare across processes, and the lines read from a child's stdout.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace testing_support {

// The steady clock in nanoseconds: one clock for every process of the machine, so a time one
// program prints can be compared with the test's own.
inline long long NowNs() {
  return static_cast<long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                    std::chrono::steady_clock::now().time_since_epoch())
                                    .count());
}

// What a child has written so far, handed out a whole line at a time.
class LineBuffer {
 public:
  void Append(const char* bytes, std::size_t count) { buffer_.append(bytes, count); }
  // Moves the next whole line into `line` without its line end ("\n" or "\r\n"); false while
  // no whole line has come.
  bool Take(std::string* line) {
    const std::size_t end = buffer_.find('\n');
    if (end == std::string::npos) return false;
    *line = buffer_.substr(0, end);
    buffer_.erase(0, end + 1);
    if (!line->empty() && line->back() == '\r') line->pop_back();
    return true;
  }

 private:
  std::string buffer_;
};

}  // namespace testing_support
