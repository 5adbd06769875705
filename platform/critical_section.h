// A re-entrant lock with the semantics of a Win32 critical section: the owning thread may enter
// it again, and must leave it as often as it entered.
//
// On Windows it is a CRITICAL_SECTION (kept opaque here so that callers need not include
// windows.h); elsewhere a std::recursive_mutex.
#pragma once

#if !defined(_WIN32)
#include <mutex>
#endif

#include "platform/non_copyable.h"

namespace platform {

class CriticalSection : private NonCopyable {
 public:
  CriticalSection();
  ~CriticalSection();

  void Enter();
  void Leave();

 private:
#if defined(_WIN32)
  // Large enough for CRITICAL_SECTION in both the 32-bit (24 bytes) and 64-bit (40 bytes) ABI;
  // the implementation checks the size at compile time.
  alignas(void*) unsigned char storage_[40];
#else
  std::recursive_mutex mutex_;
#endif
};

// Holds a critical section for one scope.
class CsLock {
 public:
  explicit CsLock(CriticalSection& cs) : cs_(cs) { cs_.Enter(); }
  ~CsLock() { cs_.Leave(); }
  CsLock(const CsLock&) = delete;
  CsLock& operator=(const CsLock&) = delete;

 private:
  CriticalSection& cs_;
};

}  // namespace platform
