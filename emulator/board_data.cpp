#include "emulator/board_data.h"

#include "board/board_identity.h"

namespace emulator {

namespace {

std::u16string Widen(const char* text) {
  std::u16string out;
  for (; *text != 0; ++text) out.push_back(static_cast<unsigned char>(*text));
  return out;
}

constexpr unsigned kOwnBlockBase = 0xA5A0;

}  // namespace

SensorBlock DefaultSensorBlock(int channel) {
  SensorBlock block{};
  for (std::size_t k = 0; k < board::kSensorValueCount; ++k) {
    const unsigned value = channel == kOwnSensorBlock
                               ? kOwnBlockBase + static_cast<unsigned>(k)
                               : (static_cast<unsigned>(channel & 0xFF) << 8) + k;
    block[2 * k] = static_cast<std::uint8_t>(value >> 8);
    block[2 * k + 1] = static_cast<std::uint8_t>(value);
  }
  return block;
}

BoardData::BoardData()
    : vendor_id(static_cast<std::uint16_t>(board_identity::kVendorId)),
      product_id(static_cast<std::uint16_t>(board_identity::kProductId)),
      manufacturer(Widen(board_identity::kManufacturer)),
      product(Widen(board_identity::kProduct)) {}

platform::EmulatedDeviceDescription HidDescriptionOf(const BoardData& data) {
  platform::EmulatedDeviceDescription d;
  d.path = data.path;
  d.vendor_id = data.vendor_id;
  d.product_id = data.product_id;
  d.manufacturer = data.manufacturer;
  d.product = data.product;
  d.serial = data.serial;
  d.location = data.location;
  return d;
}

}  // namespace emulator
