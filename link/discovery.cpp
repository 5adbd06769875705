#include "link/discovery.h"

#include <cstring>
#include <string>

#include "board/board_identity.h"

namespace {

enum class StringMatch { kQueryFailed, kDiffers, kMatches };

// Reads one device string into `buffer` with `query`, narrows it and compares it with
// `expected`.
template <typename Query>
StringMatch MatchString(Query query, std::uint8_t (&buffer)[kHidStringBytes],
                        const char* expected) {
  std::memset(buffer, 0, sizeof buffer);
  if (!query(reinterpret_cast<char16_t*>(buffer), sizeof buffer)) return StringMatch::kQueryFailed;
  NarrowHidString(buffer, sizeof buffer);
  // Exact comparison up to and including the terminator.
  return std::strcmp(reinterpret_cast<const char*>(buffer), expected) == 0 ? StringMatch::kMatches
                                                                           : StringMatch::kDiffers;
}

}  // namespace

void NarrowHidString(void* buffer, std::size_t bytes) {
  auto* const bytes_in = static_cast<std::uint8_t*>(buffer);
  const std::size_t units = bytes / 2;
  if (units == 0) return;
  std::size_t i = 0;
  // Byte i is written after unit i (bytes 2i, 2i+1) has been read, so the output never overtakes
  // the input. A string that fills the buffer without a terminator is cut before the last unit.
  for (; i + 1 < units; ++i) {
    const unsigned unit = bytes_in[2 * i] | (bytes_in[2 * i + 1] << 8);  // UTF-16LE
    if (unit == 0) break;
    bytes_in[i] = unit < 256 ? static_cast<std::uint8_t>(unit) : '?';
  }
  bytes_in[i] = 0;
}

bool HasBoardIdentity(platform::HidDevice& device) {
  platform::HidAttributes attributes;
  if (!device.GetAttributes(&attributes)) return false;
  if (attributes.vendor_id != board_identity::kVendorId ||
      attributes.product_id != board_identity::kProductId) {
    return false;
  }
  std::uint8_t buffer[kHidStringBytes];
  platform::HidDevice* d = &device;
  return MatchString([d](char16_t* b, std::size_t n) { return d->GetManufacturerString(b, n); },
                     buffer, board_identity::kManufacturer) == StringMatch::kMatches &&
         MatchString([d](char16_t* b, std::size_t n) { return d->GetProductString(b, n); }, buffer,
                     board_identity::kProduct) == StringMatch::kMatches;
}

FindResult FindHidDevice(platform::HidBackend& backend, std::unique_ptr<platform::HidDevice>* out,
                         std::uint32_t vendor_id, const char* manufacturer,
                         std::uint32_t product_id, const char* product, std::string* path) {
  FindResult result = kFindNotFound;
  std::unique_ptr<platform::HidDevice> held;
  std::string held_path;
  std::uint8_t buffer[kHidStringBytes];

  std::unique_ptr<platform::HidEnumeration> devices = backend.Enumerate();
  for (unsigned index = 0; devices != nullptr; ++index) {
    held.reset();  // close the device examined in the previous pass before opening the next

    const platform::InterfaceStatus status = devices->InterfacePath(index, &held_path);
    if (status == platform::InterfaceStatus::kEnd) break;
    if (status == platform::InterfaceStatus::kUnreadable) continue;

    held = backend.Open(held_path);
    if (!held) continue;

    platform::HidAttributes attributes;
    if (!held->GetAttributes(&attributes)) continue;
    if (attributes.vendor_id != vendor_id || attributes.product_id != product_id) continue;

    result = kFindNotFound;
    if (manufacturer == nullptr || product == nullptr) break;  // the IDs alone decide

    platform::HidDevice* device = held.get();
    const StringMatch maker = MatchString(
        [device](char16_t* b, std::size_t n) { return device->GetManufacturerString(b, n); },
        buffer, manufacturer);
    if (maker == StringMatch::kQueryFailed) result = kFindStringFailed;
    if (maker != StringMatch::kMatches) continue;

    const StringMatch name =
        MatchString([device](char16_t* b, std::size_t n) { return device->GetProductString(b, n); },
                    buffer, product);
    if (name == StringMatch::kQueryFailed) result = kFindStringFailed;
    if (name == StringMatch::kMatches) break;
  }
  devices.reset();  // release the device information set

  if (held) {
    *out = std::move(held);
    if (path != nullptr) *path = held_path;
    return kFindFound;
  }
  return result;
}

std::unique_ptr<platform::HidDevice> OpenBoardDevice(platform::HidBackend& backend,
                                                     std::string* path) {
  // The expected texts live in zero-filled 255-character buffers, copied with a bound.
  char manufacturer[255] = {};
  char product[255] = {};
  std::strncpy(manufacturer, board_identity::kManufacturer, sizeof manufacturer - 1);
  std::strncpy(product, board_identity::kProduct, sizeof product - 1);

  std::unique_ptr<platform::HidDevice> handle;
  if (FindHidDevice(backend, &handle, board_identity::kVendorId, manufacturer,
                    board_identity::kProductId, product, path) != kFindFound) {
    return nullptr;
  }
  return handle;
}
