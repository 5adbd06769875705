// The emulated board's state file on Windows while another program holds it open: a save either
// replaces the file or is refused with the file's name, and the file never goes missing.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <optional>
#include <string>

#include "board/protocol.h"
#include "emulator/board_emulator.h"
#include "emulator/board_state_file.h"
#include "tests/support/same_board_state.h"

namespace {

using emulator::BoardState;

TEST(StateFileHeldOpen, ASaveEitherReplacesTheFileOrKeepsTheOldOneWhole) {
  struct Case {
    const char* what;
    DWORD share;
  };
  const Case cases[] = {
      {"held open, sharing nothing", 0},
      {"held open, sharing reading", FILE_SHARE_READ},
      {"held open, sharing deletion too", FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE},
  };
  const std::string file = (std::filesystem::temp_directory_path() /
                            ("qvx_state_held_" + std::to_string(GetCurrentProcessId())))
                               .string();
  emulator::BoardEmulator board;
  const BoardState old = board.SaveState();
  BoardState newer = old;
  newer.lines[board::kLinePower] = static_cast<std::uint8_t>(!old.lines[board::kLinePower]);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    emulator::SaveStateFile(file, old);
    HANDLE holder = CreateFileA(file.c_str(), GENERIC_READ, c.share, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    bool refused = false;
    try {
      emulator::SaveStateFile(file, newer);
    } catch (const emulator::StateFileError& e) {
      refused = true;
      EXPECT_EQ(std::string(e.what()).rfind("cannot replace state file '" + file + "': ", 0), 0u)
          << e.what();
      EXPECT_FALSE(e.usage());
    }
    CloseHandle(holder);
    const std::optional<BoardState> loaded = emulator::LoadStateFile(file);
    ASSERT_TRUE(loaded.has_value()) << "both the old state and the new one are lost";
    testing_support::ExpectSameState(*loaded, refused ? old : newer);
    EXPECT_FALSE(std::filesystem::exists(file + ".tmp"));
  }
  std::error_code ignored;
  std::filesystem::remove(file, ignored);
}

}  // namespace
