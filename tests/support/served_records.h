// Checks on the record a board server keeps of which handle read which command's answer.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "board/protocol.h"
#include "platform/emulated/served_protocol.h"

namespace testing_support {

// Every answer read was read by the handle that sent its command; at least `at_least` answers
// were read, by at least `readers_at_least` handles.
inline void ExpectEveryAnswerTakenByItsSender(const std::vector<platform::served::Taken>& taken,
                                              std::size_t at_least, std::size_t readers_at_least) {
  std::set<std::uint64_t> readers;
  std::size_t astray = 0;
  for (const platform::served::Taken& t : taken) {
    readers.insert(t.handle);
    if (t.sender != t.handle && ++astray <= 5) {
      ADD_FAILURE() << "handle " << t.handle << " took the answer to command " << t.tag
                    << " of handle " << t.sender;
    }
  }
  EXPECT_EQ(astray, 0u) << "of " << taken.size() << " answers";
  EXPECT_GE(taken.size(), at_least);
  EXPECT_GE(readers.size(), readers_at_least);
}

// A client program's run of `steps` commands (served_board_client NAME work ...): all done and
// right, with `out` its stdout and `exit_code` its exit code; `more` is told on a failure.
inline void ExpectWorkDone(const std::string& out, long long exit_code, unsigned steps,
                           const std::string& more = "") {
  EXPECT_EQ(exit_code, 0) << out << more;
  EXPECT_NE(out.find("done " + std::to_string(steps)), std::string::npos) << out;
}

// Two programs on one board, the holder killed while it held the board: `first` is the other
// program's line "first <ns>" (the steady clock when its first command ended, NowNs of
// child_lines.h). That command ended after the kill at `killed_ns`, and within the bound a
// command waits for the board with two programs on it (each may hold it for one answer wait
// and the grace after it).
inline void ExpectTheOtherGotTheBoardSoonAfterTheKill(const std::string& first,
                                                      long long killed_ns) {
  constexpr long long kTwoUsersBoundMs = 2 * (board::kAnswerTimeoutMs + board::kOwedAnswerGraceMs);
  ASSERT_EQ(first.rfind("first ", 0), 0u) << first;
  const long long first_done = std::stoll(first.substr(6));
  EXPECT_GT(first_done, killed_ns) << "the other program got the board while the holder held it";
  EXPECT_LE((first_done - killed_ns) / 1000000, kTwoUsersBoundMs)
      << "the other program's first command ended " << (first_done - killed_ns) / 1000000
      << " ms after the holder was killed";
}

}  // namespace testing_support
