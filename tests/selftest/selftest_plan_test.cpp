// The self-test's plan file and its verdicts: what a user sees on a PC where a program fails,
// hangs, skips or never runs to its end must say so, and a wrong plan line must be named.
#include "tests/selftest/selftest_plan.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace selftest {
namespace {

TEST(SelftestPlan, ReadsTargetsJudgesOptionsAndTheCommand) {
  const std::vector<Step> plan = ParsePlan(
      "# comment\n"
      "\n"
      "both registration_test gtest registration_test.exe --gtest_brief=1\r\n"
      "bundle control_suite_js suite registered QVX_EMULATED_MODEL={data}\\m.json timeout=60 "
      "cscript.exe //nologo {here}\\scripts\\control_suite.js\n"
      "installed host_js ends:done. unless-installed cscript.exe x.js\n");
  ASSERT_EQ(plan.size(), 3u);
  EXPECT_TRUE(plan[0].in_bundle && plan[0].in_installed);
  EXPECT_EQ(plan[0].judge, JudgeKind::kGTest);
  EXPECT_EQ(plan[0].command,
            (std::vector<std::string>{"registration_test.exe", "--gtest_brief=1"}));
  EXPECT_EQ(plan[0].timeout_s, 300);
  EXPECT_TRUE(plan[1].RunsFor(Target::kBundle));
  EXPECT_FALSE(plan[1].RunsFor(Target::kInstalled));
  EXPECT_TRUE(plan[1].registered);
  EXPECT_EQ(plan[1].timeout_s, 60);
  ASSERT_EQ(plan[1].environment.size(), 1u);
  EXPECT_EQ(plan[1].environment[0].first, "QVX_EMULATED_MODEL");
  EXPECT_EQ(plan[1].environment[0].second, "{data}\\m.json");
  EXPECT_EQ(plan[1].command.front(), "cscript.exe");
  EXPECT_EQ(plan[2].judge, JudgeKind::kEnding);
  EXPECT_EQ(plan[2].ending, "done.");
  EXPECT_TRUE(plan[2].unless_installed);
  EXPECT_FALSE(plan[2].RunsFor(Target::kBundle));
}

TEST(SelftestPlan, AWrongLineIsNamedWithItsNumber) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"", "selftest.list: no step"},
      {"bundle a gtest\n", "selftest.list:1: a step needs its targets, name, judge and program"},
      {"# x\neverywhere a gtest a.exe\n", "selftest.list:2: 'everywhere': the targets are"},
      {"both a/b gtest a.exe\n", "selftest.list:1: 'a/b' is not a name"},
      {"both a gtest a.exe\nboth a gtest b.exe\n", "selftest.list:2: 'a' is named twice"},
      {"both a junit a.exe\n", "selftest.list:1: 'junit': the judges are"},
      {"both a ends: a.exe\n", "selftest.list:1: 'ends:': the judges are"},
      {"both a gtest timeout=0 a.exe\n", "selftest.list:1: timeout=0"},
      {"both a gtest timeout=5s a.exe\n", "selftest.list:1: 'timeout=5s': the timeout is"},
      {"both a gtest registered X=1\n", "selftest.list:1: no program after the options"},
  };
  for (const auto& c : cases) {
    try {
      ParsePlan(c.text);
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const std::invalid_argument& e) {
      EXPECT_EQ(std::string(e.what()).rfind(c.message, 0), 0u) << e.what();
    }
  }
}

TEST(SelftestPlan, PlacesAreExpandedAndAnUnknownOneIsRefused) {
  const std::map<std::string, std::string> places = {{"here", "C:\\st"}, {"data", "C:\\st\\data"}};
  EXPECT_EQ(Expand("{here}\\a.exe", places), "C:\\st\\a.exe");
  EXPECT_EQ(Expand("--qvx-data={data}", places), "--qvx-data=C:\\st\\data");
  EXPECT_EQ(Expand("{here}{data}", places), "C:\\stC:\\st\\data");
  EXPECT_EQ(Expand("plain", places), "plain");
  EXPECT_THROW(Expand("{nowhere}\\a", places), std::invalid_argument);
  EXPECT_THROW(Expand("{here", places), std::invalid_argument);
}

TEST(SelftestPlan, AJobIsJoinedInOrderWithOneOptionExplicit) {
  const std::map<std::string, std::string> files = {
      {"checks.vbs", "' checks\r\nOption Explicit\r\nDim passed\r\n"},
      {"suite.vbs", "option explicit ' again\nCheck 1\n"},
      {"plain.vbs", "WScript.Echo 1\n"},
  };
  std::vector<std::string> asked;
  auto read = [&](const std::string& name) {
    asked.push_back(name);
    return files.at(name);
  };
  EXPECT_EQ(JoinJob("<job><script language=\"VBScript\" src=\"checks.vbs\"></script>\n"
                    "<SCRIPT language=\"VBScript\" SRC = \"suite.vbs\"/></job>",
                    read),
            "Option Explicit\r\n' checks\r\nDim passed\r\nCheck 1\r\n");
  EXPECT_EQ(asked, (std::vector<std::string>{"checks.vbs", "suite.vbs"}));
  EXPECT_EQ(JoinJob("<job><script src=\"plain.vbs\"/></job>", read), "WScript.Echo 1\r\n");
  EXPECT_THROW(JoinJob("<job><script>inline</script></job>", read), std::invalid_argument);
}

