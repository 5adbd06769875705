// The turn among processes on Linux: flock() on a lock file that also holds the shared record,
// mapped into every process that opened it.
//
// flock() locks belong to the open file description: each ProcessTurn opens the file itself,
// and a process never takes the turn twice at once (its board lock is taken first).
#include "platform/process_turn.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace platform {

namespace {

std::int64_t SteadyNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// A waiter renews its mark at every try; a mark older than this belongs to a process that has
// stopped waiting (or ended) and is ignored.
constexpr std::int64_t kWaiterFreshNs = 5'000'000;
// Between two tries a waiter sleeps from kFirstPause, doubling up to kLongestPause: the kernel
// does not wake a process that polls, so this is the most a released turn may stay unused.
constexpr std::chrono::microseconds kFirstPause{20};
constexpr std::chrono::microseconds kLongestPause{500};

class FlockTurn final : public ProcessTurn {
 public:
  FlockTurn(int fd, TurnRecord* record) : fd_(fd), record_(record) {}
  ~FlockTurn() override {
    ::munmap(record_, sizeof *record_);
    ::close(fd_);  // also releases the lock, were it still held
  }

  TurnTake Take(unsigned timeout_ms) override {
    const std::uint32_t me = static_cast<std::uint32_t>(::getpid());
    const std::int64_t deadline = SteadyNs() + static_cast<std::int64_t>(timeout_ms) * 1'000'000;
    std::chrono::microseconds pause = kFirstPause;
    bool waiting = false;
    for (;;) {
      // A process that asks anew lets a waiting one in first, so that a holder giving the turn
      // back between two commands does not keep it from the others; a waiter tries at once.
      if (waiting || !OtherWaiter(me)) {
        if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) break;
        if (errno != EWOULDBLOCK && errno != EINTR) return TurnTake::kTimedOut;
        waiting = true;
      }
      const std::int64_t now = SteadyNs();
      if (now >= deadline) {
        StopWaiting(me);
        return TurnTake::kTimedOut;
      }
      if (waiting) {
        __atomic_store_n(&record_->waiter_seen_ns, now, __ATOMIC_RELAXED);
        __atomic_store_n(&record_->waiter, me, __ATOMIC_RELEASE);
      }
      std::this_thread::sleep_for(pause);
      pause = std::min(pause * 2, kLongestPause);
    }
    StopWaiting(me);
    // A holder that ended without giving the turn back left its mark; the kernel has released
    // its lock, and the turn is taken over.
    const bool taken_over = record_->holder != 0 && record_->holder != me;
    record_->holder = me;
    return taken_over ? TurnTake::kTakenOver : TurnTake::kTaken;
  }

  void Give() override {
    record_->holder = 0;
    ::flock(fd_, LOCK_UN);
  }

  TurnRecord& Record() override { return *record_; }

 private:
  bool OtherWaiter(std::uint32_t me) const {
    const std::uint32_t waiter = __atomic_load_n(&record_->waiter, __ATOMIC_ACQUIRE);
    if (waiter == 0 || waiter == me) return false;
    return SteadyNs() - __atomic_load_n(&record_->waiter_seen_ns, __ATOMIC_RELAXED) <
           kWaiterFreshNs;
  }
  void StopWaiting(std::uint32_t me) {
    std::uint32_t expected = me;
    __atomic_compare_exchange_n(&record_->waiter, &expected, 0u, false, __ATOMIC_RELEASE,
                                __ATOMIC_RELAXED);
  }

  int fd_;
  TurnRecord* record_;
};

void Fail(std::string* why, const std::string& what) {
  if (why != nullptr) *why = what;
}

}  // namespace

std::string TurnObjectName(const std::string& key) {
  // One place for every program of the user, whatever its environment says.
  return "/tmp/qelvantorix-turn-" + std::to_string(::geteuid()) + "-" + TurnKeyHash(key);
}

std::unique_ptr<ProcessTurn> OpenProcessTurn(const std::string& key, std::string* why) {
  const std::string name = TurnObjectName(key);
  const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    Fail(why, name + ": " + std::strerror(errno));
    return nullptr;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
    ::close(fd);
    Fail(why, name + ": not a file of this user");
    return nullptr;
  }
  // Grown to the record's size by the first process; it reads as zeros until written.
  if (static_cast<std::size_t>(st.st_size) < sizeof(TurnRecord) &&
      ::ftruncate(fd, static_cast<off_t>(sizeof(TurnRecord))) != 0) {
    Fail(why, name + ": " + std::strerror(errno));
    ::close(fd);
    return nullptr;
  }
  void* map = ::mmap(nullptr, sizeof(TurnRecord), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (map == MAP_FAILED) {
    Fail(why, name + ": " + std::strerror(errno));
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<FlockTurn>(fd, static_cast<TurnRecord*>(map));
}

}  // namespace platform
