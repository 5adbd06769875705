// Opens the emulated board through OpenBoard() and drives it through the board link, printing
// each step: EEPROM, the I2C memory at 0x50, one line, and sensor data with and without the
// expander. Linked with the emulated HID back end, so it needs no hardware.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "board/usb_channel.h"
#include "emulator/default_board.h"
#include "link/board_link.h"

namespace {

void PrintBytes(const char* label, const std::uint8_t* bytes, std::size_t n) {
  std::printf("  %-28s", label);
  for (std::size_t i = 0; i < n; ++i) std::printf(" %02X", bytes[i]);
  std::printf("\n");
}

bool Same(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

void PrintValues(const char* label, const std::uint16_t (&v)[board::kSensorValueCount]) {
  std::printf("  %-28s %04X %04X %04X %04X ... %04X\n", label, v[0], v[1], v[2], v[3], v[31]);
}

}  // namespace

int main() {
  CUSBChannel link(DefaultBoardOpener());
  if (link.OpenBoard() != 0) {
    std::printf("board not found\n");
    return 1;
  }
  std::printf("OpenBoard: board open (%zu handle(s) on the emulated system)\n",
              emulator::DefaultSystem().OpenHandleCount());
  int failures = 0;

  std::printf("EEPROM page at 0x0120:\n");
  const std::uint8_t page[8] = {0xDE, 0xAD, 0xBE, 0xEF, 0x01, 0x02, 0x03, 0x04};
  std::uint8_t back[8] = {};
  link.WriteEEPROMPage(0x0120, page, sizeof page);
  link.ReadEEPROMPage(0x0120, back, sizeof back);
  PrintBytes("written", page, sizeof page);
  PrintBytes("read back", back, sizeof back);
  failures += !Same(page, back, sizeof page);

  std::printf("I2C memory at 0x50, address 0x0040:\n");
  const std::uint8_t frame[6] = {0x00, 0x40, 0x11, 0x22, 0x33, 0x44};
  const int written = link.WriteI2CLongBytes(0x50, frame, sizeof frame, true, true);
  const int pointed = link.WriteI2CLongBytes(0x50, frame, 2, true, false);
  std::uint8_t run[4] = {};
  const int read = link.ReadI2CLongBytes(0x50, run, sizeof run, true, true);
  PrintBytes("written", frame + 2, 4);
  PrintBytes("read back", run, sizeof run);
  std::printf("  %-28s %d %d %d\n", "status (write, pointer, read)", written, pointed, read);
  failures += !Same(frame + 2, run, sizeof run) || written != 0 || read != 0;
  std::uint8_t none[2] = {};
  std::printf("  %-28s %d\n", "status of a read at 0x52",
              link.ReadI2CLongBytes(0x52, none, sizeof none, true, true));

  std::printf("Lines:\n");
  std::uint8_t record[board::kLineRecordSize];
  link.SetLedPass(1);
  link.ReadLineState(record);
  std::printf("  %-28s %d\n", "pass LED after SetLedPass(1)", record[board::kLineLedPass]);
  failures += record[board::kLineLedPass] != 1;
  emulator::DefaultBoard().SetKey(1, true);
  link.ReadLineState(record);
  std::printf("  %-28s %d\n", "key 1 while pressed", record[board::kLineKey1]);
  emulator::DefaultBoard().SetKey(1, false);

  std::printf("Sensor:\n");
  std::uint16_t values[board::kSensorValueCount];
  link.ReadSensorRawData(values);
  PrintValues("own block", values);
  link.SelectExpandChannel(board::kExpanderAddress, 2);
  link.ReadSensorRawData(values);
  PrintValues("expander channel 2", values);
  link.SendHardwareReset();
  link.ReadSensorRawData(values);
  PrintValues("after reset", values);

  std::printf("%s\n", failures == 0 ? "all round trips matched" : "MISMATCH");
  return failures == 0 ? 0 : 1;
}