Step Judged(const char* line) {
  return ParsePlan(line).front();
}

TEST(SelftestVerdict, EachProgramKindIsJudgedFromWhatItPrinted) {
  const Step gtest = Judged("both t gtest t.exe\n");
  const Step suite = Judged("both s suite c.exe\n");
  const Step sample = Judged("both e ends:Done. c.exe\n");
  const char* kAllPassed =
      "[==========] 3 tests from 1 test suite ran. (5 ms total)\n"
      "[  PASSED  ] 3 tests.\n";
  const char* kSomeSkipped = "[  PASSED  ] 2 tests.\n[  SKIPPED ] 1 test, listed below:\n";
  const char* kAllSkipped =
      "[ RUN      ] A.B\nx.cpp(12): Skipped\nneeds an administrator\n[  SKIPPED ] A.B (0 ms)\n"
      "[  PASSED  ] 0 tests.\n[  SKIPPED ] 1 test, listed below:\n[  SKIPPED ] A.B\n";
  const char* kTwoFailed =
      "[  FAILED  ] A.B (3 ms)\n[  PASSED  ] 1 test.\n"
      "[  FAILED  ] 2 tests, listed below:\n[  FAILED  ] A.B\n"
      "[  FAILED  ] A.C\n\n 2 FAILED TESTS\n";
  const struct {
    const Step& step;
    unsigned long exit_code;
    bool timed_out;
    const char* output;
    Outcome outcome;
    const char* reason;
  } cases[] = {
      {gtest, 0, false, kAllPassed, Outcome::kPassed, ""},
      {gtest, 0, false, kSomeSkipped, Outcome::kPassed, "1 of its tests skipped"},
      {gtest, 0, false, kAllSkipped, Outcome::kSkipped, "needs an administrator"},
      {gtest, 1, false, kTwoFailed, Outcome::kFailed, "2 failed: A.B, A.C"},
      {gtest, 0xC0000005, false, "[ RUN      ] A.B\n", Outcome::kFailed, "exit code 0xC0000005"},
      {gtest, 3, false, "", Outcome::kFailed, "exit code 3"},
      {gtest, 0, false, "[ RUN      ] A.B\n", Outcome::kFailed,
       "no GoogleTest summary: the program did not finish"},
      {gtest, 0, false, "[  PASSED  ] 0 tests.\n", Outcome::kFailed, "no test ran"},
      {gtest, 0, true, kAllPassed, Outcome::kFailed, "stopped: it did not end within 300 s"},
      {suite, 0, false, "a\r\n12 passed, 0 failed\r\n\r\n", Outcome::kPassed, ""},
      {suite, 0, false, "12 passed, 0 failed, 2 skipped\n", Outcome::kPassed,
       "2 of its cases skipped"},
      {suite, 0, false, "0 passed, 0 failed, 4 skipped\n", Outcome::kSkipped, "every case skipped"},
      {suite, 0, false, "FAIL open: no board\nFAIL x\n10 passed, 2 failed\n", Outcome::kFailed,
       "2 of its cases failed: open: no board"},
      // A summary printed halfway, then the script died: the last line is what counts.
      {suite, 0, false, "3 passed, 0 failed\nmore\n", Outcome::kFailed,
       "no summary line: the script did not run to its end"},
      {suite, 1, false, "3 passed, 0 failed\n", Outcome::kFailed, "the script host exited 1"},
      {suite, 0, false, "0 passed, 0 failed\n", Outcome::kFailed, "no case ran"},
      {sample, 0, false, "bytes: 1 2\nDone.\n", Outcome::kPassed, ""},
      {sample, 0, false, "bytes: 1 2\n", Outcome::kFailed,
       "it did not run to its end (last line: \"bytes: 1 2\")"},
      {sample, 2, false, "Done.\n", Outcome::kFailed, "the script host exited 2"},
  };
  for (const auto& c : cases) {
    const Verdict v = Judge(c.step, c.exit_code, c.timed_out, c.output);
    EXPECT_EQ(v.outcome, c.outcome) << c.output;
    EXPECT_EQ(v.reason, c.reason) << c.output;
  }
}

TEST(SelftestVerdict, OneLineAProgramAndTheSummary) {
  EXPECT_EQ(ResultLine("a", {Outcome::kPassed, ""}), "passed   a");
  EXPECT_EQ(ResultLine("a", {Outcome::kPassed, "1 of its tests skipped"}),
            "passed   a (1 of its tests skipped)");
  EXPECT_EQ(ResultLine("b", {Outcome::kFailed, "exit code 3"}), "FAILED   b: exit code 3");
  EXPECT_EQ(ResultLine("c", {Outcome::kSkipped, "not here"}), "skipped  c: not here");
  Tally t;
  for (Outcome o : {Outcome::kPassed, Outcome::kPassed, Outcome::kFailed, Outcome::kSkipped})
    t.Add(o);
  EXPECT_EQ(SummaryLine(t), "2 passed, 1 failed, 1 skipped");
}

}  // namespace
}  // namespace selftest
