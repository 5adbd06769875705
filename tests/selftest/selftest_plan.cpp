#include "tests/selftest/selftest_plan.h"

#include <cstdio>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>

namespace selftest {
namespace {

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

std::vector<std::string> Lines(std::string_view text) {
  std::vector<std::string> lines;
  std::istringstream in{std::string(text)};
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

[[noreturn]] void Refuse(int line, const std::string& what) {
  throw std::invalid_argument("selftest.list:" + std::to_string(line) + ": " + what);
}

bool ParseTargets(const std::string& word, Step& step) {
  step.in_bundle = word == "bundle" || word == "both";
  step.in_installed = word == "installed" || word == "both";
  return step.in_bundle || step.in_installed;
}

bool ParseJudge(const std::string& word, Step& step) {
  static const std::string kEnds = "ends:";
  if (word == "gtest") {
    step.judge = JudgeKind::kGTest;
  } else if (word == "suite") {
    step.judge = JudgeKind::kSuite;
  } else if (word.compare(0, kEnds.size(), kEnds) == 0 && word.size() > kEnds.size()) {
    step.judge = JudgeKind::kEnding;
    step.ending = word.substr(kEnds.size());
  } else {
    return false;
  }
  return true;
}

// An option before the program: a flag, a timeout or an environment setting. False when the
// word is none of them (it is then the program).
bool ParseOption(const std::string& word, int line, Step& step) {
  static const std::regex kSetting("([A-Z_][A-Z0-9_]*)=(.*)");
  static const std::regex kTimeout("timeout=([0-9]{1,5})");
  std::smatch m;
  if (word == "registered") {
    step.registered = true;
  } else if (word == "unless-installed") {
    step.unless_installed = true;
  } else if (std::regex_match(word, m, kTimeout)) {
    step.timeout_s = std::stoi(m[1]);
    if (step.timeout_s == 0) Refuse(line, "timeout=0: a program needs some time");
  } else if (word.compare(0, 8, "timeout=") == 0) {
    Refuse(line, "'" + word + "': the timeout is a number of seconds, 1 to 99999");
  } else if (std::regex_match(word, m, kSetting)) {
    step.environment.emplace_back(m[1], m[2]);
  } else {
    return false;
  }
  return true;
}

// The names GoogleTest lists after "[  FAILED  ] N tests, listed below:".
std::vector<std::string> FailedTests(const std::string& output) {
  static const std::regex kFailed(R"(\[  FAILED  \] ([A-Za-z_][\w/.]*)\s*(\(|$))");
  std::vector<std::string> names;
  std::set<std::string> seen;
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);) {
    std::smatch m;
    if (std::regex_search(line, m, kFailed) && seen.insert(m[1]).second) names.push_back(m[1]);
  }
  return names;
}

// The count GoogleTest's summary gives after a marker such as "[  PASSED  ] ", or -1.
int SummaryCount(const std::string& output, const std::string& marker) {
  const std::regex summary(std::regex_replace(marker, std::regex(R"([\[\]])"), R"(\$&)") +
                           R"( ([0-9]+) tests?[.,])");
  std::smatch m;
  if (!std::regex_search(output, m, summary)) return -1;
  return std::stoi(m[1]);
}

// The message of the first skipped test: the line after "...: Skipped".
std::string FirstSkipReason(const std::string& output) {
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() >= 9 && line.compare(line.size() - 9, 9, ": Skipped") == 0) {
      std::string reason;
      std::getline(in, reason);
      if (!reason.empty() && reason.back() == '\r') reason.pop_back();
      return reason.empty() ? "skipped" : reason;
    }
  }
  return "every test skipped";
}

std::string LastLine(const std::string& output) {
  std::vector<std::string> lines = Lines(output);
  for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
    if (it->find_first_not_of(" \t") != std::string::npos) return *it;
  }
  return "";
}

std::string ExitText(unsigned long code) {
  char text[32];
  // Crashes end with an NTSTATUS such as 0xC0000005: hex says which.
  if (code > 0xFFFF)
    std::snprintf(text, sizeof text, "0x%08lX", code);
  else
    std::snprintf(text, sizeof text, "%lu", code);
  return text;
}

Verdict JudgeGTest(unsigned long exit_code, const std::string& output) {
  if (exit_code != 0) {
    std::vector<std::string> failed = FailedTests(output);
    if (failed.empty()) return {Outcome::kFailed, "exit code " + ExitText(exit_code)};
    std::string names = failed[0];
    for (size_t i = 1; i < failed.size() && i < 3; ++i) names += ", " + failed[i];
    if (failed.size() > 3) names += ", ...";
    return {Outcome::kFailed, std::to_string(failed.size()) + " failed: " + names};
  }
  const int passed = SummaryCount(output, "[  PASSED  ]");
  const int skipped = SummaryCount(output, "[  SKIPPED ]");
  if (passed < 0) return {Outcome::kFailed, "no GoogleTest summary: the program did not finish"};
  if (passed == 0 && skipped > 0) return {Outcome::kSkipped, FirstSkipReason(output)};
  if (passed == 0) return {Outcome::kFailed, "no test ran"};
  if (skipped > 0) return {Outcome::kPassed, std::to_string(skipped) + " of its tests skipped"};
  return {Outcome::kPassed, ""};
}

