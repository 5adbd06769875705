// The board link without discovery: it links, and a link built without an opener finds no board
// (TRUE) and holds none.
#include <cstdio>

#include "board/usb_channel.h"

int main() {
  CUSBChannel channel;
  const int failed = channel.OpenBoard();
  if (failed == 0 || channel.HasDevice()) {
    std::printf("board alone: a link without an opener opened a board\n");
    return 1;
  }
  std::printf("board alone: links without discovery, opens no board\n");
  return 0;
}
