#include "emulator/board_state_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "platform/output_file.h"

namespace emulator {

namespace {

constexpr std::uint8_t kInputKey1 = 1u << 0;  // keys 1..3: this bit shifted by key - 1
constexpr std::uint8_t kInputInt = 1u << 3;
constexpr std::uint8_t kInputBits = 0x0F;
constexpr std::uint32_t kCrcPolynomial = 0xEDB88320u;  // reflected IEEE 802.3

void PutLe(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t GetLe(const std::vector<std::uint8_t>& in, std::size_t at, std::size_t n) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < n; ++i) value |= static_cast<std::uint32_t>(in[at + i]) << (8 * i);
  return value;
}

std::string Quoted(const std::string& file) {
  return "'" + file + "'";
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

std::uint32_t Crc32(const std::uint8_t* data, std::size_t n) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < n; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (kCrcPolynomial & (0u - (crc & 1u)));
  }
  return ~crc;
}

std::vector<std::uint8_t> EncodeBoardState(const BoardState& state) {
  std::vector<std::uint8_t> out(kStateFileSize, 0);
  std::memcpy(out.data() + kStateMagicAt, kStateMagic, kStateMagicSize);
  PutLe(out, kStateVersionAt, state.slaves.empty() ? kStateVersion : kStateVersionSlaves, 2);
  out[kStateSpeedAt] = state.speed_code;
  std::uint8_t inputs = state.int_high ? kInputInt : 0;
  for (std::size_t k = 0; k < state.keys.size(); ++k) {
    if (state.keys[k]) inputs |= static_cast<std::uint8_t>(kInputKey1 << k);
  }
  out[kStateInputsAt] = inputs;
  const bool selected = state.channel != kNoChannel;
  out[kStateChannelSelectedAt] = selected ? 1 : 0;
  out[kStateChannelAt] = selected ? static_cast<std::uint8_t>(state.channel) : 0;
  PutLe(out, kStatePointerAt, static_cast<std::uint32_t>(state.serial_pointer), 2);
  std::copy(state.lines.begin(), state.lines.end(), out.begin() + kStateLinesAt);
  std::copy(state.eeprom.begin(), state.eeprom.end(), out.begin() + kStateEepromAt);
  std::copy(state.serial_memory.begin(), state.serial_memory.end(), out.begin() + kStateMemoryAt);
  if (!state.slaves.empty()) {
    out.resize(kStateSlavesAt + 2);
    PutLe(out, kStateSlavesAt, static_cast<std::uint32_t>(state.slaves.size()), 2);
    for (const auto& [address, bytes] : state.slaves) {
      const std::size_t at = out.size();
      out.resize(at + 5);
      out[at] = address;
      PutLe(out, at + 1, static_cast<std::uint32_t>(bytes.size()), 4);
      out.insert(out.end(), bytes.begin(), bytes.end());
    }
    out.resize(out.size() + 4);
  }
  const std::size_t crc_at = out.size() - 4;
  PutLe(out, crc_at, Crc32(out.data(), crc_at), 4);
  return out;
}

namespace {

// The modelled slaves of a version 2 file, from kStateSlavesAt up to the CRC; throws
// UsageError when they do not fill that space exactly.
std::map<std::uint8_t, std::vector<std::uint8_t>> DecodeSlaves(const std::vector<std::uint8_t>& in,
                                                               const std::string& file) {
  const std::string damaged = Quoted(file) + " is damaged: bad modelled slave section";
  const std::size_t end = in.size() - 4;
  if (end < kStateSlavesAt + 2) throw StateFileError(damaged, true);
  const std::size_t count = GetLe(in, kStateSlavesAt, 2);
  if (count == 0) throw StateFileError(damaged, true);
  std::map<std::uint8_t, std::vector<std::uint8_t>> slaves;
  std::size_t at = kStateSlavesAt + 2;
  for (std::size_t i = 0; i < count; ++i) {
    if (end - at < 5) throw StateFileError(damaged, true);
    const std::uint8_t address = in[at];
    const std::size_t length = GetLe(in, at + 1, 4);
    at += 5;
    if (length > end - at || slaves.count(address) != 0) throw StateFileError(damaged, true);
    slaves[address].assign(in.begin() + static_cast<std::ptrdiff_t>(at),
                           in.begin() + static_cast<std::ptrdiff_t>(at + length));
    at += length;
  }
  if (at != end) throw StateFileError(damaged, true);
  return slaves;
}

}  // namespace

