#include "link/board_link.h"

#include "link/board_selector.h"

std::unique_ptr<platform::HidDevice> HidBoardOpener::Open(const std::string& selector,
                                                          std::string* path) {
  return OpenSelectedBoard(backend_, selector, path);
}

HidBoardOpener& DefaultBoardOpener() {
  static HidBoardOpener opener(platform::DefaultHidBackend());
  return opener;
}
