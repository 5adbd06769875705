// The I2C master commands: read, write, the write-read with a repeated START, and the scan.
// A transfer whose status byte is not 0 prints what it got, then ends with I2cStatus.
#include <array>
#include <cstdio>
#include <string>

#include "board/protocol.h"
#include "tools/hex_text.h"
#include "tools/qvx_actions.h"

namespace qvx {

namespace {

std::uint8_t ParseAddress(const I2cArgs& args) {
  return ParseByteArg(args.address, kMaxI2cAddress, "I2C address");
}

std::uint32_t ParseReadCount(const std::string& text) {
  std::uint32_t count = 0;
  if (!ParseCount(text, 1, board::kMaxTransferCount, &count)) {
    throw UsageError("bad count '" + text + "': expected 1.." +
                     std::to_string(board::kMaxTransferCount));
  }
  return count;
}

void RequireStatusZero(std::uint8_t address, int status) {
  if (status == 0) return;
  throw I2cStatus("I2C slave " + HexByte(address) + " answered with status " +
                  HexByte(static_cast<unsigned>(status)));
}

}  // namespace

Action MakeI2cRead(const I2cArgs& args) {
  const std::uint8_t address = ParseAddress(args);
  const std::uint32_t count = ParseReadCount(args.count);
  const bool start = !args.no_start;
  const bool stop = !args.no_stop;
  return [=](CUSBChannel& board, const Output& output) {
    std::vector<std::uint8_t> data(count);
    const int status = board.ReadI2CLongBytes(address, data.data(), count, start, stop);
    RequireAnswer(board, "answer the I2C read");
    output.out << "status " << HexByte(static_cast<unsigned>(status)) << '\n';
    HexDump(output.out, 0, data);
    RequireStatusZero(address, status);
    return 0;
  };
}

Action MakeI2cWrite(const I2cArgs& args) {
  const std::uint8_t address = ParseAddress(args);
  const std::vector<std::uint8_t> data = ParseBytesArg(args.bytes, board::kMaxTransferCount);
  const bool start = !args.no_start;
  const bool stop = !args.no_stop;
  return [=](CUSBChannel& board, const Output& output) {
    const int status = board.WriteI2CLongBytes(
        address, data.data(), static_cast<std::uint32_t>(data.size()), start, stop);
    RequireAnswer(board, "answer the I2C write: its status is unknown");
    output.out << "status " << HexByte(static_cast<unsigned>(status)) << '\n';
    RequireStatusZero(address, status);
    return 0;
  };
}

Action MakeI2cWriteRead(const I2cArgs& args) {
  const std::uint8_t address = ParseAddress(args);
  const std::vector<std::uint8_t> data = ParseBytesArg(args.bytes, board::kMaxTransferCount);
  const std::uint32_t count = ParseReadCount(args.count);
  return [=](CUSBChannel& board, const Output& output) {
    std::vector<std::uint8_t> read(count);
    const CUSBHardWare::WriteReadResult r = board.WriteReadI2C(
        address, data.data(), static_cast<std::uint32_t>(data.size()), read.data(), count);
    if (!r.answered) throw NoAnswer("board did not answer the I2C write-read");
    output.out << "write status " << HexByte(static_cast<unsigned>(r.write_status))
               << ", read status " << HexByte(static_cast<unsigned>(r.read_status)) << '\n';
    HexDump(output.out, 0, read);
    RequireStatusZero(address, r.write_status != 0 ? r.write_status : r.read_status);
    return 0;
  };
}

// A grid like i2cdetect's: a row per 16 addresses, the address where a transfer to it ended with
// status 0, "--" where it did not, blanks outside the scanned range. Every address is probed
// before anything is printed, so that a board that stops answering leaves no half grid.
Action MakeI2cScan(const I2cArgs& args) {
  const bool by_reading = args.scan_by_reading;
  return [=](CUSBChannel& board, const Output& output) {
    std::array<bool, kMaxI2cAddress + 1> answered{};
    for (unsigned address = kFirstScannedAddress; address <= kLastScannedAddress; ++address) {
      const std::uint8_t slave = static_cast<std::uint8_t>(address);
      std::uint8_t byte = 0;
      const int status = by_reading ? board.ReadI2CLongBytes(slave, &byte, 1, true, true)
                                    : board.WriteI2CLongBytes(slave, &byte, 0, true, true);
      RequireAnswer(board, "answer the scan at " + HexByte(address));
      answered[address] = status == 0;
    }
    char text[8];
    output.out << "   ";
    for (unsigned column = 0; column < 16; ++column) {
      std::snprintf(text, sizeof text, "  %x", column);
      output.out << text;
    }
    output.out << '\n';
    for (unsigned row = 0; row <= kMaxI2cAddress; row += 16) {
      std::snprintf(text, sizeof text, "%02x:", row);
      output.out << text;
      for (unsigned address = row; address < row + 16; ++address) {
        if (address < kFirstScannedAddress || address > kLastScannedAddress) {
          output.out << "   ";
        } else if (answered[address]) {
          std::snprintf(text, sizeof text, " %02x", address);
          output.out << text;
        } else {
          output.out << " --";
        }
      }
      output.out << '\n';
    }
    return 0;
  };
}

}  // namespace qvx
