// Runs qvx in-process. The "hardware" is an emulated HID system of the test's own (empty unless
// the test adds devices), so no test ever reaches the machine's real HID devices; --emulated
// runs against a system holding one emulated board the test can inspect and set up.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "emulator/board_data.h"
#include "emulator/board_emulator.h"
#include "platform/emulated/emulated_hid_system.h"
#include "tools/qvx_app.h"

namespace qvx_test {

struct Result {
  int code = -1;
  std::string out;
  std::string err;
};

class QvxRunner : public ::testing::Test {
 protected:
  explicit QvxRunner(emulator::BoardData data = emulator::BoardData())
      : m_board(std::make_shared<emulator::BoardEmulator>(data)) {
    m_emulated.AddDevice(emulator::HidDescriptionOf(data), m_board);
  }

  Result Run(const std::vector<std::string>& args, bool terminal = false) {
    std::ostringstream out;
    std::ostringstream err;
    qvx::Environment env;
    env.out = &out;
    env.err = &err;
    env.out_is_terminal = terminal;
    env.hardware = &m_hardware;
    env.emulated = &m_emulated;
    env.emulated_state_variable = m_environment_state;
    env.emulated_model_variable = m_environment_model;
    env.emulated_server_variable = m_environment_server;
    Result result;
    result.code = qvx::RunQvx(args, env);
    result.out = out.str();
    result.err = err.str();
    return result;
  }

  // The same with --emulated in front.
  Result RunEmulated(std::vector<std::string> args, bool terminal = false) {
    args.insert(args.begin(), "--emulated");
    return Run(args, terminal);
  }

  platform::EmulatedHidSystem m_hardware;
  platform::EmulatedHidSystem m_emulated;
  std::shared_ptr<emulator::BoardEmulator> m_board;
  std::string m_environment_state;   // what QVX_EMULATED_STATE would hold
  std::string m_environment_model;   // what QVX_EMULATED_MODEL would hold
  std::string m_environment_server;  // what QVX_EMULATED_SERVER would hold
};

}  // namespace qvx_test
