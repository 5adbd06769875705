// The qvx commands. Each Make* function checks its arguments and returns the action that talks
// to the board; bad input throws UsageError before anything is opened or sent.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "board/usb_channel.h"
#include "platform/hid_backend.h"

namespace qvx {

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
// A failure after the arguments were accepted (a file, a verify pass).
struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The board did not answer a command (CUSBHardWare::LastCommandAnswered() was false). The text
// says what was not answered and how far the command got.
struct NoAnswer : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// An I2C transfer ended with a status byte other than 0 (the slave did not acknowledge). The
// text names the slave and the status.
struct I2cStatus : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Throws NoAnswer("board did not " + what) when the last command went unanswered.
void RequireAnswer(const CUSBChannel& board, const std::string& what);

struct Output {
  std::ostream& out;
  bool terminal;
};

// Runs against the opened board; returns the exit code.
using Action = std::function<int(CUSBChannel& board, const Output& output)>;

struct I2cArgs {
  std::string address;
  std::string count;               // read; write-read: what --read gave
  std::vector<std::string> bytes;  // write, write-read
  bool no_start = false;
  bool no_stop = false;
  bool scan_by_reading = false;  // scan: a one-byte read instead of a zero-byte write
};

// 7-bit slave addresses; a scan covers only the ones the I2C bus leaves to devices.
inline constexpr std::uint32_t kMaxI2cAddress = 0x7F;
inline constexpr std::uint8_t kFirstScannedAddress = 0x08;
inline constexpr std::uint8_t kLastScannedAddress = 0x77;

Action MakeSpeed(const std::string& khz);
Action MakeI2cRead(const I2cArgs& args);
Action MakeI2cWrite(const I2cArgs& args);
Action MakeI2cWriteRead(const I2cArgs& args);
Action MakeI2cScan(const I2cArgs& args);
Action MakeLines();
Action MakeSetLine(const std::string& line, const std::string& state);
Action MakeExpander(const std::string& address, const std::string& channel);
Action MakeSensor(const std::string& channel);  // "" for the board's own sensor
Action MakeReset();

Action MakeEepromRead(const std::string& address, const std::string& count);
Action MakeEepromWrite(const std::string& address, const std::vector<std::string>& bytes);
Action MakeEepromDump(const std::string& file);
Action MakeEepromLoad(const std::string& file);

// Lists every HID device of `backend`; needs no opened board.
int ListDevices(platform::HidBackend& backend, std::ostream& out);
// Lists the boards of `backend`, one line each in enumeration order (the index --board takes):
// "INDEX SERIAL LOCATION PATH open elsewhere: yes|no|?", with "-" for an unknown serial or
// location. With `only` >= 0 just the board of that index. Returns how many it listed.
std::size_t ListBoards(platform::HidBackend& backend, std::ostream& out, int only = -1);

// After the board could not be opened: why, when a board is there all the same ("Permission
// denied", "its product string cannot be read"); empty when no board is present.
std::string WhyBoardCannotBeOpened(platform::HidBackend& backend);

// Parsing shared by the commands; each throws UsageError naming `what`.
std::uint8_t ParseByteArg(const std::string& text, std::uint32_t max, const char* what);
std::vector<std::uint8_t> ParseBytesArg(const std::vector<std::string>& texts,
                                        std::size_t max_count);

}  // namespace qvx
