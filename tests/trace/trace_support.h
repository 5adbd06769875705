// What the trace tests share: an output in memory that can run out of room, a device that
// logs what really crossed it, and readers for the two trace formats that know nothing of the
// writers (they follow the file formats, not the code).
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "board/protocol.h"
#include "platform/hid_device.h"
#include "platform/output_file.h"
#include "tests/support/byte_pattern.h"
#include "tests/support/forwarding_device.h"

namespace testing_support {

// Keeps what is written in `*data`. A write that would take it beyond `capacity` bytes fails
// and stores nothing (a full disk); after that failure, `room_after` more bytes fit (something
// else freed a little).
class MemoryOutput : public platform::OutputFile {
 public:
  MemoryOutput(std::string* data, std::size_t capacity, int* flushes, std::size_t room_after = 0)
      : data_(data), capacity_(capacity), flushes_(flushes), room_after_(room_after) {}
  bool Write(const void* bytes, std::size_t n) override {
    if (data_->size() + n > capacity_) {
      if (!failed_) capacity_ = data_->size() + room_after_;
      failed_ = true;
      return false;
    }
    data_->append(static_cast<const char*>(bytes), n);
    return true;
  }
  bool Flush() override {
    ++*flushes_;
    return true;
  }

 private:
  std::string* data_;
  std::size_t capacity_;
  int* flushes_;
  std::size_t room_after_;
  bool failed_ = false;
};

// One report that crossed the device: written by the host, or read by it.
struct Crossed {
  bool out;
  Bytes report;
  bool operator==(const Crossed& o) const { return out == o.out && report == o.report; }
};

// Passes everything to `inner` and logs every report written and every report read.
class LoggingDevice : public ForwardingDevice {
 public:
  LoggingDevice(std::unique_ptr<platform::HidDevice> inner, std::vector<Crossed>* log)
      : ForwardingDevice(std::move(inner)), log_(log) {}
  bool WriteReport(const std::uint8_t (&report)[platform::kReportSize]) override {
    const bool ok = ForwardingDevice::WriteReport(report);
    if (ok) log_->push_back({true, Bytes(report, report + platform::kReportSize)});
    return ok;
  }
  platform::ReadResult ReadReport(std::uint8_t (&report)[platform::kReportSize],
                                  unsigned timeout_ms) override {
    const platform::ReadResult r = ForwardingDevice::ReadReport(report, timeout_ms);
    if (r == platform::ReadResult::kOk) {
      log_->push_back({false, Bytes(report, report + platform::kReportSize)});
    }
    return r;
  }

 private:
  std::vector<Crossed>* log_;
};

// ---- pcapng, read by the letter of the format (little-endian files only) ----

struct PcapngPacket {
  std::uint32_t interface_id = 0;
  std::uint64_t micros = 0;
  Bytes data;
  std::string comment;
};

struct Pcapng {
  std::vector<std::uint16_t> link_types;  // one per interface block, in order
  std::vector<PcapngPacket> packets;
  std::vector<std::string> section_comments;
  std::string problem;  // empty when every block was whole and well formed
};

inline std::uint32_t Le32(const std::string& s, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<std::uint8_t>(s[at + i]);
  return v;
}
inline std::uint16_t Le16(const std::string& s, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<std::uint8_t>(s[at]) |
                                    (static_cast<std::uint8_t>(s[at + 1]) << 8));
}

// Options from `at` to `end`: code -> value (the last one of a code wins).
inline std::map<std::uint16_t, std::string> PcapngOptions(const std::string& s, std::size_t at,
                                                          std::size_t end) {
  std::map<std::uint16_t, std::string> options;
  while (at + 4 <= end) {
    const std::uint16_t code = Le16(s, at);
    const std::uint16_t length = Le16(s, at + 2);
    if (code == 0) break;
    options[code] = s.substr(at + 4, length);
    at += 4 + ((length + 3u) & ~3u);
  }
  return options;
}

