#include "emulator/model_slaves.h"

#include <algorithm>
#include <utility>

namespace emulator {

namespace {

void PutU16(std::vector<std::uint8_t>* out, unsigned v) {
  out->push_back(static_cast<std::uint8_t>(v & 0xFF));
  out->push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}

unsigned GetU16(const std::vector<std::uint8_t>& in, std::size_t at) {
  return static_cast<unsigned>(in[at]) | (static_cast<unsigned>(in[at + 1]) << 8);
}

unsigned BigEndian(const std::uint8_t* data, unsigned bytes) {
  unsigned v = 0;
  for (unsigned i = 0; i < bytes; ++i) v = (v << 8) | data[i];
  return v;
}

}  // namespace

bool ModelSlave::Acknowledges() {
  if (faults_.nack_while_unpowered && powered_ && !powered_()) return false;
  if (refused_ < faults_.nack_first) {
    ++refused_;
    return false;
  }
  return true;
}

std::uint8_t ModelSlave::Write(const std::uint8_t* data, std::size_t n, bool, bool) {
  if (!Acknowledges()) return kI2cStatusNoAck;
  DoWrite(data, n);
  return faults_.status.value_or(kI2cStatusOk);
}

std::uint8_t ModelSlave::Read(std::uint8_t* data, std::size_t n, bool, bool) {
  if (!Acknowledges()) {
    std::fill_n(data, n, kI2cIdleBusByte);
    return kI2cStatusNoAck;
  }
  DoRead(data, n);
  return faults_.status.value_or(kI2cStatusOk);
}

// --- memory -----------------------------------------------------------------------------------

ModelMemory::ModelMemory(MemorySpec spec, SlaveFaults faults)
    : ModelSlave(faults), spec_(std::move(spec)) {
  spec_.content.resize(spec_.size, 0xFF);
}

void ModelMemory::DoWrite(const std::uint8_t* data, std::size_t n) {
  if (n < spec_.address_bytes) return;  // an address probe, or half an address
  pointer_ = BigEndian(data, spec_.address_bytes) % spec_.size;
  const std::size_t page = pointer_ - pointer_ % spec_.page_size;
  std::size_t offset = pointer_ - page;
  for (std::size_t i = spec_.address_bytes; i < n; ++i) {
    if (!spec_.write_protect) spec_.content[page + offset] = data[i];
    offset = (offset + 1) % spec_.page_size;  // a page write wraps inside its page
  }
  pointer_ = page + offset;
}

void ModelMemory::DoRead(std::uint8_t* data, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    data[i] = spec_.content[pointer_];
    pointer_ = (pointer_ + 1) % spec_.size;
  }
}

std::vector<std::uint8_t> ModelMemory::SaveState() const {
  std::vector<std::uint8_t> out;
  out.reserve(2 + spec_.size);
  PutU16(&out, static_cast<unsigned>(pointer_));
  out.insert(out.end(), spec_.content.begin(), spec_.content.end());
  return out;
}

bool ModelMemory::LoadState(const std::vector<std::uint8_t>& bytes) {
  if (bytes.size() != 2 + spec_.size || GetU16(bytes, 0) >= spec_.size) return false;
  pointer_ = GetU16(bytes, 0);
  std::copy(bytes.begin() + 2, bytes.end(), spec_.content.begin());
  return true;
}

// --- register file ----------------------------------------------------------------------------

ModelRegisters::ModelRegisters(RegistersSpec spec, SlaveFaults faults)
    : ModelSlave(faults), spec_(std::move(spec)) {
  for (const RegisterSpec& r : spec_.registers) cells_[r.at] = Cell{r, r.value, 0};
}

unsigned ModelRegisters::NextValue(unsigned at) {
  const auto it = cells_.find(at);
  if (it == cells_.end()) return 0;  // no register there: reads 0
  Cell& c = it->second;
  const unsigned mask = spec_.width == 2 ? 0xFFFF : 0xFF;
  if (!c.spec.values.empty()) {
    const unsigned v = c.spec.values[c.next];
    c.next = (c.next + 1) % c.spec.values.size();
    return v & mask;
  }
  const unsigned v = c.value & mask;
  if (c.spec.step) c.value = (c.value + *c.spec.step) & mask;
  return v;
}

void ModelRegisters::Store(unsigned at, unsigned value) {
  const auto it = cells_.find(at);
  if (it == cells_.end()) return;  // no register there
  Cell& c = it->second;
  if (c.spec.read_only || !c.spec.values.empty() || c.spec.step) return;
  c.value = value;
}

void ModelRegisters::Advance() {
  if (!spec_.auto_increment) return;
  const unsigned limit = spec_.pointer_bytes == 2 ? 0x10000 : 0x100;
  pointer_ = (pointer_ + 1) % limit;
}

void ModelRegisters::DoWrite(const std::uint8_t* data, std::size_t n) {
  if (n < spec_.pointer_bytes) return;  // an address probe, or half a pointer
  pointer_ = BigEndian(data, spec_.pointer_bytes);
  for (std::size_t i = spec_.pointer_bytes; i + spec_.width <= n; i += spec_.width) {
    unsigned v = data[i];
    if (spec_.width == 2) {
      v = spec_.big_endian ? (static_cast<unsigned>(data[i]) << 8) | data[i + 1]
                           : (static_cast<unsigned>(data[i + 1]) << 8) | data[i];
    }
    Store(pointer_, v);
    Advance();
  }
}

void ModelRegisters::DoRead(std::uint8_t* data, std::size_t n) {
  for (std::size_t i = 0; i < n;) {
    const unsigned v = NextValue(pointer_);
    if (spec_.width == 1) {
      data[i++] = static_cast<std::uint8_t>(v);
    } else {
      const std::uint8_t high = static_cast<std::uint8_t>(v >> 8);
      const std::uint8_t low = static_cast<std::uint8_t>(v);
      data[i++] = spec_.big_endian ? high : low;
      if (i < n) data[i++] = spec_.big_endian ? low : high;
    }
    Advance();
  }
}

std::vector<std::uint8_t> ModelRegisters::SaveState() const {
  std::vector<std::uint8_t> out;
  PutU16(&out, pointer_);
  for (const auto& [at, c] : cells_) {
    PutU16(&out, at);
    PutU16(&out, c.value);
    PutU16(&out, static_cast<unsigned>(c.next));
  }
  return out;
}

bool ModelRegisters::LoadState(const std::vector<std::uint8_t>& bytes) {
  constexpr std::size_t kPerCell = 6;
  if (bytes.size() != 2 + kPerCell * cells_.size()) return false;
  const unsigned limit = spec_.pointer_bytes == 2 ? 0x10000 : 0x100;
  if (GetU16(bytes, 0) >= limit) return false;
  std::size_t at = 2;
  for (const auto& [address, c] : cells_) {
    if (GetU16(bytes, at) != address) return false;
    const std::size_t next = GetU16(bytes, at + 4);
    if (next != 0 && next >= c.spec.values.size()) return false;
    at += kPerCell;
  }
  pointer_ = GetU16(bytes, 0);
  at = 2;
  for (auto& [address, c] : cells_) {
    c.value = GetU16(bytes, at + 2);
    c.next = GetU16(bytes, at + 4);
    at += kPerCell;
  }
  return true;
}

std::uint8_t AbsentSlave::Read(std::uint8_t* data, std::size_t n, bool, bool) {
  std::fill_n(data, n, kI2cIdleBusByte);
  return kI2cStatusNoAck;
}

}  // namespace emulator