BoardState DecodeBoardState(const std::vector<std::uint8_t>& in, const std::string& file) {
  if (in.size() < kStateMagicSize ||
      std::memcmp(in.data() + kStateMagicAt, kStateMagic, kStateMagicSize) != 0) {
    throw StateFileError(Quoted(file) + " is not an emulated-board state file (bad header)", true);
  }
  if (in.size() < kStateVersionAt + 2) {
    throw StateFileError(Quoted(file) + " is truncated: " + std::to_string(in.size()) +
                             " bytes, a state file holds " + std::to_string(kStateFileSize),
                         true);
  }
  const std::uint32_t version = GetLe(in, kStateVersionAt, 2);
  if (version != kStateVersion && version != kStateVersionSlaves) {
    throw StateFileError(Quoted(file) + " is a state file of version " + std::to_string(version) +
                             "; this emulator reads versions 1 and 2",
                         true);
  }
  const bool v2 = version == kStateVersionSlaves;
  if (v2 && in.size() < kStateFileSize) {
    throw StateFileError(Quoted(file) + " is truncated: " + std::to_string(in.size()) + " bytes",
                         true);
  }
  if (v2 && GetLe(in, in.size() - 4, 4) != Crc32(in.data(), in.size() - 4)) {
    throw StateFileError(Quoted(file) + " is damaged: its checksum does not match its content",
                         true);
  }
  if (!v2 && in.size() != kStateFileSize) {
    throw StateFileError(Quoted(file) + " is " +
                             (in.size() < kStateFileSize ? "truncated" : "damaged") + ": " +
                             std::to_string(in.size()) + " bytes, a state file holds " +
                             std::to_string(kStateFileSize),
                         true);
  }
  if (!v2 && GetLe(in, kStateCrcAt, 4) != Crc32(in.data(), kStateCrcAt)) {
    throw StateFileError(Quoted(file) + " is damaged: its checksum does not match its content",
                         true);
  }

  // A matching checksum over out-of-range fields means a file written by something else.
  const std::uint8_t inputs = in[kStateInputsAt];
  const std::uint8_t selected = in[kStateChannelSelectedAt];
  const std::uint32_t pointer = GetLe(in, kStatePointerAt, 2);
  const char* bad = (inputs & ~kInputBits) != 0                          ? "inputs"
                    : selected > 1 || (!selected && in[kStateChannelAt]) ? "expander channel"
                    : pointer >= kSerialMemorySize                       ? "serial memory pointer"
                                                                         : nullptr;
  if (bad != nullptr) {
    throw StateFileError(Quoted(file) + " is damaged: bad " + bad + " field", true);
  }

  BoardState state;
  state.speed_code = in[kStateSpeedAt];
  for (std::size_t k = 0; k < state.keys.size(); ++k) state.keys[k] = (inputs >> k) & kInputKey1;
  state.int_high = (inputs & kInputInt) != 0;
  state.channel = selected ? in[kStateChannelAt] : kNoChannel;
  state.serial_pointer = pointer;
  std::copy_n(in.begin() + kStateLinesAt, state.lines.size(), state.lines.begin());
  state.eeprom.assign(in.begin() + kStateEepromAt, in.begin() + kStateMemoryAt);
  state.serial_memory.assign(in.begin() + kStateMemoryAt, in.begin() + kStateCrcAt);
  if (v2) state.slaves = DecodeSlaves(in, file);
  return state;
}

std::optional<BoardState> LoadStateFile(const std::string& file) {
  errno = 0;
  File f(std::fopen(file.c_str(), "rb"));
  if (!f) {
    if (errno == ENOENT) return std::nullopt;
    throw StateFileError("cannot read state file " + Quoted(file) + ": " + std::strerror(errno),
                         true);
  }
  // Read in pieces, and no further than one byte past the largest state file.
  constexpr std::size_t kLargest = kStateFileSize + 2 + 128 * (5 + kStateMaxSlaveBytes);
  std::vector<std::uint8_t> bytes;
  std::uint8_t piece[64 * 1024];
  std::size_t n = 0;
  while (bytes.size() <= kLargest && (n = std::fread(piece, 1, sizeof piece, f.get())) > 0) {
    bytes.insert(bytes.end(), piece, piece + n);
  }
  if (std::ferror(f.get())) {
    throw StateFileError("cannot read state file " + Quoted(file) + ": " + std::strerror(errno),
                         true);
  }
  return DecodeBoardState(bytes, file);
}

void SaveStateFile(const std::string& file, const BoardState& state) {
  const std::vector<std::uint8_t> bytes = EncodeBoardState(state);
  const std::string temporary = file + ".tmp";
  errno = 0;
  File f(std::fopen(temporary.c_str(), "wb"));
  if (!f) {
    throw StateFileError(
        "cannot write state file " + Quoted(temporary) + ": " + std::strerror(errno), false);
  }
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f.get()) == bytes.size();
  const bool closed = std::fclose(f.release()) == 0;
  if (!written || !closed) {
    const int error = errno;
    std::remove(temporary.c_str());
    throw StateFileError(
        "cannot write state file " + Quoted(temporary) + ": " + std::strerror(error), false);
  }
  std::string failure;
  if (!platform::MoveOver(temporary, file, &failure)) {
    std::remove(temporary.c_str());
    throw StateFileError("cannot replace state file " + Quoted(file) + ": " + failure, false);
  }
}

}  // namespace emulator
