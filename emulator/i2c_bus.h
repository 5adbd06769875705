// The emulated board's I2C bus: slave models attached by their address byte (the byte exactly as
// the host sends it in a transfer's parameter report).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>

namespace emulator {

// Status bytes the board reports at the end of a transfer.
inline constexpr std::uint8_t kI2cStatusOk = 0x00;
inline constexpr std::uint8_t kI2cStatusNoAck = 0x01;  // no slave answered at the address
// What a read transfer delivers for each byte when no slave drives the bus.
inline constexpr std::uint8_t kI2cIdleBusByte = 0xFF;

class I2cSlave {
 public:
  virtual ~I2cSlave() = default;
  // One transfer addressed to this slave. Each returns the status byte the board reports;
  // Read fills all `n` bytes of `data`. Called with the board's lock held.
  virtual std::uint8_t Write(const std::uint8_t* data, std::size_t n, bool start, bool stop) = 0;
  virtual std::uint8_t Read(std::uint8_t* data, std::size_t n, bool start, bool stop) = 0;
};

// Not thread-safe on its own: the board guards it.
class I2cBus {
 public:
  void Attach(std::uint8_t address, std::shared_ptr<I2cSlave> slave);
  void Detach(std::uint8_t address);
  I2cSlave* Find(std::uint8_t address) const;

  // A transfer as the board runs it: no slave at the address gives kI2cStatusNoAck, and a read
  // then delivers kI2cIdleBusByte for every byte.
  std::uint8_t Write(std::uint8_t address, const std::uint8_t* data, std::size_t n, bool start,
                     bool stop);
  std::uint8_t Read(std::uint8_t address, std::uint8_t* data, std::size_t n, bool start, bool stop);

 private:
  std::map<std::uint8_t, std::shared_ptr<I2cSlave>> slaves_;
};

}  // namespace emulator
