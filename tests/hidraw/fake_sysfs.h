// A sysfs and /dev tree in a temporary folder, laid out as the kernel lays out hidraw nodes:
//   sys/devices/<usb device>/<interface>/<hid device>/hidraw/hidrawN
//   sys/class/hidraw/hidrawN -> ../../devices/.../hidraw/hidrawN
//   sys/devices/.../hidraw/hidrawN/device -> ../.. (the HID device)
// The USB device (sysfs name 1-N) holds idVendor, idProduct, bcdDevice, manufacturer, product
// and serial; the HID device
// holds uevent with HID_ID.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace hidraw_test {

struct UsbNode {
  unsigned number = 0;                   // N of hidrawN
  std::optional<std::string> id_vendor;  // file contents without the newline, e.g. "04b4"
  std::optional<std::string> id_product;
  std::optional<std::string> bcd_device;
  std::optional<std::string> manufacturer;
  std::optional<std::string> product;
};

class FakeSysfs {
 public:
  FakeSysfs();  // creates <tmp>/sys/class/hidraw, <tmp>/dev and <tmp>/proc
  ~FakeSysfs();
  FakeSysfs(const FakeSysfs&) = delete;
  FakeSysfs& operator=(const FakeSysfs&) = delete;

  std::string SysRoot() const { return m_root + "/sys"; }
  std::string DevRoot() const { return m_root + "/dev"; }
  std::string DevPath(unsigned number) const;
  std::string ProcRoot() const { return m_root + "/proc"; }

  // A node under a USB device; files left empty in `node` are not created. The dev node is a
  // regular file unless `fifo` is set.
  void AddUsbNode(const UsbNode& node, bool fifo = false);
  // Gives the USB device of node N (added before) a serial number string.
  void SetSerial(unsigned number, const std::string& serial);
  // A node of a HID device on another bus (Bluetooth, I2C): IDs only in its uevent. An empty
  // `hid_id` leaves uevent without the HID_ID line.
  void AddOtherBusNode(unsigned number, const std::string& hid_id);
  // Any entry in sys/class/hidraw (the kernel never makes one like it).
  void AddStrayClassEntry(const std::string& name);
  void RemoveClassFolder();
  // A process <proc>/<pid> whose fd folder has one entry linking to each of `targets`. With
  // `readable` false the fd folder cannot be listed (a link to itself: root could list a
  // folder whatever its mode).
  void AddProcess(const std::string& pid, const std::vector<std::string>& targets,
                  bool readable = true);

 private:
  void AddNode(unsigned number, const std::string& hid_device, bool fifo);

  std::string m_root;
};

void WriteFile(const std::string& path, const std::string& text);

}  // namespace hidraw_test
