// Runs qvx with --emulated-state on a state file of the test's own, removed afterwards.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "qvx_runner.h"

namespace qvx_test {

inline std::vector<std::uint8_t> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
}

inline void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

inline bool FileExists(const std::string& path) {
  return std::ifstream(path).good();
}

// A path in the temporary folder that no other test, and no other test run on the machine, uses
// at the same time: the test's name and the process number.
inline std::string UniqueTempPath(const std::string& prefix) {
  return ::testing::TempDir() + prefix +
         ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_" +
         std::to_string(static_cast<long>(getpid()));
}

class StateRunner : public QvxRunner {
 protected:
  StateRunner() : m_state(UniqueTempPath("qvx_state_")) { Clean(); }
  ~StateRunner() override { Clean(); }

  // One run of the session, as a separate invocation of the tool would be.
  Result Stateful(std::vector<std::string> args) {
    args.insert(args.begin(), {"--emulated-state", m_state});
    return Run(args);
  }

  void Clean() {
    std::remove(m_state.c_str());
    std::remove((m_state + ".tmp").c_str());
  }

  const std::string m_state;
};

}  // namespace qvx_test
