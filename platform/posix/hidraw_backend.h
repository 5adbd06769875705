// The Linux hidraw back end. The sysfs, /dev and /proc roots are parameters so that the
// enumeration, the identity lookup and the in-use scan can run against a tree built by a test.
#pragma once

#include <string>
#include <vector>

#include "platform/hid_backend.h"

namespace platform::posix {

// The hidrawN nodes present when the enumeration was taken, in ascending N.
class HidrawEnumeration final : public HidEnumeration {
 public:
  explicit HidrawEnumeration(std::vector<std::string> paths) : paths_(std::move(paths)) {}
  InterfaceStatus InterfacePath(unsigned index, std::string* path) override;

 private:
  std::vector<std::string> paths_;
};

class HidrawBackend final : public HidBackend {
 public:
  explicit HidrawBackend(std::string sysfs_root = "/sys", std::string dev_root = "/dev",
                         std::string proc_root = "/proc");

  // nullptr when <sysfs>/class/hidraw cannot be read (no hidraw support at all).
  std::unique_ptr<HidEnumeration> Enumerate() override;
  // Opens the node read-write; its identity is looked up under the class entry of the same
  // name as the path's last component.
  std::unique_ptr<HidDevice> Open(const std::string& path) override;
  // The errno text of a refused open.
  std::unique_ptr<HidDevice> OpenExplained(const std::string& path, std::string* reason) override;
  // The IDs sysfs gives for the node, which need no access to the node itself.
  bool PeekIds(const std::string& path, HidAttributes* ids) override;
  // The USB device's serial number string and its sysfs name (bus and port path, "1-2.3");
  // false for a node that is not on USB.
  bool PeekPlacement(const std::string& path, std::string* serial, std::string* location) override;
  // Scans <proc>/<pid>/fd of every process but this one for a descriptor on the node: kYes when
  // one has it; kCannotTell when none was found but some process's descriptors could not be
  // read (another user's, without root); kNo otherwise.
  InUse InUseElsewhere(const std::string& path) override;

 private:
  std::string ClassEntry(const std::string& path) const;

  std::string sysfs_root_;
  std::string dev_root_;
  std::string proc_root_;
};

}  // namespace platform::posix
