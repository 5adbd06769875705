// A base for classes whose objects own something that a copy could not share (a lock, a device
// handle, an activation cookie): deriving from it deletes their copies, and with them the moves
// the compiler would otherwise write.
#pragma once

namespace platform {

class NonCopyable {
 public:
  NonCopyable(const NonCopyable&) = delete;
  NonCopyable& operator=(const NonCopyable&) = delete;

 protected:
  NonCopyable() = default;
  ~NonCopyable() = default;
};

}  // namespace platform
