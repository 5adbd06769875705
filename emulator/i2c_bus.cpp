#include "emulator/i2c_bus.h"

#include <algorithm>
#include <utility>

namespace emulator {

void I2cBus::Attach(std::uint8_t address, std::shared_ptr<I2cSlave> slave) {
  if (slave) {
    slaves_[address] = std::move(slave);
  } else {
    slaves_.erase(address);
  }
}

void I2cBus::Detach(std::uint8_t address) {
  slaves_.erase(address);
}

I2cSlave* I2cBus::Find(std::uint8_t address) const {
  const auto it = slaves_.find(address);
  return it == slaves_.end() ? nullptr : it->second.get();
}

std::uint8_t I2cBus::Write(std::uint8_t address, const std::uint8_t* data, std::size_t n,
                           bool start, bool stop) {
  I2cSlave* slave = Find(address);
  return slave == nullptr ? kI2cStatusNoAck : slave->Write(data, n, start, stop);
}

std::uint8_t I2cBus::Read(std::uint8_t address, std::uint8_t* data, std::size_t n, bool start,
                          bool stop) {
  I2cSlave* slave = Find(address);
  if (slave == nullptr) {
    std::fill_n(data, n, kI2cIdleBusByte);
    return kI2cStatusNoAck;
  }
  return slave->Read(data, n, start, stop);
}

}  // namespace emulator
