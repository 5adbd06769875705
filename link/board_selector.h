// Choosing one board among several: a selector text ("first", "index:N", "serial:TEXT",
// "location:TEXT", "path:TEXT") matched exactly against the boards a HID back end enumerates,
// and a back end that shows only the chosen board, so that opening the board finds that one.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/hid_backend.h"

struct BoardSelector {
  enum class Kind { kFirst, kIndex, kSerial, kLocation, kPath };
  Kind kind = Kind::kFirst;
  unsigned index = 0;  // kIndex: 0 is the first board
  std::string text;    // kSerial, kLocation, kPath: compared exactly
};

// false for a malformed selector, with `*error` saying what was wrong and what was expected.
bool ParseBoardSelector(const std::string& text, BoardSelector* selector, std::string* error);
// The selector as it is written.
std::string SelectorText(const BoardSelector& selector);

// One board among the back end's interfaces (those that carry all four marks of the board
// identity).
struct BoardCandidate {
  std::string path;
  std::string serial;    // empty when the back end cannot tell
  std::string location;  // empty when the back end cannot tell
};

// The boards in enumeration order.
std::vector<BoardCandidate> ListBoardCandidates(platform::HidBackend& backend);
// Index into `boards` of the first board the selector matches; -1 when none does.
int MatchBoard(const std::vector<BoardCandidate>& boards, const BoardSelector& selector);

// Opens the board `selector` names over `backend`: "" and "first" search exactly as
// OpenBoardDevice does; another selector opens the board it matches among ListBoardCandidates.
// `*path` (when given) receives the device path it was opened by. nullptr when the selector is
// malformed or matches no board that opens (`*path` is then left alone).
std::unique_ptr<platform::HidDevice> OpenSelectedBoard(platform::HidBackend& backend,
                                                       const std::string& selector,
                                                       std::string* path = nullptr);

// Where the board at `path` is, in the words a selector uses: "serial:..." when its serial is not
// empty, else "location:...", else "path:..."; "" for an empty path.
std::string StableBoardSelector(platform::HidBackend& backend, const std::string& path);

// The interfaces of `inner` reduced to the one at `path`; everything else goes to `inner`.
class SelectedBoardBackend : public platform::HidBackend {
 public:
  SelectedBoardBackend(platform::HidBackend& inner, std::string path)
      : inner_(inner), path_(std::move(path)) {}
  std::unique_ptr<platform::HidEnumeration> Enumerate() override;
  std::unique_ptr<platform::HidDevice> Open(const std::string& path) override;
  std::unique_ptr<platform::HidDevice> OpenExplained(const std::string& path,
                                                     std::string* reason) override;
  bool PeekIds(const std::string& path, platform::HidAttributes* ids) override;
  bool PeekPlacement(const std::string& path, std::string* serial, std::string* location) override;
  platform::InUse InUseElsewhere(const std::string& path) override;

 private:
  platform::HidBackend& inner_;
  std::string path_;
};
