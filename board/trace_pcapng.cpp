#include "board/trace_pcapng.h"

#include <cstdio>

#include "board/trace_text.h"

namespace board {

namespace {

constexpr std::uint32_t kSectionHeaderBlock = 0x0A0D0D0A;
constexpr std::uint32_t kInterfaceBlock = 1;
constexpr std::uint32_t kEnhancedPacketBlock = 6;
constexpr std::uint32_t kByteOrderMagic = 0x1A2B3C4D;
constexpr std::uint16_t kOptEnd = 0;
constexpr std::uint16_t kOptComment = 1;
constexpr std::uint16_t kShbUserAppl = 4;
constexpr std::uint16_t kIfName = 2;
constexpr std::uint16_t kIfDescription = 3;
constexpr std::uint16_t kIfTsResol = 9;
constexpr std::uint8_t kMicroseconds = 6;

constexpr std::uint16_t kUsbPcapHeaderSize = 27;
constexpr std::uint16_t kUrbBulkOrInterruptTransfer = 0x0009;
constexpr std::uint8_t kUsbPcapInfoFromDevice = 1;
constexpr std::uint8_t kUsbTransferInterrupt = 1;
constexpr std::uint16_t kUsbBus = 1;
constexpr std::uint16_t kUsbDevice = 1;
constexpr std::uint32_t kI2cReadFlag = 1;  // I2C_M_RD

// Little-endian fields (the file's byte order is the writer's; this one always writes LE).
void Put16(std::string& b, std::uint16_t v) {
  b += static_cast<char>(v);
  b += static_cast<char>(v >> 8);
}
void Put32(std::string& b, std::uint32_t v) {
  Put16(b, static_cast<std::uint16_t>(v));
  Put16(b, static_cast<std::uint16_t>(v >> 16));
}
void Put64(std::string& b, std::uint64_t v) {
  Put32(b, static_cast<std::uint32_t>(v));
  Put32(b, static_cast<std::uint32_t>(v >> 32));
}
void Pad(std::string& b) {
  while (b.size() % 4) b += '\0';
}
void Option(std::string& b, std::uint16_t code, const std::string& value) {
  Put16(b, code);
  Put16(b, static_cast<std::uint16_t>(value.size()));
  b += value;
  Pad(b);
}

// A whole block of `type` around `body` (already padded).
void Block(std::string& to, std::uint32_t type, const std::string& body) {
  const auto length = static_cast<std::uint32_t>(body.size() + 12);
  Put32(to, type);
  Put32(to, length);
  to += body;
  Put32(to, length);
}

void Interface(std::string& to, std::uint16_t link_type, const std::string& name,
               const std::string& description) {
  std::string body;
  Put16(body, link_type);
  Put16(body, 0);  // reserved
  Put32(body, 0);  // no snap length
  Option(body, kIfName, name);
  if (!description.empty()) Option(body, kIfDescription, description);
  Option(body, kIfTsResol, std::string(1, static_cast<char>(kMicroseconds)));
  Put16(body, kOptEnd);
  Put16(body, 0);
  Block(to, kInterfaceBlock, body);
}

void Packet(std::string& to, std::uint32_t interface, std::uint64_t micros, const std::string& data,
            const std::string& comment) {
  std::string body;
  Put32(body, interface);
  Put32(body, static_cast<std::uint32_t>(micros >> 32));
  Put32(body, static_cast<std::uint32_t>(micros));
  Put32(body, static_cast<std::uint32_t>(data.size()));
  Put32(body, static_cast<std::uint32_t>(data.size()));
  body += data;
  Pad(body);
  if (!comment.empty()) {
    Option(body, kOptComment, comment);
    Put16(body, kOptEnd);
    Put16(body, 0);
  }
  Block(to, kEnhancedPacketBlock, body);
}

// USBPcap's pseudo-header of an interrupt transfer, then the report.
std::string UsbPacket(std::uint64_t irp, const TracedReport& r, std::uint32_t status) {
  const bool carries = r.out || r.fate == ReportFate::kDone;
  std::string data;
  Put16(data, kUsbPcapHeaderSize);
  Put64(data, irp);
  Put32(data, status);
  Put16(data, kUrbBulkOrInterruptTransfer);
  data += static_cast<char>(r.out ? 0 : kUsbPcapInfoFromDevice);
  Put16(data, kUsbBus);
  Put16(data, kUsbDevice);
  data += static_cast<char>(r.out ? kTraceEndpointOut : kTraceEndpointIn);
  data += static_cast<char>(kUsbTransferInterrupt);
  Put32(data, carries ? static_cast<std::uint32_t>(kReportSize) : 0);
  if (carries) data.append(reinterpret_cast<const char*>(r.bytes.data()), r.bytes.size());
  return data;
}

}  // namespace

std::string PcapngTraceFormat::Header(const TraceOrigin& origin, const std::string& program,
                                      const std::string& board_path) {
  std::string body;
  Put32(body, kByteOrderMagic);
  Put16(body, 1);  // version 1.0
  Put16(body, 0);
  Put64(body, ~std::uint64_t{0});  // section length not given
  Option(
      body, kOptComment,
      "qvx trace " + TraceDate(origin) + " board=" + (board_path.empty() ? "(none)" : board_path));
  Option(body, kShbUserAppl, program);
  Put16(body, kOptEnd);
  Put16(body, 0);
  std::string file;
  Block(file, kSectionHeaderBlock, body);
  Interface(file, kLinkTypeUsbPcap, "board-hid", board_path);
  Interface(file, kLinkTypeI2cLinux, "board-i2c", "");
  return file;
}

std::string PcapngTraceFormat::BoardRecord(const TraceOrigin&, const std::string&, TraceTime) {
  return std::string();  // the header named the board; pcapng has no record for a reopening
}

std::string PcapngTraceFormat::CommandRecord(const TraceOrigin& origin,
                                             const TracedCommand& command,
                                             const CommandDescription& what) {
  std::string blocks;
  bool first = true;
  bool unsent_shown = false;
  for (const TracedReport& r : command.reports) {
    std::uint32_t status = 0;
    std::string comment;
    if (r.fate == ReportFate::kNoBoard) {
      if (unsent_shown) continue;  // one packet stands for the command that never left
      unsent_shown = true;
      status = kUsbdStatusDeviceGone;
    } else if (r.fate == ReportFate::kFailed) {
      status = r.out ? kUsbdStatusRequestFailed : kUsbdStatusDeviceGone;
      comment = r.out ? "write failed" : "read failed";
    } else if (r.fate == ReportFate::kTimedOut) {
      status = kUsbdStatusCanceled;
      comment = "no answer within " + std::to_string(kAnswerTimeoutMs) + " ms";
    }
    if (first) {
      // The first packet of a command says what the command was and how it ended.
      const std::string summary = TraceCommandSummary(command, what);
      comment = comment.empty() ? summary : summary + "; " + comment;
      first = false;
    }
    Packet(blocks, 0, origin.WallMicros(r.at), UsbPacket(++irp_, r, status), comment);
  }
  const bool on_bus = command.verdict != CommandVerdict::kNoBoard &&
                      command.verdict != CommandVerdict::kNoTurn &&
                      command.verdict != CommandVerdict::kWriteFailed;
  if (what.i2c && on_bus) {
    std::string data;
    data += '\0';  // bus 0, a data packet (bit 7 clear)
    const std::uint32_t flags = what.i2c_read ? kI2cReadFlag : 0;
    for (int shift = 24; shift >= 0; shift -= 8) data += static_cast<char>(flags >> shift);
    // The address byte as it travels: the 7-bit address, then R/W (1 = read).
    data += static_cast<char>((what.slave << 1) | (what.i2c_read ? 1 : 0));
    const std::vector<std::uint8_t>& bytes = what.i2c_read ? what.read : what.written;
    data.append(bytes.begin(), bytes.end());
    char comment[32];
    if (what.has_status) {
      std::snprintf(comment, sizeof comment, "status 0x%02x", what.status);
    } else {
      std::snprintf(comment, sizeof comment, "no answer");
    }
    Packet(blocks, 1, origin.WallMicros(command.ended), data, comment);
  }
  return blocks;
}

std::string PcapngTraceFormat::StopNote(const TraceOrigin&, TraceTime) {
  // A section header of its own: readers take it as the start of a new, empty section, and
  // its comment tells why nothing follows.
  std::string body;
  Put32(body, kByteOrderMagic);
  Put16(body, 1);
  Put16(body, 0);
  Put64(body, ~std::uint64_t{0});
  Option(body, kOptComment, "trace stopped: the file could not be written");
  Put16(body, kOptEnd);
  Put16(body, 0);
  std::string block;
  Block(block, kSectionHeaderBlock, body);
  return block;
}

}  // namespace board
