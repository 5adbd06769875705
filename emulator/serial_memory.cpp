#include "emulator/serial_memory.h"

namespace emulator {

SerialMemory::SerialMemory() = default;

std::uint8_t SerialMemory::Write(const std::uint8_t* data, std::size_t n, bool, bool) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (n < 2) return kI2cStatusOk;  // an address probe, or half an address: nothing happens
  pointer_ = ((static_cast<std::size_t>(data[0]) << 8) | data[1]) % kSerialMemorySize;
  cells_.Write(pointer_, data + 2, n - 2);
  pointer_ = (pointer_ + n - 2) % kSerialMemorySize;
  return kI2cStatusOk;
}

std::uint8_t SerialMemory::Read(std::uint8_t* data, std::size_t n, bool, bool) {
  std::lock_guard<std::mutex> lock(mutex_);
  cells_.Read(pointer_, data, n);
  pointer_ = (pointer_ + n) % kSerialMemorySize;
  return kI2cStatusOk;
}

std::vector<std::uint8_t> SerialMemory::Peek(std::size_t address, std::size_t n) const {
  return cells_.Peek(address, n);
}

void SerialMemory::Poke(std::size_t address, const std::vector<std::uint8_t>& bytes) {
  cells_.Poke(address, bytes);
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
