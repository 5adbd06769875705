// The turn that the processes of this machine which open one device take with each other, and a
// small record they share while they hold it.
//
// Windows: a named mutex ("Local\QelVantorix.Turn.<hash of the key>") and a named file mapping
// for the record; a mutex left by a process that ended while holding it is taken over. Linux:
// flock() on a file /tmp/qelvantorix-turn-<uid>-<hash> (mode 0600), which also holds the record
// (mapped); the kernel releases the lock of a process that ends, whatever way it ends. Neither
// system promises that waiting processes get the turn in the order they asked for it (Windows
// mostly does; on Linux a waiting process is let in before the holder takes the turn again).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// What the processes sharing a turn keep in common. A fixed layout: the 32-bit and the 64-bit
// builds of one machine share it. All zeros when first made.
struct TurnRecord {
  // 1 while the answers of a command that gave up waiting may still arrive.
  std::uint32_t owing;
  // The process that holds the turn (0: none). Found set by the next holder when the holder
  // ended without giving the turn back.
  std::uint32_t holder;
  // Until when the owed answers may arrive: the steady clock's time since its epoch, in
  // nanoseconds (the monotonic clock, the same for every process of the machine).
  std::int64_t owed_until_ns;
  // Linux: the process that waits for the turn (0: none), and when it last looked (steady
  // clock, nanoseconds): the holder lets it in before taking the turn again.
  std::uint32_t waiter;
  std::uint32_t reserved;
  std::int64_t waiter_seen_ns;
};

enum class TurnTake {
  kTaken,
  kTakenOver,  // taken from a process that ended while holding it
  kTimedOut,   // another process held it for the whole wait
};

class ProcessTurn {
 public:
  virtual ~ProcessTurn() = default;

  // Waits at most `timeout_ms` for the turn. Not re-entrant, and one thread of the process at a
  // time (the caller's own lock sees to both); the thread that took it gives it back.
  virtual TurnTake Take(unsigned timeout_ms) = 0;
  virtual void Give() = 0;

  // The shared record: read and written only while the turn is held.
  virtual TurnRecord& Record() = 0;

 protected:
  ProcessTurn() = default;
  ProcessTurn(const ProcessTurn&) = delete;
  ProcessTurn& operator=(const ProcessTurn&) = delete;
};

// Opens the turn of `key` (any text; non-empty), making its objects when no process has them
// yet. nullptr when the system refuses, with the reason in *why (when not null).
std::unique_ptr<ProcessTurn> OpenProcessTurn(const std::string& key, std::string* why);

// The 16 hexadecimal digits of `key`'s 64-bit FNV-1a hash, which name the turn's objects.
std::string TurnKeyHash(const std::string& key);

// The name of the lock file (Linux) or of the mutex (Windows) of `key`.
std::string TurnObjectName(const std::string& key);

}  // namespace platform
