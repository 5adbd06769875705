// A 32 KiB serial memory on the emulated I2C bus (the default slave at address byte 0x50).
//
// A write transfer sets the 16-bit address pointer from its first two bytes (high byte first,
// taken modulo 32 KiB) and stores the remaining bytes from the pointer on, incrementing it and
// wrapping at 32 KiB. A write of fewer than two bytes changes nothing. A read transfer returns
// bytes from the pointer on, incrementing it the same way. START and STOP do not change this.
// Content starts erased (0xFF) and survives board resets and unplugging.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "emulator/i2c_bus.h"
#include "emulator/wrapping_memory.h"

namespace emulator {

inline constexpr std::uint8_t kSerialMemoryAddress = 0x50;
inline constexpr std::size_t kSerialMemorySize = 32 * 1024;

class SerialMemory : public I2cSlave {
 public:
  SerialMemory();

  std::uint8_t Write(const std::uint8_t* data, std::size_t n, bool start, bool stop) override;
  std::uint8_t Read(std::uint8_t* data, std::size_t n, bool start, bool stop) override;

  // Direct access for tests and tools, bypassing the bus (addresses wrap at 32 KiB).
  std::vector<std::uint8_t> Peek(std::size_t address, std::size_t n) const;
  void Poke(std::size_t address, const std::vector<std::uint8_t>& bytes);
  std::size_t Pointer() const;
  void SetPointer(std::size_t address);  // modulo 32 KiB

 private:
  mutable std::mutex mutex_;  // the pointer's
  WrappingMemory cells_{kSerialMemorySize, 0xFF};
  std::size_t pointer_ = 0;
};

}  // namespace emulator
