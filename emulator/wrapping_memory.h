// A byte memory whose addresses wrap at its size, as an address counter that rolls over does:
// the board's EEPROM and the serial memory on its I2C bus. Thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace emulator {

class WrappingMemory {
 public:
  // `size` bytes: `content`, then `erased` bytes for what it does not cover.
  WrappingMemory(std::size_t size, std::uint8_t erased, std::vector<std::uint8_t> content = {});

  // `n` bytes from `address` on (addresses taken modulo the size).
  void Read(std::size_t address, std::uint8_t* out, std::size_t n) const;
  void Write(std::size_t address, const std::uint8_t* in, std::size_t n);
  std::vector<std::uint8_t> Peek(std::size_t address, std::size_t n) const;
  void Poke(std::size_t address, const std::vector<std::uint8_t>& bytes);

  std::size_t size() const { return size_; }

 private:
  const std::size_t size_;
  mutable std::mutex mutex_;
  std::vector<std::uint8_t> cells_;
};

}  // namespace emulator
