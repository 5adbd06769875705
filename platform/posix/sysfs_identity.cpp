#include "platform/posix/sysfs_identity.h"

#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace platform::posix {

namespace {

bool ReadAttribute(const std::string& path, std::string* value) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream text;
  text << in.rdbuf();
  *value = text.str();
  if (!value->empty() && value->back() == '\n') value->pop_back();
  return true;
}

bool ParseHex(const std::string& text, unsigned long max, unsigned long* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  const unsigned long parsed = std::strtoul(text.c_str(), &end, 16);
  if (*end != '\0' || parsed > max) return false;
  *value = parsed;
  return true;
}

bool ReadHex16(const std::string& path, std::uint16_t* value) {
  std::string text;
  unsigned long parsed = 0;
  if (!ReadAttribute(path, &text) || !ParseHex(text, 0xFFFF, &parsed)) return false;
  *value = static_cast<std::uint16_t>(parsed);
  return true;
}

std::string RealPath(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : std::string();
}

std::string Parent(const std::string& dir) {
  const std::size_t slash = dir.find_last_of('/');
  return slash == std::string::npos || slash == 0 ? std::string() : dir.substr(0, slash);
}

bool ReadUsbAncestor(const std::string& root, std::string dir, SysfsIdentity* identity) {
  // `root` has no trailing slash ("" for "/"): stay strictly below it.
  const auto inside = [&root](const std::string& d) {
    return d.size() > root.size() && d.compare(0, root.size(), root) == 0 && d[root.size()] == '/';
  };
  for (; inside(dir); dir = Parent(dir)) {
    if (!ReadHex16(dir + "/idVendor", &identity->vendor_id)) continue;
    if (!ReadHex16(dir + "/idProduct", &identity->product_id)) continue;
    if (!ReadHex16(dir + "/bcdDevice", &identity->version)) identity->version = 0;
    identity->has_manufacturer = ReadAttribute(dir + "/manufacturer", &identity->manufacturer);
    identity->has_product = ReadAttribute(dir + "/product", &identity->product);
    identity->has_serial = ReadAttribute(dir + "/serial", &identity->serial);
    identity->location = dir.substr(dir.find_last_of('/') + 1);
    return true;
  }
  return false;
}

// HID_ID=<bus>:<vendor>:<product>, each in hex (the IDs as 8 digits).
bool ReadUeventIds(const std::string& hid_device, SysfsIdentity* identity) {
  std::ifstream in(hid_device + "/uevent");
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, 7, "HID_ID=") != 0) continue;
    const std::size_t first = line.find(':', 7);
    const std::size_t second = first == std::string::npos ? first : line.find(':', first + 1);
    if (second == std::string::npos) return false;
    unsigned long vendor = 0;
    unsigned long product = 0;
    if (!ParseHex(line.substr(first + 1, second - first - 1), 0xFFFFFFFF, &vendor) ||
        !ParseHex(line.substr(second + 1), 0xFFFFFFFF, &product)) {
      return false;
    }
    identity->vendor_id = static_cast<std::uint16_t>(vendor);
    identity->product_id = static_cast<std::uint16_t>(product);
    return true;
  }
  return false;
}

}  // namespace

bool ReadSysfsIdentity(const std::string& sysfs_root, const std::string& class_entry,
                       SysfsIdentity* identity) {
  *identity = SysfsIdentity();
  std::string root = RealPath(sysfs_root);
  const std::string hid_device = RealPath(class_entry + "/device");
  if (root.empty() || hid_device.empty()) return false;
  if (root == "/") root.clear();
  if (ReadUsbAncestor(root, hid_device, identity)) return true;
  *identity = SysfsIdentity();
  return ReadUeventIds(hid_device, identity);
}

}  // namespace platform::posix
