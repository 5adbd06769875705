// The marks by which the board is told apart from every other HID device. All four must match.
#pragma once

#include <cstdint>

namespace board_identity {

inline constexpr std::uint32_t kVendorId = 0x04B4;
inline constexpr std::uint32_t kProductId = 0xE006;
inline constexpr char kManufacturer[] = "Qelvantorix Ltd";  // 15 characters
inline constexpr char kProduct[] = "KovalmiretteV4";

static_assert(sizeof kManufacturer == 16, "the manufacturer text has 15 characters");

}  // namespace board_identity
