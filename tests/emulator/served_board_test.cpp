// The board server (`qvx serve`) and its clients, each in a process of its own, as users run
// them: the server's name line and its end on a signal, bad messages, the handle contracts, and
// two programs on one served board.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "board/protocol.h"
#include "platform/emulated/served_hid_system.h"
#include "tests/support/child_lines.h"
#include "tests/support/served_records.h"

namespace {

using namespace std::chrono_literals;
using platform::ServedHidSystem;
using testing_support::NowNs;
namespace served = platform::served;

// A child process with its stdout on a pipe and its stderr in a file.
class Child {
 public:
  Child(const std::vector<std::string>& args, const std::string& err_file) {
    int out[2];
    if (::pipe(out) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], 1);
      const int err = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (err >= 0) ::dup2(err, 2);
      ::close(out[0]);
      std::vector<char*> argv;
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    out_ = out[0];
  }
  ~Child() {
    if (pid_ > 0 && !reaped_) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
    if (out_ >= 0) ::close(out_);
  }

  // The next line on its stdout ("" at its end or after `timeout`).
  std::string Line(std::chrono::milliseconds timeout = 20s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (std::string line;;) {
      if (buffer_.Take(&line)) return line;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd ready{out_, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) <= 0) return "";
      char chunk[4096];
      const ssize_t n = ::read(out_, chunk, sizeof chunk);
      if (n <= 0) return "";
      buffer_.Append(chunk, static_cast<std::size_t>(n));
    }
  }
  // Everything still to come on its stdout.
  std::string Rest() {
    std::string all;
    for (std::string line = Line(120s); !line.empty(); line = Line(120s)) all += line + "\n";
    return all;
  }
  void Signal(int number) { ::kill(pid_, number); }
  // Its exit code, or 128 + the signal that ended it.
  int Wait() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    reaped_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  bool reaped_ = false;
  testing_support::LineBuffer buffer_;
};

std::string FileText(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& path) {
  struct stat s;
  return ::lstat(path.c_str(), &s) == 0;
}

class ServedBoard : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ::testing::TempDir() + "served_" + std::to_string(::getpid()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
    ::mkdir(dir_.c_str(), 0700);
    name_ = dir_ + "/server";
    server_log_ = dir_ + "/server.log";
  }
  // Starts `qvx serve` with `boards` boards; its name line must be the name asked for.
  void StartServer(int boards = 1) {
    server_ =
        std::make_unique<Child>(std::vector<std::string>{QVX_PROGRAM, "serve", "--boards",
                                                         std::to_string(boards), "--name", name_},
                                server_log_);
    ASSERT_EQ(server_->Line(), name_) << FileText(server_log_);
    system_ = std::make_unique<ServedHidSystem>(name_);
  }
  std::unique_ptr<Child> Client(const std::vector<std::string>& args, const std::string& log) {
    std::vector<std::string> all{SERVED_CLIENT_PROGRAM, name_};
    all.insert(all.end(), args.begin(), args.end());
    return std::make_unique<Child>(all, dir_ + "/" + log);
  }

  std::string dir_, name_, server_log_;
  std::unique_ptr<Child> server_;
  std::unique_ptr<ServedHidSystem> system_;
};

TEST_F(ServedBoard, ServeTellsItsNameAndEndsCleanlyOnEachStopSignal) {
  for (const int sig : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(sig);
    StartServer();
    EXPECT_TRUE(Exists(name_));
    EXPECT_EQ(system_->SetupFailure(), "");
    server_->Signal(sig);
    EXPECT_EQ(server_->Wait(), 0) << FileText(server_log_);
    EXPECT_FALSE(Exists(name_)) << "the socket was left behind";
    EXPECT_NE(system_->SetupFailure().find("cannot be reached"), std::string::npos);
  }
}

// A name another server listens on is refused; a socket a killed server left is taken over.
TEST_F(ServedBoard, ANameInUseIsRefusedAndALeftOverSocketIsTakenOver) {
  StartServer();
  Child second({QVX_PROGRAM, "serve", "--name", name_}, dir_ + "/second.log");
  EXPECT_EQ(second.Wait(), 1);
  EXPECT_EQ(FileText(dir_ + "/second.log"), "qvx: cannot serve: '" + name_ + "' is in use\n");
  server_->Signal(SIGKILL);
  server_->Wait();
  ASSERT_TRUE(Exists(name_));
  StartServer();
  EXPECT_EQ(system_->SetupFailure(), "");
}

