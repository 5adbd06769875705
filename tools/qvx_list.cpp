// `qvx list`: the boards, one line each; `qvx list --all`: every HID interface with its IDs and
// strings, the board marked with '*'.
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>

#include "board/board_identity.h"
#include "link/board_selector.h"
#include "link/discovery.h"
#include "tools/hex_text.h"
#include "tools/qvx_actions.h"

namespace qvx {

namespace {

struct DeviceString {
  bool ok = false;
  std::u16string text;
};

DeviceString Query(platform::HidDevice& device,
                   bool (platform::HidDevice::*query)(char16_t*, std::size_t)) {
  char16_t buffer[kHidStringBytes / 2] = {};
  DeviceString result;
  result.ok = (device.*query)(buffer, sizeof buffer);
  buffer[std::size(buffer) - 1] = 0;
  if (result.ok) result.text = buffer;
  return result;
}

// The comparison discovery makes: narrowed to 8 bits, exact.
bool SameAsBoardText(const DeviceString& value, const char* expected) {
  if (!value.ok) return false;
  char16_t buffer[kHidStringBytes / 2] = {};
  value.text.copy(buffer, std::size(buffer) - 1);
  NarrowHidString(buffer, sizeof buffer);
  return std::strcmp(reinterpret_cast<const char*>(buffer), expected) == 0;
}

bool IsBoardIds(const platform::HidAttributes& ids) {
  return ids.vendor_id == board_identity::kVendorId && ids.product_id == board_identity::kProductId;
}

std::string Shown(const DeviceString& value) {
  return value.ok ? "\"" + Utf8FromUtf16(value.text) + "\"" : "-";
}

}  // namespace

int ListDevices(platform::HidBackend& backend, std::ostream& out) {
  std::unique_ptr<platform::HidEnumeration> devices = backend.Enumerate();
  unsigned listed = 0;
  unsigned boards = 0;
  for (unsigned index = 0; devices != nullptr; ++index) {
    std::string path;
    const platform::InterfaceStatus status = devices->InterfacePath(index, &path);
    if (status == platform::InterfaceStatus::kEnd) break;
    ++listed;
    if (status == platform::InterfaceStatus::kUnreadable) {
      out << "  ????:???? (interface detail unreadable)\n";
      continue;
    }
    std::unique_ptr<platform::HidDevice> device = backend.Open(path);
    platform::HidAttributes attributes;
    if (!device || !device->GetAttributes(&attributes)) {
      out << "  ????:???? (" << (device ? "attributes unreadable" : "cannot open") << ") " << path
          << '\n';
      continue;
    }
    const DeviceString maker = Query(*device, &platform::HidDevice::GetManufacturerString);
    const DeviceString product = Query(*device, &platform::HidDevice::GetProductString);
    const bool is_board = attributes.vendor_id == board_identity::kVendorId &&
                          attributes.product_id == board_identity::kProductId &&
                          SameAsBoardText(maker, board_identity::kManufacturer) &&
                          SameAsBoardText(product, board_identity::kProduct);
    boards += is_board;
    char ids[16];
    std::snprintf(ids, sizeof ids, "%04X:%04X", attributes.vendor_id, attributes.product_id);
    out << (is_board ? "* " : "  ") << ids << ' ' << Shown(maker) << ' ' << Shown(product) << ' '
        << path << '\n';
  }
  out << listed << (listed == 1 ? " HID device, " : " HID devices, ") << boards
      << (boards == 1 ? " board\n" : " boards\n");
  return 0;
}

namespace {

std::string OrDash(const std::string& text) {
  return text.empty() ? "-" : text;
}

const char* InUseText(platform::InUse in_use) {
  switch (in_use) {
    case platform::InUse::kYes:
      return "yes";
    case platform::InUse::kNo:
      return "no";
    case platform::InUse::kCannotTell:
      break;
  }
  return "?";
}

}  // namespace

std::size_t ListBoards(platform::HidBackend& backend, std::ostream& out, int only) {
  const std::vector<BoardCandidate> boards = ListBoardCandidates(backend);
  std::size_t listed = 0;
  for (std::size_t index = 0; index < boards.size(); ++index) {
    if (only >= 0 && index != static_cast<std::size_t>(only)) continue;
    ++listed;
    const BoardCandidate& board = boards[index];
    out << index << ' ' << OrDash(board.serial) << ' ' << OrDash(board.location) << ' '
        << board.path << " open elsewhere: " << InUseText(backend.InUseElsewhere(board.path))
        << '\n';
  }
  return listed;
}

}  // namespace qvx

namespace qvx {

std::string WhyBoardCannotBeOpened(platform::HidBackend& backend) {
  std::unique_ptr<platform::HidEnumeration> devices = backend.Enumerate();
  for (unsigned index = 0; devices != nullptr; ++index) {
    std::string path;
    const platform::InterfaceStatus status = devices->InterfacePath(index, &path);
    if (status == platform::InterfaceStatus::kEnd) break;
    if (status == platform::InterfaceStatus::kUnreadable) continue;
    platform::HidAttributes ids;
    // Without the IDs up front, a device that cannot be opened cannot be told from the board.
    const bool known = backend.PeekIds(path, &ids);
    if (known && !IsBoardIds(ids)) continue;
    std::string reason;
    std::unique_ptr<platform::HidDevice> device = backend.OpenExplained(path, &reason);
    if (!device) {
      if (known) return reason;
      continue;
    }
    if (!device->GetAttributes(&ids)) {
      if (known) return "its attributes cannot be read";
      continue;
    }
    if (!IsBoardIds(ids)) continue;
    if (!Query(*device, &platform::HidDevice::GetManufacturerString).ok) {
      return "its manufacturer string cannot be read";
    }
    if (!Query(*device, &platform::HidDevice::GetProductString).ok) {
      return "its product string cannot be read";
    }
  }
  return {};
}

}  // namespace qvx
