// Finding and opening the board among the HID devices. Every opening enumerates afresh; at most
// one device handle is open at any moment of a search, and only the kept one outlives it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/hid_backend.h"

// What FindHidDevice found.
enum FindResult : int {
  kFindFound = 0,         // a device matched; its handle is returned
  kFindStringFailed = 2,  // a string query failed on the last ID match
  kFindNotFound = 3,      // no device matched
};

// Size of the buffer a device string is received into: 256 UTF-16 code units.
inline constexpr std::size_t kHidStringBytes = 512;

// Searches for the first device whose vendor and product IDs match and, when both texts are
// given, whose manufacturer and product strings equal them exactly (8-bit characters, case
// sensitive, terminator included). `*out` (and `*path`, when given: the device path it was
// opened by) is written only when the result is kFindFound.
FindResult FindHidDevice(platform::HidBackend& backend, std::unique_ptr<platform::HidDevice>* out,
                         std::uint32_t vendor_id, const char* manufacturer,
                         std::uint32_t product_id, const char* product,
                         std::string* path = nullptr);

// Narrows the zero-terminated UTF-16 string at the start of `buffer` in place to 8-bit
// characters: units below 256 keep their low byte, others become '?'. `bytes` bounds the walk.
void NarrowHidString(void* buffer, std::size_t bytes);

// Whether an opened device carries all four marks of the board identity, compared as
// FindHidDevice compares them.
bool HasBoardIdentity(platform::HidDevice& device);

// FindHidDevice with the board identity; nullptr when the board is not found. This is what a
// board link's HidBoardOpener (link/board_link.h) runs for the first board.
std::unique_ptr<platform::HidDevice> OpenBoardDevice(platform::HidBackend& backend,
                                                     std::string* path = nullptr);
