// qvx --emulated against a board server named by QVX_EMULATED_SERVER: the commands reach the
// served board, and a server that cannot be reached is one message and exit code 1.
#include <unistd.h>

#include <cstdio>
#include <thread>

#include "qvx_runner.h"
#include "tools/board_server.h"

namespace {

class CliServed : public qvx_test::QvxRunner {
 protected:
  void SetUp() override {
    std::string why;
    m_server = qvx::BoardServer::Start(
        2, ::testing::TempDir() + "qvx_cli_served_" + std::to_string(::getpid()), m_log, &why);
    ASSERT_TRUE(m_server) << why;
    m_serving = std::thread([this] { m_server->Serve(); });
    m_environment_server = m_server->Name();
  }
  void TearDown() override {
    if (!m_server) return;
    m_server->Stop();
    m_serving.join();
  }

  std::ostringstream m_log;
  std::unique_ptr<qvx::BoardServer> m_server;
  std::thread m_serving;
};

TEST_F(CliServed, EmulatedCommandsReachTheServedBoardThatTheSelectorNames) {
  struct Case {
    std::vector<std::string> board;  // --board and its selector, or nothing
    std::size_t served;              // the board the command must reach
  };
  const Case cases[] = {{{}, 0},
                        {{"--board", "serial:EMU0002"}, 1},
                        {{"--board", "index:0"}, 0},
                        {{"--board", "location:1-2"}, 1}};
  std::uint8_t value = 0x30;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.served);
    std::vector<std::string> args = c.board;
    char byte[3];
    std::snprintf(byte, sizeof byte, "%02X", ++value);
    args.insert(args.end(), {"eeprom", "write", "0x0200", byte});
    const qvx_test::Result r = RunEmulated(args);
    ASSERT_EQ(r.code, qvx::kExitOk) << r.err;
    EXPECT_EQ(m_server->Board(c.served).Eeprom(0x0200, 1), std::vector<std::uint8_t>{value});
  }
  EXPECT_EQ(m_board->CommandCount(), 0u) << "the in-process board was used";
  EXPECT_EQ(m_log.str(), "");
}

TEST_F(CliServed, AServerThatCannotBeReachedIsOneMessageAndExitCode1) {
  m_environment_server = ::testing::TempDir() + "qvx_no_such_server";
  const qvx_test::Result r = RunEmulated({"lines"});
  EXPECT_EQ(r.code, qvx::kExitFailed);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "qvx: the emulated board server '" + m_environment_server +
                       "' (QVX_EMULATED_SERVER) cannot be reached: No such file or directory\n");
}

}  // namespace
