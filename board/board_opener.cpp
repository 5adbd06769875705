#include "board/board_opener.h"

#include <atomic>

namespace board {

namespace {
// Constant-initialised, so an opener installed by another library's start-up code is never
// overwritten by this one's.
std::atomic<BoardOpener*> g_opener{nullptr};
}  // namespace

BoardOpener* InstalledBoardOpener() {
  return g_opener.load();
}

void InstallBoardOpener(BoardOpener* opener) {
  g_opener.store(opener);
}

}  // namespace board
