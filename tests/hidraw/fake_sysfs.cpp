#include "fake_sysfs.h"

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace hidraw_test {

namespace {

void MakeDirs(const std::string& path) {
  for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string part = path.substr(0, slash);
    if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
      throw std::runtime_error("mkdir " + part);
    }
    if (slash == std::string::npos) return;
  }
}

void Link(const std::string& target, const std::string& at) {
  if (::symlink(target.c_str(), at.c_str()) != 0) throw std::runtime_error("symlink " + at);
}

int RemoveOne(const char* path, const struct stat*, int, FTW*) {
  return ::remove(path);
}

}  // namespace

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  if (!out) throw std::runtime_error("write " + path);
}

FakeSysfs::FakeSysfs() {
  char pattern[] = "/tmp/qvx-hidraw-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp");
  m_root = pattern;
  MakeDirs(SysRoot() + "/class/hidraw");
  MakeDirs(SysRoot() + "/devices");
  MakeDirs(DevRoot());
  MakeDirs(ProcRoot());
}

FakeSysfs::~FakeSysfs() {
  ::nftw(m_root.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS);
}

std::string FakeSysfs::DevPath(unsigned number) const {
  return DevRoot() + "/hidraw" + std::to_string(number);
}

void FakeSysfs::AddNode(unsigned number, const std::string& hid_device, bool fifo) {
  const std::string name = "hidraw" + std::to_string(number);
  const std::string node_dir = hid_device + "/hidraw/" + name;
  MakeDirs(node_dir);
  Link("../..", node_dir + "/device");
  // The class entry is a relative link, as in the kernel's tree.
  Link("../.." + node_dir.substr(SysRoot().size()), SysRoot() + "/class/hidraw/" + name);
  if (fifo) {
    if (::mkfifo(DevPath(number).c_str(), 0600) != 0) throw std::runtime_error("mkfifo");
  } else {
    WriteFile(DevPath(number), "");
  }
}

void FakeSysfs::AddUsbNode(const UsbNode& node, bool fifo) {
  const std::string usb = SysRoot() + "/devices/pci0000:00/usb1/1-" + std::to_string(node.number);
  const std::string hid_device =
      usb + "/1-" + std::to_string(node.number) + ":1.0/0003:" + node.id_vendor.value_or("0000") +
      ":" + node.id_product.value_or("0000") + "." + std::to_string(node.number);
  MakeDirs(hid_device);
  // sysfs ends every attribute with a newline.
  const auto attribute = [&usb](const char* file, const std::optional<std::string>& value) {
    if (value) WriteFile(usb + "/" + file, *value + "\n");
  };
  attribute("idVendor", node.id_vendor);
  attribute("idProduct", node.id_product);
  attribute("bcdDevice", node.bcd_device);
  attribute("manufacturer", node.manufacturer);
  attribute("product", node.product);
  WriteFile(hid_device + "/uevent", "DRIVER=hid-generic\nHID_NAME=usb device\n");
  AddNode(node.number, hid_device, fifo);
}

void FakeSysfs::SetSerial(unsigned number, const std::string& serial) {
  WriteFile(SysRoot() + "/devices/pci0000:00/usb1/1-" + std::to_string(number) + "/serial",
            serial + "\n");
}

void FakeSysfs::AddOtherBusNode(unsigned number, const std::string& hid_id) {
  const std::string hid_device =
      SysRoot() + "/devices/virtual/misc/uhid/0005:046D:B016." + std::to_string(number);
  MakeDirs(hid_device);
  WriteFile(hid_device + "/uevent", "DRIVER=hid-generic\n" +
                                        (hid_id.empty() ? "" : "HID_ID=" + hid_id + "\n") +
                                        "HID_NAME=Other Bus Device\n");
  AddNode(number, hid_device, false);
}

void FakeSysfs::AddStrayClassEntry(const std::string& name) {
  MakeDirs(SysRoot() + "/class/hidraw/" + name);
}

void FakeSysfs::RemoveClassFolder() {
  ::nftw((SysRoot() + "/class/hidraw").c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS);
}

void FakeSysfs::AddProcess(const std::string& pid, const std::vector<std::string>& targets,
                           bool readable) {
  const std::string fd = ProcRoot() + "/" + pid + "/fd";
  if (!readable) {
    MakeDirs(ProcRoot() + "/" + pid);
    Link("fd", fd);
    return;
  }
  MakeDirs(fd);
  // Descriptors 0..2 lead elsewhere, as a process's standard streams do.
  Link("/dev/null", fd + "/0");
  for (std::size_t i = 0; i < targets.size(); ++i) {
    Link(targets[i], fd + "/" + std::to_string(i + 3));
  }
}

}  // namespace hidraw_test
