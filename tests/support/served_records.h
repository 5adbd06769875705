// Checks on the record a board server keeps of which handle read which command's answer.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <set>
#include <vector>

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

}  // namespace testing_support