inline Pcapng ReadPcapng(const std::string& file) {
  Pcapng p;
  std::size_t at = 0;
  while (at < file.size()) {
    if (at + 12 > file.size()) {
      p.problem = "a block is cut short at " + std::to_string(at);
      break;
    }
    const std::uint32_t type = Le32(file, at);
    const std::uint32_t length = Le32(file, at + 4);
    if (length < 12 || length % 4 || at + length > file.size() ||
        Le32(file, at + length - 4) != length) {
      p.problem = "a block of bad length at " + std::to_string(at);
      break;
    }
    const std::size_t body = at + 8;
    const std::size_t end = at + length - 4;
    if (type == 0x0A0D0D0A) {
      if (Le32(file, body) != 0x1A2B3C4D) p.problem = "byte-order magic";
      const auto options = PcapngOptions(file, body + 16, end);
      if (options.count(1)) p.section_comments.push_back(options.at(1));
    } else if (type == 1) {
      p.link_types.push_back(Le16(file, body));
    } else if (type == 6) {
      PcapngPacket packet;
      packet.interface_id = Le32(file, body);
      packet.micros =
          (static_cast<std::uint64_t>(Le32(file, body + 4)) << 32) | Le32(file, body + 8);
      const std::uint32_t captured = Le32(file, body + 12);
      packet.data.assign(file.begin() + static_cast<long>(body + 20),
                         file.begin() + static_cast<long>(body + 20 + captured));
      const auto options = PcapngOptions(file, body + 20 + ((captured + 3u) & ~3u), end);
      if (options.count(1)) packet.comment = options.at(1);
      p.packets.push_back(packet);
    }
    at += length;
  }
  return p;
}

// The fields of a USBPcap packet that the tests look at.
struct UsbPcapView {
  std::uint32_t status;
  std::uint8_t endpoint;
  std::uint8_t transfer;
  Bytes report;  // what follows the pseudo-header
};
inline UsbPcapView ViewUsb(const PcapngPacket& packet) {
  const std::string d(packet.data.begin(), packet.data.end());
  const std::uint16_t header = Le16(d, 0);
  return {Le32(d, 10), static_cast<std::uint8_t>(d[21]), static_cast<std::uint8_t>(d[22]),
          Bytes(packet.data.begin() + header, packet.data.end())};
}

// ---- the text trace ----

// The fields of one command line: "time", "duration", "name", the key=value fields by key,
// and the verdict under "verdict".
inline std::map<std::string, std::string> TextFields(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  int depth = 0;
  for (char c : line) {
    if (c == '[') ++depth;
    if (c == ']') --depth;
    if (c == ' ' && depth == 0) {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(word);
  std::map<std::string, std::string> fields;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::size_t eq = words[i].find('=');
    if (i == 0) {
      fields["time"] = words[i];
    } else if (i == 1) {
      fields["duration"] = words[i];
    } else if (i == 2) {
      fields["name"] = words[i];
    } else if (eq != std::string::npos) {
      fields[words[i].substr(0, eq)] = words[i].substr(eq + 1);
    } else {
      fields["verdict"] = words[i];
    }
  }
  return fields;
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t nl = text.find('\n', at);
    lines.push_back(text.substr(at, nl == std::string::npos ? std::string::npos : nl - at));
    if (nl == std::string::npos) break;
    at = nl + 1;
  }
  return lines;
}

// "[01 02 ... 3 more]" for the bytes, as a reader of the trace writes them out by hand.
inline std::string HexRun(const Bytes& bytes, std::size_t shown = 16) {
  std::string text = "[";
  for (std::size_t i = 0; i < bytes.size() && i < shown; ++i) {
    char pair[4];
    std::snprintf(pair, sizeof pair, i ? " %02x" : "%02x", bytes[i]);
    text += pair;
  }
  if (bytes.size() > shown) text += " ... " + std::to_string(bytes.size() - shown) + " more";
  return text + "]";
}

}  // namespace testing_support