Verdict JudgeSuite(unsigned long exit_code, const std::string& output) {
  if (exit_code != 0) return {Outcome::kFailed, "the script host exited " + ExitText(exit_code)};
  static const std::regex kSummary(R"(^([0-9]+) passed, ([0-9]+) failed(, ([0-9]+) skipped)?\s*$)");
  std::smatch m;
  const std::string last = LastLine(output);
  if (!std::regex_match(last, m, kSummary))
    return {Outcome::kFailed, "no summary line: the script did not run to its end"};
  const int passed = std::stoi(m[1]);
  const int failed = std::stoi(m[2]);
  const int skipped = m[4].matched ? std::stoi(m[4]) : 0;
  if (failed > 0) {
    std::string first;
    for (const std::string& line : Lines(output)) {
      if (line.compare(0, 5, "FAIL ") == 0) {
        first = ": " + line.substr(5);
        break;
      }
    }
    return {Outcome::kFailed, std::to_string(failed) + " of its cases failed" + first};
  }
  if (passed == 0 && skipped > 0) return {Outcome::kSkipped, "every case skipped"};
  if (passed == 0) return {Outcome::kFailed, "no case ran"};
  if (skipped > 0) return {Outcome::kPassed, std::to_string(skipped) + " of its cases skipped"};
  return {Outcome::kPassed, ""};
}

Verdict JudgeEnding(const std::string& ending, unsigned long exit_code, const std::string& output) {
  if (exit_code != 0) return {Outcome::kFailed, "the script host exited " + ExitText(exit_code)};
  const std::string last = LastLine(output);
  if (last.size() >= ending.size() &&
      last.compare(last.size() - ending.size(), ending.size(), ending) == 0)
    return {Outcome::kPassed, ""};
  return {Outcome::kFailed, "it did not run to its end (last line: \"" + last + "\")"};
}

}  // namespace

std::vector<Step> ParsePlan(std::string_view text) {
  std::vector<Step> plan;
  std::set<std::string> names;
  static const std::regex kName("[A-Za-z0-9_.-]+");
  int number = 0;
  for (const std::string& line : Lines(text)) {
    ++number;
    std::vector<std::string> words = Words(line);
    if (words.empty() || words[0][0] == '#') continue;
    if (words.size() < 4) Refuse(number, "a step needs its targets, name, judge and program");
    Step step;
    if (!ParseTargets(words[0], step))
      Refuse(number, "'" + words[0] + "': the targets are bundle, installed or both");
    if (!std::regex_match(words[1], kName)) Refuse(number, "'" + words[1] + "' is not a name");
    if (!names.insert(words[1]).second) Refuse(number, "'" + words[1] + "' is named twice");
    step.name = words[1];
    if (!ParseJudge(words[2], step))
      Refuse(number, "'" + words[2] + "': the judges are gtest, suite and ends:<text>");
    size_t i = 3;
    while (i < words.size() && ParseOption(words[i], number, step)) ++i;
    if (i == words.size()) Refuse(number, "no program after the options");
    step.command.assign(words.begin() + i, words.end());
    plan.push_back(std::move(step));
  }
  if (plan.empty()) throw std::invalid_argument("selftest.list: no step");
  return plan;
}

std::string Expand(std::string_view token, const std::map<std::string, std::string>& places) {
  std::string out;
  size_t at = 0;
  while (at < token.size()) {
    const size_t open = token.find('{', at);
    if (open == std::string_view::npos) break;
    const size_t close = token.find('}', open);
    if (close == std::string_view::npos)
      throw std::invalid_argument("'" + std::string(token) + "': a '{' without its '}'");
    const std::string name(token.substr(open + 1, close - open - 1));
    auto place = places.find(name);
    if (place == places.end())
      throw std::invalid_argument("'" + std::string(token) + "': no place is called {" + name +
                                  "}");
    out.append(token.substr(at, open - at)).append(place->second);
    at = close + 1;
  }
  return out.append(token.substr(at));
}

std::string JoinJob(std::string_view job,
                    const std::function<std::string(const std::string&)>& read) {
  static const std::regex kScript(R"re(<script\b[^>]*\bsrc\s*=\s*"([^"]+)")re", std::regex::icase);
  static const std::regex kExplicit(R"(^\s*option\s+explicit\b.*$)", std::regex::icase);
  const std::string text(job);
  bool any_explicit = false;
  std::string body;
  int parts = 0;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), kScript);
       it != std::sregex_iterator(); ++it, ++parts) {
    for (const std::string& line : Lines(read((*it)[1]))) {
      if (std::regex_match(line, kExplicit)) {
        any_explicit = true;
        continue;
      }
      body += line + "\r\n";
    }
  }
  if (parts == 0) throw std::invalid_argument("the job names no <script src=\"...\">");
  return (any_explicit ? "Option Explicit\r\n" : "") + body;
}

Verdict Judge(const Step& step, unsigned long exit_code, bool timed_out, std::string_view output) {
  if (timed_out)
    return {Outcome::kFailed,
            "stopped: it did not end within " + std::to_string(step.timeout_s) + " s"};
  const std::string text(output);
  switch (step.judge) {
    case JudgeKind::kGTest:
      return JudgeGTest(exit_code, text);
    case JudgeKind::kSuite:
      return JudgeSuite(exit_code, text);
    case JudgeKind::kEnding:
      return JudgeEnding(step.ending, exit_code, text);
  }
  return {Outcome::kFailed, "unknown judge"};
}

std::string ResultLine(const std::string& name, const Verdict& v) {
  static const char* const kWords[] = {"passed   ", "FAILED   ", "skipped  "};
  std::string line = kWords[static_cast<int>(v.outcome)] + name;
  if (!v.reason.empty())
    line += (v.outcome == Outcome::kPassed ? " (" : ": ") + v.reason +
            (v.outcome == Outcome::kPassed ? ")" : "");
  return line;
}

std::string SummaryLine(const Tally& t) {
  return std::to_string(t.passed) + " passed, " + std::to_string(t.failed) + " failed, " +
         std::to_string(t.skipped) + " skipped";
}

}  // namespace selftest
