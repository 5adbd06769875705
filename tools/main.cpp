#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#define QVX_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define QVX_ISATTY(fd) isatty(fd)
#endif

#include "platform/emulated/served_hid_system.h"
#include "tools/qvx_app.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  qvx::Environment env;
  env.out = &std::cout;
  env.err = &std::cerr;
  env.out_is_terminal = QVX_ISATTY(1) != 0;
  if (const char* state = std::getenv(qvx::kEmulatedStateVariable)) {
    env.emulated_state_variable = state;
  }
  if (const char* model = std::getenv(qvx::kEmulatedModelVariable)) {
    env.emulated_model_variable = model;
  }
  if (const char* server = std::getenv(platform::kEmulatedServerVariable)) {
    env.emulated_server_variable = server;
  }
  return qvx::RunQvx(args, env);
}
