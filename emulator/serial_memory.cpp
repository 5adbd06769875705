#include "emulator/serial_memory.h"

namespace emulator {

SerialMemory::SerialMemory() : cells_(kSerialMemorySize, 0xFF) {}

std::uint8_t SerialMemory::Write(const std::uint8_t* data, std::size_t n, bool, bool) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (n < 2) return kI2cStatusOk;  // an address probe, or half an address: nothing happens
  pointer_ = ((static_cast<std::size_t>(data[0]) << 8) | data[1]) % kSerialMemorySize;
  for (std::size_t i = 2; i < n; ++i) {
    cells_[pointer_] = data[i];
    pointer_ = (pointer_ + 1) % kSerialMemorySize;
  }
  return kI2cStatusOk;
}

std::uint8_t SerialMemory::Read(std::uint8_t* data, std::size_t n, bool, bool) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (std::size_t i = 0; i < n; ++i) {
    data[i] = cells_[pointer_];
    pointer_ = (pointer_ + 1) % kSerialMemorySize;
  }
  return kI2cStatusOk;
}

std::vector<std::uint8_t> SerialMemory::Peek(std::size_t address, std::size_t n) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::uint8_t> out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = cells_[(address + i) % kSerialMemorySize];
  return out;
}

void SerialMemory::Poke(std::size_t address, const std::vector<std::uint8_t>& bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    cells_[(address + i) % kSerialMemorySize] = bytes[i];
  }
}

std::size_t SerialMemory::Pointer() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return pointer_;
}

void SerialMemory::SetPointer(std::size_t address) {
  std::lock_guard<std::mutex> lock(mutex_);
  pointer_ = address % kSerialMemorySize;
}

}  // namespace emulator
