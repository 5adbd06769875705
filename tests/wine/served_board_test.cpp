// The board server on Windows: qvx.exe serve, two programs and qvx.exe on one served board over
// a named pipe, and a program killed while it holds the board (its mutex is abandoned).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/emulated/served_hid_system.h"
#include "test_files.h"
#include "tests/support/child_lines.h"
#include "tests/support/served_records.h"

namespace {

namespace served = platform::served;
using testing_support::NowNs;

// A child process with its stdout on a pipe (stderr goes where the test's goes).
class Child {
 public:
  explicit Child(std::wstring command) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE write_end = nullptr;
    if (!CreatePipe(&read_, &write_end, &inherit, 0)) return;
    SetHandleInformation(read_, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write_end;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                       &startup, &process_)) {
      CloseHandle(process_.hThread);
    } else {
      process_.hProcess = nullptr;
    }
    CloseHandle(write_end);
  }
  ~Child() {
    if (process_.hProcess != nullptr) {
      if (WaitForSingleObject(process_.hProcess, 0) != WAIT_OBJECT_0) {
        TerminateProcess(process_.hProcess, 99);
        WaitForSingleObject(process_.hProcess, 10000);
      }
      CloseHandle(process_.hProcess);
    }
    if (read_ != nullptr) CloseHandle(read_);
  }
  bool Started() const { return process_.hProcess != nullptr; }

  // The next line on its stdout, without the line end ("" at its end or after `timeout_ms`).
  std::string Line(DWORD timeout_ms = 60000) {
    const ULONGLONG deadline = GetTickCount64() + timeout_ms;
    for (std::string line;;) {
      if (buffer_.Take(&line)) return line;
      DWORD ready = 0;
      if (!PeekNamedPipe(read_, nullptr, 0, nullptr, &ready, nullptr)) return "";
      if (ready == 0) {
        if (GetTickCount64() >= deadline) return "";
        Sleep(5);
        continue;
      }
      char chunk[4096];
      DWORD n = 0;
      if (!ReadFile(read_, chunk, sizeof chunk, &n, nullptr) || n == 0) return "";
      buffer_.Append(chunk, n);
    }
  }
  std::string Rest() {
    std::string all;
    for (std::string line = Line(); !line.empty(); line = Line()) all += line + "\n";
    return all;
  }
  void Kill() { TerminateProcess(process_.hProcess, 137); }
  DWORD Wait(DWORD timeout_ms = 120000) {
    DWORD code = 0xFFFFFFFF;
    if (WaitForSingleObject(process_.hProcess, timeout_ms) == WAIT_OBJECT_0) {
      GetExitCodeProcess(process_.hProcess, &code);
    }
    return code;
  }

 private:
  HANDLE read_ = nullptr;
  PROCESS_INFORMATION process_ = {};
  testing_support::LineBuffer buffer_;
};

// The program's name, quoted for a command line; a failure naming it when it is missing.
std::wstring QuotedProgram(const wchar_t* program) {
  const test_files::Location where = test_files::Program(program);
  test_files::Present(where, "the program");
  return L"\"" + where.path + L"\"";
}

class ServedBoardOnWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::wstring name = L"qvx-served-test-" + std::to_wstring(GetCurrentProcessId());
    server_ = std::make_unique<Child>(QuotedProgram(L"qvx.exe") + L" serve --name " + name);
    ASSERT_TRUE(server_->Started());
    name_ = server_->Line();
    ASSERT_EQ(name_, "\\\\.\\pipe\\" + std::string(name.begin(), name.end()));
    system_ = std::make_unique<platform::ServedHidSystem>(name_);
    ASSERT_TRUE(system_->RecordTakenReports(true, nullptr));
    SetEnvironmentVariableW(L"QVX_EMULATED_SERVER",
                            std::wstring(name_.begin(), name_.end()).c_str());
  }
  void TearDown() override {
    SetEnvironmentVariableW(L"QVX_EMULATED_SERVER", nullptr);
    if (!system_) return;
    std::string why;
    EXPECT_TRUE(system_->StopServer(&why)) << why;
    EXPECT_EQ(server_->Wait(), 0u);
  }
  std::unique_ptr<Child> Client(const std::wstring& args) {
    return std::make_unique<Child>(QuotedProgram(L"served_board_client.exe") + L" " +
                                   std::wstring(name_.begin(), name_.end()) + L" " + args);
  }
  std::unique_ptr<Child> Qvx(const std::wstring& args) {
    return std::make_unique<Child>(QuotedProgram(L"qvx.exe") + L" --emulated " + args);
  }

  std::string name_;
  std::unique_ptr<Child> server_;
  std::unique_ptr<platform::ServedHidSystem> system_;
};

TEST_F(ServedBoardOnWindows, TwoProgramsAndQvxShareOneBoardAndTakeOnlyTheirOwnAnswers) {
  ASSERT_TRUE(system_->Misbehave({0, served::AnswerPlan::kMixed, 120, 4, 5, 20261209}, nullptr));
  constexpr unsigned kSteps = 150;
  std::unique_ptr<Child> a = Client(L"work " + std::to_wstring(kSteps) + L" 0");
  std::unique_ptr<Child> b = Client(L"work " + std::to_wstring(kSteps) + L" 1");
  // qvx meanwhile, on an EEPROM area and a line of its own (the two programs check the pass,
  // buzzer, fail and error lines they set: a line of theirs set by qvx would fail them rightly).
  struct Run {
    const wchar_t* args;
    const char* out;
  };
  const Run runs[] = {
      {L"eeprom write 0x4000 de ad be ef", "wrote 4 bytes at 0x4000"},
      {L"eeprom read 0x4000 4", "4000: DE AD BE EF"},
      {L"set reset on", ""},
  };
  for (const Run& run : runs) {
    std::unique_ptr<Child> qvx = Qvx(run.args);
    const std::string out = qvx->Rest();
    EXPECT_EQ(qvx->Wait(), 0u) << out;
    EXPECT_NE(out.find(run.out), std::string::npos) << out;
  }
  const std::string a_out = a->Rest();
  const std::string b_out = b->Rest();
  testing_support::ExpectWorkDone(a_out, a->Wait(), kSteps);
  testing_support::ExpectWorkDone(b_out, b->Wait(), kSteps);
  std::vector<served::Taken> taken;
  ASSERT_TRUE(system_->TakenReports(0, &taken, nullptr));
  testing_support::ExpectEveryAnswerTakenByItsSender(taken, 2 * kSteps, 3);
}

TEST_F(ServedBoardOnWindows, AProgramKilledWhileHoldingTheBoardDoesNotBlockTheOtherBeyondTheBound) {
  std::unique_ptr<Child> holder = Client(L"hold");
  ASSERT_EQ(holder->Line(), "holding");
  std::unique_ptr<Child> other = Client(L"work 40 1");
  ASSERT_EQ(other->Line(), "opened");
  Sleep(500);  // the other program waits for the board meanwhile
  const long long killed = NowNs();
  holder->Kill();
  EXPECT_EQ(holder->Wait(), 137u);
  testing_support::ExpectTheOtherGotTheBoardSoonAfterTheKill(other->Line(), killed);
  const std::string rest = other->Rest();
  EXPECT_EQ(other->Wait(), 0u) << rest;
}

}  // namespace
