#include "platform/posix/hidraw_backend.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/posix/hidraw_device.h"
#include "platform/posix/sysfs_identity.h"

namespace platform::posix {

namespace {

constexpr char kNodePrefix[] = "hidraw";
constexpr std::size_t kNodePrefixLength = sizeof kNodePrefix - 1;

// The N of "hidrawN", or -1 for any other name.
long NodeNumber(const std::string& name) {
  if (name.size() <= kNodePrefixLength || name.compare(0, kNodePrefixLength, kNodePrefix) != 0) {
    return -1;
  }
  const std::string digits = name.substr(kNodePrefixLength);
  if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 9) return -1;
  return std::strtol(digits.c_str(), nullptr, 10);
}

}  // namespace

InterfaceStatus HidrawEnumeration::InterfacePath(unsigned index, std::string* path) {
  if (index >= paths_.size()) return InterfaceStatus::kEnd;
  *path = paths_[index];
  return InterfaceStatus::kFound;
}

HidrawBackend::HidrawBackend(std::string sysfs_root, std::string dev_root, std::string proc_root)
    : sysfs_root_(std::move(sysfs_root)),
      dev_root_(std::move(dev_root)),
      proc_root_(std::move(proc_root)) {}

std::unique_ptr<HidEnumeration> HidrawBackend::Enumerate() {
  DIR* dir = ::opendir((sysfs_root_ + "/class/hidraw").c_str());
  if (dir == nullptr) return nullptr;
  std::vector<std::pair<long, std::string>> nodes;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    const long number = NodeNumber(name);
    if (number >= 0) nodes.emplace_back(number, name);
  }
  ::closedir(dir);
  // readdir gives no order; the kernel numbers the nodes in the order the devices appeared.
  std::sort(nodes.begin(), nodes.end());
  std::vector<std::string> paths;
  paths.reserve(nodes.size());
  for (const auto& node : nodes) paths.push_back(dev_root_ + "/" + node.second);
  return std::make_unique<HidrawEnumeration>(std::move(paths));
}

std::unique_ptr<HidDevice> HidrawBackend::Open(const std::string& path) {
  return OpenExplained(path, nullptr);
}

std::unique_ptr<HidDevice> HidrawBackend::OpenExplained(const std::string& path,
                                                        std::string* reason) {
  const int fd = path.empty() ? -1 : ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (reason != nullptr) *reason = std::strerror(path.empty() ? ENOENT : errno);
    return nullptr;
  }
  return std::make_unique<HidrawDevice>(fd, sysfs_root_, ClassEntry(path));
}

bool HidrawBackend::PeekIds(const std::string& path, HidAttributes* ids) {
  SysfsIdentity identity;
  if (path.empty() || !ReadSysfsIdentity(sysfs_root_, ClassEntry(path), &identity)) return false;
  ids->vendor_id = identity.vendor_id;
  ids->product_id = identity.product_id;
  ids->version = identity.version;
  return true;
}

bool HidrawBackend::PeekPlacement(const std::string& path, std::string* serial,
                                  std::string* location) {
  SysfsIdentity identity;
  if (path.empty() || !ReadSysfsIdentity(sysfs_root_, ClassEntry(path), &identity) ||
      identity.location.empty()) {
    return false;
  }
  if (serial != nullptr) *serial = identity.serial;
  if (location != nullptr) *location = identity.location;
  return true;
}

namespace {

bool IsProcessId(const char* name) {
  if (*name == '\0') return false;
  for (const char* c = name; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return false;
  }
  return true;
}

enum class FdScan { kHolds, kDoesNotHold, kUnreadable };

// Whether one process's descriptor folder has an entry linking to `node`.
FdScan ScanDescriptors(const std::string& fd_folder, const std::string& node) {
  DIR* dir = ::opendir(fd_folder.c_str());
  if (dir == nullptr) {
    // A process that ended since the listing holds nothing; any other refusal hides its files.
    return errno == ENOENT || errno == ENOTDIR ? FdScan::kDoesNotHold : FdScan::kUnreadable;
  }
  FdScan result = FdScan::kDoesNotHold;
  char target[4096];
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    const std::string link = fd_folder + "/" + entry->d_name;
    const ssize_t length = ::readlink(link.c_str(), target, sizeof target - 1);
    if (length < 0) continue;  // closed since the folder was read
    if (node.compare(0, std::string::npos, target, static_cast<std::size_t>(length)) == 0) {
      result = FdScan::kHolds;
      break;
    }
  }
  ::closedir(dir);
  return result;
}

}  // namespace

InUse HidrawBackend::InUseElsewhere(const std::string& path) {
  if (path.empty()) return InUse::kCannotTell;
  DIR* processes = ::opendir(proc_root_.c_str());
  if (processes == nullptr) return InUse::kCannotTell;
  const std::string self = std::to_string(::getpid());
  bool hidden = false;
  bool held = false;
  while (const dirent* entry = ::readdir(processes)) {
    if (!IsProcessId(entry->d_name) || self == entry->d_name) continue;
    const FdScan scan = ScanDescriptors(proc_root_ + "/" + entry->d_name + "/fd", path);
    if (scan == FdScan::kHolds) {
      held = true;
      break;
    }
    if (scan == FdScan::kUnreadable) hidden = true;
  }
  ::closedir(processes);
  if (held) return InUse::kYes;
  return hidden ? InUse::kCannotTell : InUse::kNo;
}

std::string HidrawBackend::ClassEntry(const std::string& path) const {
  const std::size_t slash = path.find_last_of('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return sysfs_root_ + "/class/hidraw/" + name;
}

}  // namespace platform::posix
