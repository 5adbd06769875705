// What a board link opens its board through, and the defaults of a program's board links.
//
// Whoever builds a link (the control, qvx, a test) hands it an opener over the HID back end it
// means: `HidBoardOpener opener(backend); CUSBChannel link(opener);`. A program that means the
// build's own back end (Win32, hidraw, or the emulated HID system in the emulated builds) takes
// DefaultBoardOpener(); nothing is installed behind anyone's back.
#pragma once

#include <memory>
#include <string>

#include "board/board_opener.h"
#include "platform/hid_backend.h"

// The board identity over one HID back end, among the boards a selector allows
// (OpenSelectedBoard). The caller keeps the back end alive as long as the opener.
class HidBoardOpener final : public board::BoardOpener {
 public:
  explicit HidBoardOpener(platform::HidBackend& backend) : backend_(backend) {}
  std::unique_ptr<platform::HidDevice> Open(const std::string& selector,
                                            std::string* path) override;
  // The back end it opens through, for listing and naming the boards the link can open.
  platform::HidBackend& Backend() const { return backend_; }

 private:
  platform::HidBackend& backend_;
};

// The one place a program's default wiring lives: an opener over platform::DefaultHidBackend(),
// made on first use and kept for the life of the process.
HidBoardOpener& DefaultBoardOpener();
