#include "tools/numbered_boards.h"

#include <cstdio>
#include <string>

namespace qvx {

emulator::BoardData NumberedBoardData(unsigned index) {
  emulator::BoardData data;
  char serial[16];
  std::snprintf(serial, sizeof serial, "EMU%04u", index + 1);
  data.serial.assign(serial, serial + std::char_traits<char>::length(serial));
  data.location = "1-" + std::to_string(index + 1);
  const std::string own = "emulated&0";
  const std::size_t at = data.path.find(own);
  if (at != std::string::npos)
    data.path.replace(at, own.size(), "emulated&" + std::to_string(index));
  return data;
}

}  // namespace qvx
