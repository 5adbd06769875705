// Several threads on one board link: the exchange lock keeps every command's reports together,
// the board-state lock keeps a line setter's read-modify-write whole, the exchange lock can be
// taken in advance by a caller, and an EEPROM write's pause keeps the board to itself. On Linux,
// forked processes take turns on one key through the turn among processes and share its record.
//
// Worker threads do not use gtest assertions (not thread-safe in every build of gtest); they
// count what went wrong and the test thread checks the counts.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#if defined(__linux__)
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "board/protocol.h"
#include "board/shared_board.h"
#include "board/trace_open.h"
#include "channel_fixtures.h"
#include "platform/pause.h"
#include "platform/process_turn.h"
#include "tests/support/forwarding_device.h"
#include "tests/trace/trace_support.h"

namespace {

using namespace testing_support;

class SharedBoard : public StrictChannel {};

struct Worker {
  std::uint8_t slave;
  std::uint16_t khz;
  int speed_code;
  std::int32_t eeprom_base;
  int rounds;
  int commands = 0;
  int wrong_results = 0;
};

// A mix of every kind of command; each result must be the one the board gave this thread.
void RunCommands(TestChannel& channel, Worker& w) {
  std::vector<std::uint8_t> in(300), out(300);
  for (int i = 0; i < w.rounds; ++i) {
    w.wrong_results += channel.SetI2CSpeed(w.khz) != w.speed_code;

    const auto n = static_cast<std::uint32_t>((i * 37) % 300);
    w.wrong_results += channel.ReadI2CLongBytes(w.slave, in.data(), n, true, true) != w.slave;
    for (std::uint32_t j = 0; j < n; ++j) {
      if (in[j] != FakeBoard::SlaveByte(w.slave, j)) {
        ++w.wrong_results;
        break;
      }
    }
    for (std::uint32_t j = 0; j < n; ++j) out[j] = FakeBoard::SlaveByte(w.slave, j);
    w.wrong_results += channel.WriteI2CLongBytes(w.slave, out.data(), n, i & 1, true) != w.slave;

    std::uint16_t values[board::kSensorValueCount] = {};
    channel.ReadSensorRawData(values);
    w.wrong_results += values[0] != (FakeBoard::SensorByte(0) << 8 | FakeBoard::SensorByte(1));

    channel.SelectExpandChannel(board::kExpanderAddress, static_cast<std::uint8_t>(i & 7));
    w.commands += 5;

    if (i % 25 == 0) {
      std::uint8_t page[8], back[8] = {};
      for (std::uint8_t k = 0; k < 8; ++k) page[k] = static_cast<std::uint8_t>(w.slave + i + k);
      channel.WriteEEPROMPage(w.eeprom_base + i, page, 8);
      channel.ReadEEPROMPage(w.eeprom_base + i, back, 8);
      for (int k = 0; k < 8; ++k) w.wrong_results += back[k] != page[k];
      w.commands += 2;
    }
  }
}

TEST_F(SharedBoard, TwoThreadsGiveTwoCompleteUninterleavedSequences) {
  Worker a{0x50, 400, 1, 0x0000, 200};
  Worker b{0x51, 1000, 3, 0x8000, 200};
  std::thread ta(RunCommands, std::ref(channel_), std::ref(a));
  std::thread tb(RunCommands, std::ref(channel_), std::ref(b));
  ta.join();
  tb.join();

  EXPECT_EQ(board_->Problems(), std::vector<std::string>());
  EXPECT_EQ(a.wrong_results, 0);
  EXPECT_EQ(b.wrong_results, 0);
  EXPECT_EQ(board_->Commands().size(), static_cast<std::size_t>(a.commands + b.commands));
  EXPECT_EQ(board_->Discards(), board_->Commands().size());
}

// A trace switched on and off while two threads run commands: every line it holds is a whole
// command of one thread (an I2C transfer's status is its own slave's), and the commands'
// results are what they are untraced.
TEST_F(SharedBoard, ATraceSwitchedOnAndOffDuringCommandsRecordsWholeCommands) {
  std::string text;
  int flushes = 0;
  auto trace = board::MakeTraceRecorder(board::TraceFileKind::kText,
                                        std::make_unique<MemoryOutput>(&text, SIZE_MAX, &flushes),
                                        "concurrency_tests");
  Worker a{0x50, 400, 1, 0x0000, 100};
  Worker b{0x51, 1000, 3, 0x8000, 100};
  std::atomic<int> running{2};
  auto run = [&](Worker& w) {
    RunCommands(channel_, w);
    --running;
  };
  // On from the start: the link's exchange lock is not first-come, first-served, so the switch
  // may wait long for it while the two threads keep taking it.
  channel_.AttachTrace(trace.get());
  std::thread ta(run, std::ref(a));
  std::thread tb(run, std::ref(b));
  for (int k = 1; running > 0; ++k) {
    channel_.AttachTrace(k % 2 == 0 ? trace.get() : nullptr);
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  ta.join();
  tb.join();
  channel_.AttachTrace(nullptr);
  trace.reset();

  EXPECT_EQ(board_->Problems(), std::vector<std::string>());
  EXPECT_EQ(a.wrong_results, 0);
  EXPECT_EQ(b.wrong_results, 0);
  const std::vector<std::string> lines = Lines(text);
  ASSERT_GT(lines.size(), 1u);
  std::size_t transfers = 0;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    auto fields = TextFields(lines[i]);
    ASSERT_EQ(fields["verdict"], "answered") << lines[i];
    if (fields.count("slave")) {
      ++transfers;
      EXPECT_EQ(fields["status"], fields["slave"]) << lines[i];
    }
  }
  EXPECT_GT(transfers, 0u);
}

TEST_F(SharedBoard, LineChangesNeverSplitAnotherSettersReadModifyWrite) {
  std::vector<std::uint8_t> initial(board::kLineRecordSize);
  for (std::size_t i = 0; i < initial.size(); ++i) initial[i] = static_cast<std::uint8_t>(0x30 + i);
  for (std::size_t input : {board::kLineKey1, board::kLineKey2, board::kLineKey3, board::kLineInt})
    initial[input] = 1;  // the board drives these: 0 or 1
  initial[board::kLinePower] = 0;
  initial[board::kLineLedPass] = 0;
  board_->SetLineRecord(initial);

  const int rounds = 301;  // odd: each setter ends on 1
  auto toggle = [&](void (CUSBChannel::*set)(int)) {
    for (int i = 0; i < rounds; ++i) (channel_.*set)(i % 2 == 0 ? 1 : 0);
  };
  // A reader that takes the locks the line getters take; it must never see another byte move.
  std::atomic<bool> done{false};
  int reader_mismatches = 0;
  auto reader = [&] {
    while (!done.load()) {
      std::uint8_t record[board::kLineRecordSize];
      {
        platform::CsLock state(channel_.m_csBoardState);
        platform::CsLock exchange(channel_.m_csExchange);
        channel_.ReadLineState(record);
      }
      for (std::size_t i = 0; i < initial.size(); ++i) {
        if (i != board::kLinePower && i != board::kLineLedPass)
          reader_mismatches += record[i] != initial[i];
      }
    }
  };
  std::thread tr(reader);
  std::thread tp(toggle, &CUSBChannel::SetPower);
  std::thread tl(toggle, &CUSBChannel::SetLedPass);
  tp.join();
  tl.join();
  done = true;
  tr.join();

  EXPECT_EQ(board_->Problems(), std::vector<std::string>());
  EXPECT_EQ(board_->StaleLineWrites(), 0);
  EXPECT_EQ(board_->LineWrites(), 2u * rounds);
  EXPECT_EQ(reader_mismatches, 0);
  std::vector<std::uint8_t> expected = initial;
  expected[board::kLinePower] = 1;
  expected[board::kLineLedPass] = 1;
  EXPECT_EQ(board_->LineRecord(), expected);
}

TEST_F(SharedBoard, ACallerHoldingTheExchangeLockIssuesCommandsAndKeepsOthersOut) {
  std::mutex m;
  std::condition_variable cv;
  bool other_starting = false;
  std::thread other;
  {
    platform::CsLock exchange(channel_.m_csExchange);
    other = std::thread([&] {
      {
        std::lock_guard<std::mutex> g(m);
        other_starting = true;
      }
      cv.notify_all();
      channel_.SendHardwareReset();
    });
    {
      std::unique_lock<std::mutex> lk(m);
      cv.wait(lk, [&] { return other_starting; });
    }
    EXPECT_EQ(channel_.SetI2CSpeed(400), 1);
    std::uint8_t record[board::kLineRecordSize];
    channel_.ReadLineState(record);
    channel_.SelectExpandChannel(board::kExpanderAddress, 1);
  }
  other.join();
  EXPECT_EQ(board_->Commands(), (std::vector<std::uint8_t>{0x1C, 0x24, 0x50, 0xFD}));
  EXPECT_EQ(board_->Problems(), std::vector<std::string>());
}

TEST_F(SharedBoard, ALineSetterRunsInsideAHeldBoardStateLock) {
  platform::CsLock state(channel_.m_csBoardState);
  platform::CsLock exchange(channel_.m_csExchange);
  channel_.SetBuzzer(1);
  std::uint8_t record[board::kLineRecordSize];
  channel_.ReadLineState(record);
  EXPECT_EQ(record[board::kLineBuzzer], 1);
  EXPECT_EQ(board_->Commands(), (std::vector<std::uint8_t>{0x24, 0x25, 0x24}));
}

// The pause after an EEPROM write belongs to the write: a command from another thread that is
// ready to go during the pause reaches the board only after it.
struct PauseProbe {
  RecordingDevice* device = nullptr;
  const std::vector<Event>* log = nullptr;
  std::mutex* log_mutex = nullptr;
  std::mutex m;
  std::condition_variable cv;
  bool pausing = false;
  bool other_ready = false;
  std::vector<unsigned> pauses;
};

void ProbePause(unsigned ms, void* context) {
  auto* p = static_cast<PauseProbe*>(context);
  p->pauses.push_back(ms);
  std::size_t events_at_pause;
  {
    std::lock_guard<std::mutex> g(*p->log_mutex);
    events_at_pause = p->log->size();
  }
  {
    std::unique_lock<std::mutex> lk(p->m);
    p->pausing = true;
    p->cv.notify_all();
    p->cv.wait(lk, [&] { return p->other_ready; });
  }
  // Give the other command every chance to reach the board, were the exchange lock free. This
  // wait only widens the window; the check is the order of the reports.
  for (int i = 0; i < 100; ++i) {
    {
      std::lock_guard<std::mutex> g(*p->log_mutex);
      if (p->log->size() != events_at_pause) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  p->device->Mark();
}

TEST(EepromPause, NoOtherReportReachesTheBoardBeforeThePauseIsOver) {
  std::vector<Event> log;
  std::mutex log_mutex;
  TestChannel channel;
  auto device = std::make_unique<RecordingDevice>(&log, &log_mutex);
  PauseProbe probe;
  probe.device = device.get();
  probe.log = &log;
  probe.log_mutex = &log_mutex;
  channel.Attach(std::move(device));
  platform::SetPauseHook(&ProbePause, &probe);

  std::thread other([&] {
    {
      std::unique_lock<std::mutex> lk(probe.m);
      probe.cv.wait(lk, [&] { return probe.pausing; });
      probe.other_ready = true;
    }
    probe.cv.notify_all();
    channel.SendHardwareReset();
  });
  const std::uint8_t data[3] = {0x0A, 0x0B, 0x0C};
  channel.WriteEEPROMPage(0x0120, data, 3);
  {
    std::lock_guard<std::mutex> g(probe.m);
    probe.pausing = true;  // releases the other thread even if no pause was taken
  }
  probe.cv.notify_all();
  other.join();
  platform::SetPauseHook(nullptr, nullptr);

  EXPECT_EQ(probe.pauses, std::vector<unsigned>{10});
  EXPECT_EQ(Describe(log), Expected()
                               .Write({0x00, 0xAA, 0x55, 0x22})
                               .Write({0x00, 0x01, 0x20, 0x03})
                               .Write({0x00, 0x0A, 0x0B, 0x0C})
                               .Mark()
                               .Write({0x00, 0xAA, 0x55, 0xFD})
                               .lines());
}

// The turn's objects are named by the 64-bit FNV-1a hash of the key, the same in every build.
TEST(ProcessTurnName, IsTheKeysFnv1aHash) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "cbf29ce484222325"},
      {"a", "af63dc4c8601ec8c"},
      {"foobar", "85944171f73967e8"},
  };
  for (const auto& [key, hash] : cases) EXPECT_EQ(platform::TurnKeyHash(key), hash) << key;
  EXPECT_NE(platform::TurnObjectName("x").find(platform::TurnKeyHash("x")), std::string::npos);
}

