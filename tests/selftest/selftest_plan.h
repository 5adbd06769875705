// The self-test's plan (selftest.list: which programs run, how each is judged) and the verdicts
// it prints. Portable, so that the parsing and the judging are tested natively; the runner
// (selftest_runner.cpp) starts the programs on Windows.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace selftest {

// What the self-test is run against: the emulated control shipped beside it, or the control
// installed on the PC (found by its ProgID).
enum class Target { kBundle, kInstalled };

// How a program's output tells its outcome.
enum class JudgeKind {
  kGTest,   // GoogleTest: its exit code, and its summary for the tests it skipped
  kSuite,   // a script suite: its last "N passed, N failed[, N skipped]" line
  kEnding,  // a sample: exit code 0 and a last line that ends in the given text
};

struct Step {
  std::string name;
  bool in_bundle = false;
  bool in_installed = false;
  JudgeKind judge = JudgeKind::kGTest;
  std::string ending;             // kEnding: the text the last line ends in
  bool registered = false;        // needs the bundle's control registered (script hosts)
  bool unless_installed = false;  // skipped where the control is installed on the PC
  int timeout_s = 300;            // the program is stopped and fails after this
  std::vector<std::pair<std::string, std::string>> environment;  // set for this program only
  std::vector<std::string> command;                              // program, then its arguments
  bool RunsFor(Target t) const { return t == Target::kBundle ? in_bundle : in_installed; }
};

// The plan's text, one step a line (see selftest.list). Throws std::invalid_argument with
// "selftest.list:N: ..." naming the first line that is wrong.
std::vector<Step> ParsePlan(std::string_view text);

// Replaces every {name} in `token` with places.at(name); an unknown name throws
// std::invalid_argument naming it.
std::string Expand(std::string_view token, const std::map<std::string, std::string>& places);

// A Windows Script Host job (.wsf) as one script: its <script src="..."> files in order, each
// read by `read`, with an "Option Explicit" that any of them starts with once at the top. For
// script hosts that run no .wsf jobs (Wine's cscript). Throws std::invalid_argument when the job
// names no script file.
std::string JoinJob(std::string_view job,
                    const std::function<std::string(const std::string&)>& read);

enum class Outcome { kPassed, kFailed, kSkipped };

struct Verdict {
  Outcome outcome = Outcome::kFailed;
  std::string reason;  // why it failed or was skipped; for a pass, what it skipped of its own
};

// Judges one finished (or stopped) program from its exit code and everything it printed.
Verdict Judge(const Step& step, unsigned long exit_code, bool timed_out, std::string_view output);

struct Tally {
  int passed = 0;
  int failed = 0;
  int skipped = 0;
  void Add(Outcome o) {
    (o == Outcome::kPassed ? passed : o == Outcome::kFailed ? failed : skipped)++;
  }
};

// "passed   name", "FAILED   name: reason", "skipped  name: reason".
std::string ResultLine(const std::string& name, const Verdict& v);
// "N passed, N failed, N skipped"
std::string SummaryLine(const Tally& t);

}  // namespace selftest