TEST_F(ServedBoard, ListsItsBoardsWithSerialsLocationsAndDistinctPaths) {
  StartServer(3);
  std::unique_ptr<platform::HidEnumeration> listed = system_->Enumerate();
  std::set<std::string> paths;
  for (unsigned i = 0;; ++i) {
    std::string path;
    if (listed->InterfacePath(i, &path) != platform::InterfaceStatus::kFound) break;
    SCOPED_TRACE(path);
    std::string serial, location;
    ASSERT_TRUE(system_->PeekPlacement(path, &serial, &location));
    EXPECT_EQ(serial, "EMU000" + std::to_string(i + 1));
    EXPECT_EQ(location, "1-" + std::to_string(i + 1));
    platform::HidAttributes ids;
    ASSERT_TRUE(system_->PeekIds(path, &ids));
    EXPECT_EQ(ids.vendor_id, 0x04B4);
    paths.insert(path);
  }
  EXPECT_EQ(paths.size(), 3u);
  EXPECT_FALSE(system_->PeekPlacement("no such path", nullptr, nullptr));
}

// What a served handle promises: bounded reads, reports to every handle, the key processes take
// turns under, and failing at once when the server is gone.
TEST_F(ServedBoard, HandlesKeepTheDeviceContractsAndFailAtOnceWithoutTheServer) {
  StartServer();
  std::unique_ptr<platform::HidEnumeration> listed = system_->Enumerate();
  std::string path;
  ASSERT_EQ(listed->InterfacePath(0, &path), platform::InterfaceStatus::kFound);
  std::unique_ptr<platform::HidDevice> first = system_->Open(path);
  std::unique_ptr<platform::HidDevice> second = system_->Open(path);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->CrossProcessKey(), "qvx-server:" + name_ + ":" + path);

  std::uint8_t report[platform::kReportSize] = {};
  auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(first->ReadReport(report, 50), platform::ReadResult::kTimedOut);
  EXPECT_GE(std::chrono::steady_clock::now() - started, 50ms);

  // A line-state read: its answer reaches both handles.
  std::uint8_t announce[platform::kReportSize] = {0, 0xAA, 0x55, board::CMD_GET_LINES};
  ASSERT_TRUE(first->WriteReport(announce));
  EXPECT_EQ(first->ReadReport(report, 1000), platform::ReadResult::kOk);
  EXPECT_EQ(second->ReadReport(report, 1000), platform::ReadResult::kOk);
  ASSERT_TRUE(first->WriteReport(announce));
  ASSERT_TRUE(first->WriteReport(announce));
  EXPECT_EQ(first->SkipReport(1000), platform::ReadResult::kOk);
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(first->DiscardPendingInput(), 1u);
  EXPECT_EQ(second->DiscardPendingInput(), 2u);

  server_->Signal(SIGKILL);
  server_->Wait();
  started = std::chrono::steady_clock::now();
  EXPECT_EQ(first->ReadReport(report, 5000), platform::ReadResult::kFailed);
  EXPECT_FALSE(second->WriteReport(announce));
  EXPECT_EQ(second->ReadReport(report, 5000), platform::ReadResult::kFailed);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 5000ms)
      << "a read waited for a dead server";
  platform::HidAttributes ids;
  EXPECT_FALSE(first->GetAttributes(&ids));
}

// Raw frames: 4-byte length, type, body.
std::string Frame(served::Type type, const std::vector<std::uint8_t>& body = {}) {
  const std::uint32_t n = static_cast<std::uint32_t>(body.size() + 1);
  std::string frame{static_cast<char>(n), static_cast<char>(n >> 8), static_cast<char>(n >> 16),
                    static_cast<char>(n >> 24), static_cast<char>(type)};
  frame.append(body.begin(), body.end());
  return frame;
}

