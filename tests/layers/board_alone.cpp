// The board link without discovery: it links, and opening finds no board (TRUE) and holds none.
#include <cstdio>

#include "board/board_opener.h"
#include "board/usb_channel.h"

int main() {
  CUSBChannel channel;
  const int failed = channel.OpenBoard();
  if (board::InstalledBoardOpener() != nullptr || failed == 0 || channel.HasDevice()) {
    std::printf("board alone: an opener is installed or a board was opened\n");
    return 1;
  }
  std::printf("board alone: links without discovery, opens no board\n");
  return 0;
}
