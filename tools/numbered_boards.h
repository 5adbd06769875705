// The emulated boards of a run that holds several of them (`qvx serve --boards N`): board i
// (from 0) has the serial "EMU0001", "EMU0002", ... (i + 1, four digits), the location "1-1",
// "1-2", ... and a path of its own ("emulated&i" in the default path).
#pragma once

#include "emulator/board_data.h"

namespace qvx {

emulator::BoardData NumberedBoardData(unsigned index);

}  // namespace qvx
