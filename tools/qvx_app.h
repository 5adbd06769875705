// The qvx command-line tool as a function: arguments in, text out, an exit code back. main()
// hands it the process's streams; tests hand it string streams and HID systems of their own.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "platform/hid_backend.h"

namespace qvx {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;     // no board, a file that cannot be read or written,
                                          // a verify pass that found differences
inline constexpr int kExitUsage = 2;      // bad input: nothing was sent to the board
inline constexpr int kExitNoAnswer = 3;   // the board is there but did not answer a command in
                                          // time (or took no report): results would be stale
inline constexpr int kExitI2cStatus = 4;  // an I2C transfer ended with a status byte other than
                                          // 0 (the slave did not acknowledge)

struct Environment {
  std::ostream* out = nullptr;
  std::ostream* err = nullptr;
  bool out_is_terminal = false;  // progress bars only then
  // The HID system commands run against; nullptr: the build's own back end (hidraw, Win32).
  platform::HidBackend* hardware = nullptr;
  // What --emulated runs against; nullptr: a fresh emulated board that lives for this run.
  // With a state file the board is always a fresh one of the run's own, loaded from the file.
  platform::HidBackend* emulated = nullptr;
  // The value of QVX_EMULATED_STATE (main() reads it; empty: unset). --emulated-state wins.
  std::string emulated_state_variable;
  // The value of QVX_EMULATED_MODEL (empty: unset). --emulated-model wins.
  std::string emulated_model_variable;
  // The value of QVX_EMULATED_SERVER (empty: unset): --emulated then runs against the boards of
  // that board server (`qvx serve`), unless a state file or a board model is given.
  std::string emulated_server_variable;
};

inline constexpr char kEmulatedStateVariable[] = "QVX_EMULATED_STATE";
inline constexpr char kEmulatedModelVariable[] = "QVX_EMULATED_MODEL";

// `args` without the program name.
int RunQvx(const std::vector<std::string>& args, const Environment& env);

}  // namespace qvx
