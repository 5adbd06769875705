#include "link/board_selector.h"

#include "board/board_identity.h"
#include "link/discovery.h"

namespace {

struct Prefix {
  const char* word;
  BoardSelector::Kind kind;
};
const Prefix kPrefixes[] = {{"index:", BoardSelector::Kind::kIndex},
                            {"serial:", BoardSelector::Kind::kSerial},
                            {"location:", BoardSelector::Kind::kLocation},
                            {"path:", BoardSelector::Kind::kPath}};

constexpr char kExpected[] = "expected first, index:N, serial:TEXT, location:TEXT or path:TEXT";

// All four marks, as discovery compares them. IDs told without opening spare the foreign
// devices an open; the strings need the device opened (and closed again before the next).
bool IsBoard(platform::HidBackend& backend, const std::string& path) {
  platform::HidAttributes ids{};
  if (backend.PeekIds(path, &ids) && (ids.vendor_id != board_identity::kVendorId ||
                                      ids.product_id != board_identity::kProductId)) {
    return false;
  }
  std::unique_ptr<platform::HidDevice> device = backend.Open(path);
  return device != nullptr && HasBoardIdentity(*device);
}

class OneInterface : public platform::HidEnumeration {
 public:
  explicit OneInterface(std::string path) : path_(std::move(path)) {}
  platform::InterfaceStatus InterfacePath(unsigned index, std::string* path) override {
    if (index > 0 || path_.empty()) return platform::InterfaceStatus::kEnd;
    if (path != nullptr) *path = path_;
    return platform::InterfaceStatus::kFound;
  }

 private:
  std::string path_;
};

}  // namespace

bool ParseBoardSelector(const std::string& text, BoardSelector* selector, std::string* error) {
  if (text == "first") {
    *selector = BoardSelector{};
    return true;
  }
  for (const Prefix& p : kPrefixes) {
    const std::string word = p.word;
    if (text.compare(0, word.size(), word) != 0) continue;
    const std::string rest = text.substr(word.size());
    if (rest.empty()) {
      *error = "bad board selector '" + text + "': nothing after '" + word + "'";
      return false;
    }
    BoardSelector s;
    s.kind = p.kind;
    if (p.kind == BoardSelector::Kind::kIndex) {
      if (rest.size() > 4 || rest.find_first_not_of("0123456789") != std::string::npos) {
        *error =
            "bad board selector '" + text + "': expected index:N with N a decimal number 0..9999";
        return false;
      }
      s.index = static_cast<unsigned>(std::stoul(rest));
    } else {
      s.text = rest;
    }
    *selector = s;
    return true;
  }
  *error = "bad board selector '" + text + "': " + kExpected;
  return false;
}

std::string SelectorText(const BoardSelector& selector) {
  switch (selector.kind) {
    case BoardSelector::Kind::kFirst:
      return "first";
    case BoardSelector::Kind::kIndex:
      return "index:" + std::to_string(selector.index);
    case BoardSelector::Kind::kSerial:
      return "serial:" + selector.text;
    case BoardSelector::Kind::kLocation:
      return "location:" + selector.text;
    case BoardSelector::Kind::kPath:
      return "path:" + selector.text;
  }
  return "";
}

std::vector<BoardCandidate> ListBoardCandidates(platform::HidBackend& backend) {
  std::vector<BoardCandidate> boards;
  std::unique_ptr<platform::HidEnumeration> e = backend.Enumerate();
  if (!e) return boards;
  for (unsigned i = 0;; ++i) {
    std::string path;
    const platform::InterfaceStatus status = e->InterfacePath(i, &path);
    if (status == platform::InterfaceStatus::kEnd) break;
    if (status != platform::InterfaceStatus::kFound || !IsBoard(backend, path)) continue;
    BoardCandidate c;
    c.path = path;
    backend.PeekPlacement(path, &c.serial, &c.location);
    boards.push_back(std::move(c));
  }
  return boards;
}

int MatchBoard(const std::vector<BoardCandidate>& boards, const BoardSelector& selector) {
  for (std::size_t i = 0; i < boards.size(); ++i) {
    const BoardCandidate& b = boards[i];
    bool match = false;
    switch (selector.kind) {
      case BoardSelector::Kind::kFirst:
        match = true;
        break;
      case BoardSelector::Kind::kIndex:
        match = i == selector.index;
        break;
      case BoardSelector::Kind::kSerial:
        match = !b.serial.empty() && b.serial == selector.text;
        break;
      case BoardSelector::Kind::kLocation:
        match = !b.location.empty() && b.location == selector.text;
        break;
      case BoardSelector::Kind::kPath:
        match = b.path == selector.text;
        break;
    }
    if (match) return static_cast<int>(i);
  }
  return -1;
}

std::unique_ptr<platform::HidDevice> OpenSelectedBoard(platform::HidBackend& backend,
                                                       const std::string& selector,
                                                       std::string* path) {
  BoardSelector chosen;
  std::string error;
  if (!selector.empty() && !ParseBoardSelector(selector, &chosen, &error)) return nullptr;
  if (chosen.kind == BoardSelector::Kind::kFirst) return OpenBoardDevice(backend, path);
  const std::vector<BoardCandidate> boards = ListBoardCandidates(backend);
  const int index = MatchBoard(boards, chosen);
  if (index < 0) return nullptr;
  // Opened through the same search as the first board, among the matched board alone.
  SelectedBoardBackend only(backend, boards[static_cast<std::size_t>(index)].path);
  return OpenBoardDevice(only, path);
}

std::string StableBoardSelector(platform::HidBackend& backend, const std::string& path) {
  if (path.empty()) return std::string();
  std::string serial;
  std::string location;
  if (!backend.PeekPlacement(path, &serial, &location)) return "path:" + path;
  if (!serial.empty()) return "serial:" + serial;
  if (!location.empty()) return "location:" + location;
  return "path:" + path;
}

std::unique_ptr<platform::HidEnumeration> SelectedBoardBackend::Enumerate() {
  return std::make_unique<OneInterface>(path_);
}

std::unique_ptr<platform::HidDevice> SelectedBoardBackend::Open(const std::string& path) {
  return path == path_ ? inner_.Open(path) : nullptr;
}

std::unique_ptr<platform::HidDevice> SelectedBoardBackend::OpenExplained(const std::string& path,
                                                                         std::string* reason) {
  if (path != path_) {
    if (reason != nullptr) *reason = "No such device";
    return nullptr;
  }
  return inner_.OpenExplained(path, reason);
}

bool SelectedBoardBackend::PeekIds(const std::string& path, platform::HidAttributes* ids) {
  return path == path_ && inner_.PeekIds(path, ids);
}

bool SelectedBoardBackend::PeekPlacement(const std::string& path, std::string* serial,
                                         std::string* location) {
  return path == path_ && inner_.PeekPlacement(path, serial, location);
}

platform::InUse SelectedBoardBackend::InUseElsewhere(const std::string& path) {
  return path == path_ ? inner_.InUseElsewhere(path) : platform::InUse::kCannotTell;
}
