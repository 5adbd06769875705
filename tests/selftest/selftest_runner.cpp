// selftest_runner.exe [/installed]: the self-test selftest.cmd starts. Runs the steps of
// selftest.list (beside it) that apply to the target, each in a job of its own with its output
// in a log file, prints one line a program, then "N passed, N failed, N skipped". Exit code 0
// when nothing failed, 1 when something did, 2 for a wrong argument or plan.
//   (nothing)    the emulated control beside this program; the script hosts see it through a
//                registration for this user only, removed again at the end.
//   /installed   the control installed on this PC, found by its ProgID.
#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/selftest/selftest_plan.h"
#include "tests/selftest/selftest_registration.h"
#include "tests/wine/this_process.h"

namespace selftest {
namespace {

using test_files::OnWine;
using test_files::ProgramFolder;

std::wstring Wide(const std::string& s) {
  std::wstring w(s.size(), L'\0');
  w.resize(MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(),
                               static_cast<int>(w.size())));
  return w;
}

std::string Narrow(const std::wstring& w) {
  std::string s(w.size() * 3, '\0');
  s.resize(WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(),
                               static_cast<int>(s.size()), nullptr, nullptr));
  return s;
}

bool FileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadAll(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// One argument as CommandLineToArgvW reads it back: quoted when it holds a space, a tab or a
// quote (or is empty), backslashes doubled before a quote.
std::wstring Quoted(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  size_t slashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++slashes;
      continue;
    }
    out.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
    slashes = 0;
    out += c;
  }
  return out.append(slashes * 2, L'\\') + L"\"";
}

// Sets variables for one program and puts the old values back when it is done.
class EnvironmentScope {
 public:
  void Set(const std::wstring& name, const std::wstring& value) {
    wchar_t old[32768];
    const DWORD n = GetEnvironmentVariableW(name.c_str(), old, 32768);
    saved_.emplace_back(name, n ? std::optional<std::wstring>(std::wstring(old, n)) : std::nullopt);
    SetEnvironmentVariableW(name.c_str(), value.c_str());
  }
  ~EnvironmentScope() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it)
      SetEnvironmentVariableW(it->first.c_str(), it->second ? it->second->c_str() : nullptr);
  }

 private:
  std::vector<std::pair<std::wstring, std::optional<std::wstring>>> saved_;
};

struct Finished {
  unsigned long exit_code = 0;
  bool timed_out = false;
  std::string start_error;  // set when the program could not be started at all
};

// Runs one command with its output in `log`, in a job that is closed (and so ended, with every
// process it started) when the command ends or its time is up.
Finished Run(const std::wstring& command_line, const std::wstring& log, const std::wstring& folder,
             int timeout_s) {
  Finished f;
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE out = CreateFileW(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE in = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                          OPEN_EXISTING, 0, nullptr);
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  if (out == INVALID_HANDLE_VALUE || in == INVALID_HANDLE_VALUE || !job) {
    f.start_error =
        "cannot make its log " + Narrow(log) + " (error " + std::to_string(GetLastError()) + ")";
  } else {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in;
    si.hStdOutput = out;
    si.hStdError = out;
    PROCESS_INFORMATION pi = {};
    std::wstring line = command_line;
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                        folder.c_str(), &si, &pi)) {
      f.start_error =
          "cannot start it (error " + std::to_string(GetLastError()) + "): " + Narrow(command_line);
    } else {
      AssignProcessToJobObject(job, pi.hProcess);
      ResumeThread(pi.hThread);
      if (WaitForSingleObject(pi.hProcess, static_cast<DWORD>(timeout_s) * 1000) != WAIT_OBJECT_0) {
        f.timed_out = true;
        TerminateJobObject(job, 1);
        WaitForSingleObject(pi.hProcess, 5000);
      }
      DWORD code = 0;
      GetExitCodeProcess(pi.hProcess, &code);
      f.exit_code = code;
      CloseHandle(pi.hThread);
      CloseHandle(pi.hProcess);
    }
  }
  if (job) CloseHandle(job);
  if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
  if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
  return f;
}

// A scratch folder of this run, for the logs and whatever the programs write.
std::wstring MakeWorkFolder() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring work =
      std::wstring(temp) + L"qvx-selftest-" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(work.c_str(), nullptr);
  return work;
}

// Wine's cscript runs no .wsf jobs: under Wine a job runs as the one script its files make
// (JoinJob), written to the run's folder. On Windows the job runs as it is, as users run it.
std::wstring RunnableScript(const std::wstring& script, const std::wstring& work) {
  const size_t dot = script.find_last_of(L'.');
  if (!OnWine() || dot == std::wstring::npos || _wcsicmp(script.c_str() + dot, L".wsf") != 0)
    return script;
  const std::wstring folder = script.substr(0, script.find_last_of(L"\\/") + 1);
  std::string first_part;
  const std::string joined = JoinJob(ReadAll(script), [&](const std::string& part) {
    if (first_part.empty()) first_part = part;
    if (!FileExists(folder + Wide(part)))
      throw std::invalid_argument(Narrow(script) + ": no " + part + " beside it");
    return ReadAll(folder + Wide(part));
  });
  const std::wstring name = script.substr(folder.size(), dot - folder.size());
  const size_t ext = first_part.find_last_of('.');
  const std::wstring out =
      work + L"\\" + name + Wide(ext == std::string::npos ? ".vbs" : first_part.substr(ext));
  std::ofstream(out.c_str(), std::ios::binary) << joined;
  return out;
}

