#include "emulator/wrapping_memory.h"

#include <utility>

namespace emulator {

WrappingMemory::WrappingMemory(std::size_t size, std::uint8_t erased,
                               std::vector<std::uint8_t> content)
    : size_(size), cells_(std::move(content)) {
  cells_.resize(size, erased);
}

void WrappingMemory::Read(std::size_t address, std::uint8_t* out, std::size_t n) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (std::size_t i = 0; i < n; ++i) out[i] = cells_[(address + i) % size_];
}

void WrappingMemory::Write(std::size_t address, const std::uint8_t* in, std::size_t n) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (std::size_t i = 0; i < n; ++i) cells_[(address + i) % size_] = in[i];
}

std::vector<std::uint8_t> WrappingMemory::Peek(std::size_t address, std::size_t n) const {
  std::vector<std::uint8_t> out(n);
  Read(address, out.data(), n);
  return out;
}

void WrappingMemory::Poke(std::size_t address, const std::vector<std::uint8_t>& bytes) {
  Write(address, bytes.data(), bytes.size());
}

}  // namespace emulator