TEST_F(ServedBoard, ABadMessageClosesItsConnectionWithAReasonAndTheServerGoesOn) {
  StartServer();
  std::vector<served::Board> boards;
  ASSERT_TRUE(system_->Boards(&boards, nullptr));
  const std::string hello = Frame(served::Type::kHello, {served::kProtocolVersion});
  const std::string open =
      Frame(served::Type::kOpen, served::Writer().Str(boards.at(0).path).Bytes());
  struct Case {
    const char* name;
    std::string bytes;
    const char* logged;
  };
  const Case cases[] = {
      {"no hello first", Frame(served::Type::kList), "the first message is no hello"},
      {"another version", Frame(served::Type::kHello, {99}), "protocol version 99"},
      {"an empty frame", std::string(4, '\0'), "a frame of 0 bytes"},
      {"a huge frame", std::string("\xff\xff\xff\x7f", 4), "a frame of 2147483647 bytes"},
      {"an unknown type", hello + Frame(static_cast<served::Type>(0x42)),
       "unknown message type 0x42"},
      {"a write before an open", hello + Frame(served::Type::kWrite, std::vector<std::uint8_t>(65)),
       "a write before any board was opened"},
      {"a short write", hello + open + Frame(served::Type::kWrite, {1, 2, 3}), "bad write message"},
      {"a second open", hello + open + open, "a second open on one connection"},
      {"a read without its timeout", hello + open + Frame(served::Type::kRead, {1}),
       "bad read message"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string why;
    std::unique_ptr<platform::ByteStream> raw = platform::ConnectStream(name_, &why);
    ASSERT_TRUE(raw) << why;
    ASSERT_TRUE(raw->WriteAll(c.bytes.data(), c.bytes.size()));
    // Whatever replies come first, the server then closes the connection.
    served::Type type;
    std::vector<std::uint8_t> body;
    platform::ReadResult got;
    int replies = 0;
    while ((got = served::Receive(*raw, &type, &body, 5000, nullptr)) == platform::ReadResult::kOk)
      ++replies;
    EXPECT_EQ(got, platform::ReadResult::kFailed) << "the connection stayed open";
    EXPECT_LE(replies, 4);
    for (int i = 0; i < 100 && FileText(server_log_).find(c.logged) == std::string::npos; ++i) {
      std::this_thread::sleep_for(10ms);
    }
    EXPECT_NE(FileText(server_log_).find(c.logged), std::string::npos) << FileText(server_log_);
    EXPECT_TRUE(system_->Boards(&boards, &why)) << "the server went down: " << why;
  }
}

TEST_F(ServedBoard, ControlRequestsRefuseWhatTheServerDoesNotHave) {
  StartServer(2);
  struct Case {
    served::Misbehaviour how;
    const char* refusal;  // nullptr: accepted
  };
  const Case cases[] = {
      {{1, served::AnswerPlan::kLate, 300, 0, 0, 0}, nullptr},
      {{1, served::AnswerPlan::kNormal, 0, 0, 0, 0}, nullptr},
      {{2, served::AnswerPlan::kSilent, 0, 0, 0, 0}, "no board 2 (2 served)"},
      {{0, static_cast<served::AnswerPlan>(9), 0, 0, 0, 0}, "no such misbehaviour"},
      {{0, served::AnswerPlan::kMixed, 100, 101, 0, 0}, "no such misbehaviour"},
  };
  for (const Case& c : cases) {
    std::string why;
    EXPECT_EQ(system_->Misbehave(c.how, &why), c.refusal == nullptr);
    if (c.refusal != nullptr) {
      EXPECT_EQ(why, c.refusal);
    }
  }
  std::vector<served::Taken> taken;
  EXPECT_FALSE(system_->TakenReports(5, &taken, nullptr));
  EXPECT_TRUE(system_->TakenReports(1, &taken, nullptr));
}

TEST_F(ServedBoard, TwoProgramsOnOneBoardTakeOnlyTheirOwnAnswersUnderLateAndRepeatedOnes) {
  StartServer();
  ASSERT_TRUE(system_->RecordTakenReports(true, nullptr));
  // 4% of the commands answered up to 120 ms late (within the 200 ms a command waits), 5% of
  // them answered twice.
  ASSERT_TRUE(system_->Misbehave({0, served::AnswerPlan::kMixed, 120, 4, 5, 20261209}, nullptr));
  constexpr unsigned kSteps = 1200;  // about 2000 board commands per program
  std::unique_ptr<Child> a = Client({"work", std::to_string(kSteps), "0"}, "a.log");
  std::unique_ptr<Child> b = Client({"work", std::to_string(kSteps), "1"}, "b.log");
  const std::string a_out = a->Rest();
  const std::string b_out = b->Rest();
  testing_support::ExpectWorkDone(a_out, a->Wait(), kSteps, FileText(dir_ + "/a.log"));
  testing_support::ExpectWorkDone(b_out, b->Wait(), kSteps, FileText(dir_ + "/b.log"));
  std::vector<served::Taken> taken;
  ASSERT_TRUE(system_->TakenReports(0, &taken, nullptr));
  testing_support::ExpectEveryAnswerTakenByItsSender(taken, 2 * kSteps, 2);
}

TEST_F(ServedBoard, AProgramKilledWhileHoldingTheBoardDoesNotBlockTheOtherBeyondTheBound) {
  StartServer();
  ASSERT_TRUE(system_->RecordTakenReports(true, nullptr));
  std::unique_ptr<Child> holder = Client({"hold"}, "holder.log");
  ASSERT_EQ(holder->Line(), "holding") << FileText(dir_ + "/holder.log");
  std::unique_ptr<Child> other = Client({"work", "300", "1"}, "other.log");
  ASSERT_EQ(other->Line(), "opened") << FileText(dir_ + "/other.log");
  std::this_thread::sleep_for(300ms);  // the other program waits for the board meanwhile
  const long long killed = NowNs();
  holder->Signal(SIGKILL);
  EXPECT_EQ(holder->Wait(), 128 + SIGKILL);
  {
    SCOPED_TRACE(FileText(dir_ + "/other.log"));
    testing_support::ExpectTheOtherGotTheBoardSoonAfterTheKill(other->Line(), killed);
  }
  const std::string rest = other->Rest();
  EXPECT_EQ(other->Wait(), 0) << rest;
  std::vector<served::Taken> taken;
  ASSERT_TRUE(system_->TakenReports(0, &taken, nullptr));
  for (const served::Taken& t : taken) EXPECT_EQ(t.sender, t.handle) << "command " << t.tag;
}

}  // namespace