#if defined(__linux__)

// A key that no other test, nor another run of this one, uses; its lock file goes with it.
class UniqueKey {
 public:
  explicit UniqueKey(const char* what)
      : key_(std::string("concurrency-test:") + what + ":" + std::to_string(::getpid()) + ":" +
             std::to_string(++made_)) {}
  ~UniqueKey() { ::unlink(platform::TurnObjectName(key_).c_str()); }
  operator const std::string&() const { return key_; }

 private:
  static inline int made_ = 0;
  std::string key_;
};

// Runs `child` in a forked process, which ends with what it returns.
pid_t Fork(const std::function<int()>& child) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(child());
  return pid;
}

// The child's exit code, or 128 + the signal that ended it.
int Reap(pid_t pid) {
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Memory the forked children share with this process (never unmapped: a few bytes per test).
template <typename T>
T* SharedWithChildren() {
  void* p = ::mmap(nullptr, sizeof(T), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  return p == MAP_FAILED ? nullptr : new (p) T();
}

TEST(ProcessTurn, ProcessesOnOneKeyHoldItOneAtATime) {
  constexpr int kChildren = 3;
  constexpr int kRounds = 150;
  struct Exclusion {
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    int counter = 0;  // read, then written back later: a second holder would lose updates
    int holders[kChildren * kRounds] = {};  // which child had each turn
  };
  Exclusion* shared = SharedWithChildren<Exclusion>();
  ASSERT_NE(shared, nullptr);
  const UniqueKey key("exclusion");
  std::vector<pid_t> children;
  for (int c = 0; c < kChildren; ++c) {
    children.push_back(Fork([&, c] {
      const std::unique_ptr<platform::ProcessTurn> turn = platform::OpenProcessTurn(key, nullptr);
      if (!turn) return 10;
      for (int i = 0; i < kRounds; ++i) {
        if (turn->Take(board::kProcessTurnTimeoutMs) != platform::TurnTake::kTaken) return 11;
        if (shared->inside.exchange(1) != 0) ++shared->overlaps;
        const int before = shared->counter;
        std::this_thread::sleep_for(std::chrono::microseconds(30));
        if (before < kChildren * kRounds) shared->holders[before] = c;
        shared->counter = before + 1;
        shared->inside = 0;
        turn->Give();
      }
      return 0;
    }));
  }
  for (const pid_t child : children) EXPECT_EQ(Reap(child), 0);
  EXPECT_EQ(shared->overlaps.load(), 0);
  EXPECT_EQ(shared->counter, kChildren * kRounds);
  // Each child asks again at once after giving the turn back; were it not to let the waiting
  // ones in first, it would mostly keep the turn.
  int changes = 0;
  for (int i = 1; i < kChildren * kRounds; ++i)
    changes += shared->holders[i] != shared->holders[i - 1];
  // (kept to the end, the turn changes hands kChildren - 1 times; taking turns, hundreds).
  EXPECT_GE(changes, 10 * (kChildren - 1)) << "the turn changed hands " << changes << " times";
}

// What a command of one process leaves in the shared record, and the next command of another
// process on the same key taking it.
TEST(ProcessTurn, TheNextProcessTakesTheNoteOfAnswersAnotherGaveUpOn) {
  struct Case {
    const char* name;
    bool answered;  // the first process's command got its answer
  };
  for (const Case& c : {Case{"answered", true}, Case{"timed out", false}}) {
    SCOPED_TRACE(c.name);
    const UniqueKey key("owed");
    const pid_t child = Fork([&] {
      std::vector<Event> log;
      TestChannel link;
      auto device = std::make_unique<RecordingDevice>(&log);
      device->SetWhenEmpty(RecordingDevice::WhenEmpty::kTimeOut);
      if (c.answered) device->QueueAnswerAfterWrites(ReportOf({0, 1, 2}), 1);
      link.Attach(std::make_unique<KeyedDevice>(std::move(device), key));
      std::uint8_t record[board::kLineRecordSize];
      link.ReadLineState(record);
      return link.LastCommandAnswered() == c.answered ? 0 : 1;
    });
    ASSERT_EQ(Reap(child), 0);
    const std::unique_ptr<platform::ProcessTurn> view = platform::OpenProcessTurn(key, nullptr);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->Record().owing, c.answered ? 0u : 1u);
    EXPECT_EQ(view->Record().holder, 0u) << "the turn was given back";

    std::vector<Event> log;
    TestChannel link;
    auto device = std::make_unique<RecordingDevice>(&log);
    device->QueueAnswerAfterWrites(ReportOf({0, 7}), 1);
    link.Attach(std::make_unique<KeyedDevice>(std::move(device), key));
    std::uint8_t record[board::kLineRecordSize];
    link.ReadLineState(record);
    EXPECT_TRUE(link.LastCommandAnswered());
    EXPECT_EQ(record[0], 7);
    EXPECT_EQ(view->Record().owing, 0u) << "the note was taken";
  }
}

// A holder that stops (in a debugger, say) makes a bounded wait run out, and a command that did
// not get the turn sends nothing; once the holder is killed, the next process takes the turn over
// at once, waits out the answers the dead one may have had on their way, and says so in its
// trace.
TEST(ProcessTurn, AStoppedHolderIsWaitedForBoundedlyAndAKilledOneTakenOver) {
  const UniqueKey key("killed");
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = Fork([&] {
    const std::unique_ptr<platform::ProcessTurn> turn = platform::OpenProcessTurn(key, nullptr);
    if (!turn || turn->Take(board::kProcessTurnTimeoutMs) != platform::TurnTake::kTaken) return 1;
    const char held = 1;
    if (::write(ready[1], &held, 1) != 1) return 2;
    for (;;) ::pause();
  });
  char held = 0;
  ASSERT_EQ(::read(ready[0], &held, 1), 1);
  ::close(ready[0]);
  ::close(ready[1]);
  const std::unique_ptr<platform::ProcessTurn> turn = platform::OpenProcessTurn(key, nullptr);
  ASSERT_NE(turn, nullptr);
  ASSERT_EQ(::kill(child, SIGSTOP), 0);
  EXPECT_EQ(turn->Take(100), platform::TurnTake::kTimedOut);

  std::string text;
  int flushes = 0;
  auto trace = board::MakeTraceRecorder(board::TraceFileKind::kText,
                                        std::make_unique<MemoryOutput>(&text, SIZE_MAX, &flushes),
                                        "concurrency_tests");
  std::vector<Event> log;
  TestChannel link;
  auto device = std::make_unique<RecordingDevice>(&log);
  RecordingDevice* raw = device.get();
  device->QueueAnswerAfterWrites(ReportOf({0, 7}), 1);
  link.Attach(std::make_unique<KeyedDevice>(std::move(device), key));
  link.AttachTrace(trace.get());
  const std::shared_ptr<board::SharedBoard> shared = board::SharedBoardFor("", key);
  ASSERT_TRUE(shared->SharedWithOtherProcesses());
  shared->SetProcessTurnTimeoutMs(100);
  link.SetPower(1);  // a line change: its record read gets no turn, so nothing is written back
  EXPECT_FALSE(link.LastCommandAnswered());
  EXPECT_TRUE(log.empty()) << "nothing reached the device";

  ASSERT_EQ(::kill(child, SIGKILL), 0);
  EXPECT_EQ(Reap(child), 128 + SIGKILL);
  std::uint8_t record[board::kLineRecordSize];
  link.ReadLineState(record);
  EXPECT_TRUE(link.LastCommandAnswered());
  EXPECT_EQ(record[0], 7);
  link.ReadLineState(record);  // no answer this time: only the first command after says it
  link.AttachTrace(nullptr);
  trace.reset();
  const std::vector<std::string> lines = Lines(text);
  ASSERT_EQ(lines.size(), 4u) << text;
  EXPECT_NE(lines[1].find("get-lines read=[] no-turn"), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find("answered drained=0 owed=0 turn=taken-over"), std::string::npos)
      << lines[2];
  EXPECT_EQ(lines[3].find("turn="), std::string::npos) << "said once: " << lines[3];
  ASSERT_GE(raw->read_timeouts().size(), 2u);
  EXPECT_GT(raw->read_timeouts()[0], 0u) << "the dead holder's answers were waited out";
  EXPECT_LE(raw->read_timeouts()[0], board::kOwedAnswerGraceMs);
  EXPECT_EQ(turn->Take(0), platform::TurnTake::kTaken) << "given back after the commands";
  turn->Give();
}

#endif  // __linux__

}  // namespace
