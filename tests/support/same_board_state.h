// Field-by-field comparison of two saved board states, so a mismatch names the field.
#pragma once

#include <gtest/gtest.h>

#include "emulator/board_emulator.h"

namespace testing_support {

inline void ExpectSameState(const emulator::BoardState& a, const emulator::BoardState& b) {
  EXPECT_EQ(a.eeprom, b.eeprom);
  EXPECT_EQ(a.serial_memory, b.serial_memory);
  EXPECT_EQ(a.serial_pointer, b.serial_pointer);
  EXPECT_EQ(a.lines, b.lines);
  EXPECT_EQ(a.keys, b.keys);
  EXPECT_EQ(a.int_high, b.int_high);
  EXPECT_EQ(a.speed_code, b.speed_code);
  EXPECT_EQ(a.channel, b.channel);
}

}  // namespace testing_support
