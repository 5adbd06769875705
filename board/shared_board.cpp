#include "board/shared_board.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <utility>

#include "board/protocol.h"

namespace board {

void FairTurn::lock() {
  std::unique_lock<std::mutex> guard(mutex_);
  const std::thread::id me = std::this_thread::get_id();
  if (depth_ != 0 && holder_ == me) {
    ++depth_;
    return;
  }
  const std::uint64_t ticket = tickets_++;
  next_.wait(guard, [&] { return serving_ == ticket && depth_ == 0; });
  holder_ = me;
  depth_ = 1;
}

void FairTurn::unlock() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (--depth_ != 0) return;
    holder_ = std::thread::id();
    ++serving_;
    if (serving_ == tickets_) return;  // nobody waits
  }
  next_.notify_all();  // the one whose ticket comes up takes it; the others wait on
}

std::size_t FairTurn::Waiting() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return static_cast<std::size_t>(tickets_ - serving_) - (depth_ != 0 ? 1 : 0);
}

unsigned FairTurn::HeldByMe() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return holder_ == std::this_thread::get_id() ? depth_ : 0;
}

SharedBoard::SharedBoard(std::string filed_as, std::unique_ptr<platform::ProcessTurn> others)
    : filed_as_(std::move(filed_as)), others_(std::move(others)) {}

namespace {

using Clock = std::chrono::steady_clock;

std::int64_t Nanoseconds(SharedBoard::TimePoint at) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count();
}

SharedBoard::TimePoint FromNanoseconds(std::int64_t ns) {
  return SharedBoard::TimePoint(
      std::chrono::duration_cast<SharedBoard::TimePoint::duration>(std::chrono::nanoseconds(ns)));
}

}  // namespace

BoardTurn SharedBoard::Enter() {
  turn_.lock();
  if (++depth_ > 1) return began_;
  began_ = BoardTurn::kHeld;
  if (!others_) return began_;
  switch (others_->Take(others_timeout_ms_)) {
    case platform::TurnTake::kTaken:
      break;
    case platform::TurnTake::kTakenOver: {
      // The program that ended may have left a command's answers on their way (on the steady
      // clock, the time base of every device another process can reach).
      began_ = BoardTurn::kTakenOver;
      platform::TurnRecord& record = others_->Record();
      record.owed_until_ns =
          Nanoseconds(Clock::now() + std::chrono::milliseconds(kOwedAnswerGraceMs));
      record.owing = 1;
      break;
    }
    case platform::TurnTake::kTimedOut:
      began_ = BoardTurn::kRefused;
      break;
  }
  return began_;
}

void SharedBoard::Leave() {
  if (--depth_ == 0 && others_ && began_ != BoardTurn::kRefused) others_->Give();
  turn_.unlock();
}

void SharedBoard::Owe(TimePoint until) {
  if (others_) {
    platform::TurnRecord& record = others_->Record();
    record.owed_until_ns = Nanoseconds(until);
    record.owing = 1;
    return;
  }
  owing_ = true;
  owed_until_ = until;
}

bool SharedBoard::TakeOwed(TimePoint now, TimePoint* until) {
  bool owing = owing_;
  TimePoint at = owed_until_;
  if (others_) {
    platform::TurnRecord& record = others_->Record();
    owing = record.owing != 0;
    at = FromNanoseconds(record.owed_until_ns);
    record.owing = 0;
  } else {
    owing_ = false;
  }
  if (!owing) return false;
  // A record from another process (or one left from before the machine restarted) never makes
  // a command wait longer than a grace period.
  *until = std::min(at, now + std::chrono::milliseconds(kOwedAnswerGraceMs));
  return true;
}

namespace {

struct Registry {
  // Re-entrant: a board made for the registry is forgotten by its deleter, which may run while
  // SharedBoardFor holds the lock (when filing it fails).
  std::recursive_mutex mutex;
  std::map<std::string, std::weak_ptr<SharedBoard>> boards;
};

// Never destroyed: a link held by a static object may still close its board at shut-down.
Registry& TheRegistry() {
  static Registry* const registry = new Registry;
  return *registry;
}

// The deleter of every filed board: its entry goes with it, so the registry holds exactly the
// boards some link has open (a later board filed under the same name keeps its entry).
void Forget(SharedBoard* board) {
  Registry& registry = TheRegistry();
  {
    std::lock_guard<std::recursive_mutex> lock(registry.mutex);
    const auto it = registry.boards.find(board->filed_as());
    if (it != registry.boards.end() && it->second.expired()) registry.boards.erase(it);
  }
  delete board;
}

}  // namespace

std::shared_ptr<SharedBoard> SharedBoardFor(const std::string& path, const std::string& key,
                                            std::string* why) {
  if (path.empty() && key.empty()) return std::make_shared<SharedBoard>(std::string(), nullptr);
  // Keys and paths apart: a path never stands for a key.
  const std::string name = key.empty() ? "path:" + path : "key:" + key;
  Registry& registry = TheRegistry();
  std::lock_guard<std::recursive_mutex> lock(registry.mutex);
  const auto it = registry.boards.find(name);
  if (it != registry.boards.end()) {
    if (std::shared_ptr<SharedBoard> shared = it->second.lock()) return shared;
  }
  std::unique_ptr<platform::ProcessTurn> others;
  if (!key.empty()) others = platform::OpenProcessTurn(key, why);
  SharedBoard* board = new SharedBoard(name, std::move(others));
  std::shared_ptr<SharedBoard> shared(board, &Forget);  // should this throw, Forget has run
  registry.boards[name] = shared;  // should this throw, `shared` goes and Forget runs
  return shared;
}

}  // namespace board