int Usage(const wchar_t* wrong) {
  std::fprintf(stderr, "selftest: %s%ls%s\nusage: selftest.cmd [/installed]\n",
               wrong ? "unknown argument '" : "", wrong ? wrong : L"", wrong ? "'" : "");
  return wrong ? 2 : 0;
}

int Main(int argc, wchar_t** argv) {
  Target target = Target::kBundle;
  for (int i = 1; i < argc; ++i) {
    const std::wstring a = argv[i];
    if (_wcsicmp(a.c_str(), L"/installed") == 0 || _wcsicmp(a.c_str(), L"-installed") == 0)
      target = Target::kInstalled;
    else if (a == L"/?" || a == L"-h" || a == L"--help")
      return Usage(nullptr);
    else
      return Usage(argv[i]);
  }
  const std::wstring here = ProgramFolder();
  std::vector<Step> plan;
  try {
    const std::wstring list = here + L"\\selftest.list";
    if (!FileExists(list)) throw std::invalid_argument(Narrow(list) + ": not found");
    plan = ParsePlan(ReadAll(list));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "selftest: %s\n", e.what());
    return 2;
  }

  const std::wstring ocx = here + L"\\QelVantorixActiveX.ocx";
  std::wstring installed = InstalledControl();
  // A registration an interrupted run of this bundle left behind is not an installed control.
  if (_wcsicmp(installed.c_str(), ocx.c_str()) == 0) installed.clear();
  std::wstring product = here + L"\\product\\QelVantorixActiveX.ocx";
  if (target == Target::kInstalled) {
    if (installed.empty()) {
      std::printf("FAILED   installed control: %ls is not registered for %d-bit programs\n",
                  kControlProgId, static_cast<int>(sizeof(void*) * 8));
      std::printf("%s\n", SummaryLine(Tally{0, 1, 0}).c_str());
      return 1;
    }
    product = installed;
  }
  const std::wstring work = MakeWorkFolder();
  const std::map<std::string, std::string> places = {
      {"here", Narrow(here)}, {"data", Narrow(here + L"\\data")},
      {"ocx", Narrow(ocx)},   {"product", Narrow(product)},
      {"work", Narrow(work)},
  };
  std::printf("QelVantorixActiveX self-test, %d-bit, against %ls; logs in %ls\n",
              static_cast<int>(sizeof(void*) * 8),
              target == Target::kInstalled ? installed.c_str() : L"the emulated control beside it",
              work.c_str());
  std::fflush(stdout);

  EnvironmentScope common;
  common.Set(L"QVX_TEST_OCX", Wide(places.at("ocx")));
  common.Set(L"QVX_TEST_REAL_OCX", product);
  common.Set(L"QVX_TEST_DATA", Wide(places.at("data")));
  common.Set(L"QVX_TEST_PROGRAMS", here);

  UserRegistration registration(ocx, installed);
  Tally tally;
  for (const Step& step : plan) {
    if (!step.RunsFor(target)) continue;
    Verdict verdict;
    if (step.unless_installed && !installed.empty()) {
      verdict = {Outcome::kSkipped,
                 "the control is installed here, and this test would change "
                 "its registration"};
    } else if (step.registered && registration.Ensure().outcome != Outcome::kPassed) {
      verdict = registration.Ensure();
    } else {
      try {
        std::wstring line;
        for (size_t i = 0; i < step.command.size(); ++i) {
          std::wstring arg = Wide(Expand(step.command[i], places));
          // A program of the bundle is found beside the runner, others (cscript) on the path.
          if (i == 0 && arg.find_first_of(L"\\/") == std::wstring::npos &&
              FileExists(here + L"\\" + arg))
            arg = here + L"\\" + arg;
          if (i > 0) arg = RunnableScript(arg, work);
          line += (i ? L" " : L"") + Quoted(arg);
        }
        EnvironmentScope own;
        for (const auto& [name, value] : step.environment)
          own.Set(Wide(name), Wide(Expand(value, places)));
        const std::wstring log = work + L"\\" + Wide(step.name) + L".log";
        const Finished f = Run(line, log, work, step.timeout_s);
        verdict = f.start_error.empty() ? Judge(step, f.exit_code, f.timed_out, ReadAll(log))
                                        : Verdict{Outcome::kFailed, f.start_error};
      } catch (const std::exception& e) {
        verdict = {Outcome::kFailed, e.what()};
      }
    }
    tally.Add(verdict.outcome);
    std::printf("%s\n", ResultLine(step.name, verdict).c_str());
    std::fflush(stdout);
  }
  std::string why;
  if (!registration.Remove(&why)) {
    tally.Add(Outcome::kFailed);
    std::printf("%s\n", ResultLine("registration removed", {Outcome::kFailed, why}).c_str());
  }
  std::printf("%s\n", SummaryLine(tally).c_str());
  return tally.failed == 0 ? 0 : 1;
}

}  // namespace
}  // namespace selftest

int wmain(int argc, wchar_t** argv) {
  try {
    return selftest::Main(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "selftest: %s\n", e.what());
    return 2;
  }
}
