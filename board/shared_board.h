// What every board link in the process that has the same board open shares. Every open handle
// of a HID device receives every input report, so two links on one board would otherwise read
// each other's answers: their commands must take turns, and an answer that one link gave up on
// must be dropped by whichever link sends the next command. A board that other processes can
// open as well (its device has a cross-process key) adds a turn among the processes, and the
// owed answers are then told in a record they share.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/hid_device.h"
#include "platform/process_turn.h"

namespace board {

// A re-entrant lock that threads get in the order they asked for it: each takes a ticket, and
// the lock goes to the tickets in turn. The holder may take it again (and gives it back as often).
class FairTurn {
 public:
  void lock();
  void unlock();
  // Threads waiting for the lock; for tests.
  std::size_t Waiting() const;
  // How often the calling thread holds it (0: it does not).
  unsigned HeldByMe() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable next_;
  std::uint64_t tickets_ = 0;  // given out
  std::uint64_t serving_ = 0;  // the ticket whose thread holds the lock, or comes next
  std::thread::id holder_;
  unsigned depth_ = 0;
};

// How a thread's hold of the board began.
enum class BoardTurn {
  kHeld,
  kTakenOver,  // the turn among processes was taken from a program that ended holding it
  kRefused,    // another program kept the turn among processes beyond kProcessTurnTimeoutMs
};

// How long a command waits for another program's command to give the board back. A live
// program's command is over well within it (its own reads are bounded); a program that is
// stopped (in a debugger, say) while it holds the board is not waited for any longer.
inline constexpr unsigned kProcessTurnTimeoutMs = 10000;

class SharedBoard {
 public:
  using TimePoint = platform::HidDevice::TimePoint;

  // `others`: the turn among processes (nullptr: this process alone reaches the board).
  SharedBoard(std::string filed_as, std::unique_ptr<platform::ProcessTurn> others);
  SharedBoard(const SharedBoard&) = delete;
  SharedBoard& operator=(const SharedBoard&) = delete;

  // Held by every command from its announce report to its last answer (re-entrant, as a line
  // setter holds it across its read and its write-back). Taken after the link's own locks.
  // The first hold of a thread takes the turn in the process, then the one among processes; a
  // hold inside a hold tells how the outer one began. Leave() ends every hold, refused or not.
  BoardTurn Enter();
  void Leave();
  // Only while held: how the hold began; the first command of a hold that was taken over says
  // so once, then the hold counts as held.
  BoardTurn Began() const { return began_; }
  void TakeOverTold() {
    if (began_ == BoardTurn::kTakenOver) began_ = BoardTurn::kHeld;
  }

  // Only while held: a command gave up waiting for answers that the board may still send, until
  // `until` (on the device's time base); and the next command takes that note: true and the
  // time (never more than kOwedAnswerGraceMs after `now`) when answers are owed.
  void Owe(TimePoint until);
  bool TakeOwed(TimePoint now, TimePoint* until);

  bool SharedWithOtherProcesses() const { return others_ != nullptr; }
  // How long a first hold waits for the turn among processes: kProcessTurnTimeoutMs, unless a
  // test shortens it. Set while no thread uses the board.
  void SetProcessTurnTimeoutMs(unsigned ms) { others_timeout_ms_ = ms; }
  const FairTurn& Turn() const { return turn_; }
  // The key the board is filed under in the process.
  const std::string& filed_as() const { return filed_as_; }

 private:
  FairTurn turn_;
  const std::string filed_as_;
  const std::unique_ptr<platform::ProcessTurn> others_;
  unsigned others_timeout_ms_ = kProcessTurnTimeoutMs;
  // Only the holder of turn_ reads or writes these.
  unsigned depth_ = 0;  // how often the holder entered
  BoardTurn began_ = BoardTurn::kHeld;
  bool owing_ = false;
  TimePoint owed_until_{};
};

// The shared state of the board opened by `path` whose device has `key` as its cross-process
// key: links that opened the same board get the same object while any of them holds it (boards
// with a key are filed by their key, so that two paths to one device agree; the others by
// path). An empty path and key give an object of its own. The process keeps nothing of a board
// once no link holds it. A board whose turn among processes cannot be made is shared by this
// process alone; *why (when not null) then tells why.
std::shared_ptr<SharedBoard> SharedBoardFor(const std::string& path, const std::string& key = {},
                                            std::string* why = nullptr);

}  // namespace board
