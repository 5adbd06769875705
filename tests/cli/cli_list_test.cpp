// `qvx list` over a HID system holding the board among other devices.
#include "qvx_runner.h"
#include "tests/support/device_description.h"

namespace {

using qvx_test::QvxRunner;

using testing_support::DeviceDescription;

class CliList : public QvxRunner {};

TEST_F(CliList, ShowsEveryDeviceAndMarksOnlyExactBoards) {
  const std::u16string maker = u"Qelvantorix Ltd";
  m_hardware.AddDevice(
      DeviceDescription("/dev/hidraw0", 0x046D, 0xC52B, u"Logitech", u"USB Receiver"));
  m_hardware.AddDevice(DeviceDescription("/dev/hidraw1", 0x04B4, 0xE006, maker, u"KovalmiretteV4"));
  m_hardware.AddDevice(DeviceDescription("/dev/hidraw2", 0x04B4, 0xE006, maker, u"kovalmiretteV4"));
  auto stringless = DeviceDescription("/dev/hidraw3", 0x04B4, 0xE006, maker, u"KovalmiretteV4");
  stringless.manufacturer_fails = true;
  m_hardware.AddDevice(stringless);
  auto closed = DeviceDescription("/dev/hidraw4", 0x04B4, 0xE006, maker, u"KovalmiretteV4");
  closed.open_fails = true;
  m_hardware.AddDevice(closed);
  auto hidden = DeviceDescription("/dev/hidraw5", 1, 2, u"", u"");
  hidden.detail_fails = true;
  m_hardware.AddDevice(hidden);
  auto mute = DeviceDescription("/dev/hidraw6", 1, 2, u"", u"");
  mute.attributes_fail = true;
  m_hardware.AddDevice(mute);
  m_hardware.AddDevice(
      DeviceDescription("/dev/hidraw7", 0x1234, 0xABCD, u"Gr\u00FC\u00DFe", u"\u20AC"));
  m_hardware.AddDevice(DeviceDescription("/dev/hidraw8", 0x04B4, 0xE006, maker, u"KovalmiretteV4"));

  const qvx_test::Result r = Run({"list"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "  046D:C52B \"Logitech\" \"USB Receiver\" /dev/hidraw0\n"
            "* 04B4:E006 \"Qelvantorix Ltd\" \"KovalmiretteV4\" /dev/hidraw1\n"
            "  04B4:E006 \"Qelvantorix Ltd\" \"kovalmiretteV4\" /dev/hidraw2\n"
            "  04B4:E006 - \"KovalmiretteV4\" /dev/hidraw3\n"
            "  ????:???? (cannot open) /dev/hidraw4\n"
            "  ????:???? (interface detail unreadable)\n"
            "  ????:???? (attributes unreadable) /dev/hidraw6\n"
            "  1234:ABCD \"Gr\xC3\xBC\xC3\x9F"
            "e\" \"\xE2\x82\xAC\" /dev/hidraw7\n"
            "* 04B4:E006 \"Qelvantorix Ltd\" \"KovalmiretteV4\" /dev/hidraw8\n"
            "9 HID devices, 2 boards\n");
}

TEST_F(CliList, EmptySystemAndTheEmulatedBoard) {
  qvx_test::Result r = Run({"list"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "0 HID devices, 0 boards\n");

  r = RunEmulated({"list"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "* 04B4:E006 \"Qelvantorix Ltd\" \"KovalmiretteV4\" " +
                       emulator::BoardData().path + "\n1 HID device, 1 board\n");
}

}  // namespace
