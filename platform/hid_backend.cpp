#include "platform/hid_backend.h"

#include <atomic>
#include <cctype>
#include <cstdlib>

namespace platform {

namespace {
std::atomic<HidBackend*> g_active{nullptr};

// The four hex digits after `key` (case-insensitive) in `path`; false when absent.
bool HexAfter(const std::string& path, const char* key, std::uint16_t* value) {
  std::string lower(path);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::size_t at = lower.find(key);
  constexpr std::size_t kDigits = 4;
  if (at == std::string::npos) return false;
  const std::size_t from = at + std::string(key).size();
  if (from + kDigits > lower.size()) return false;
  const std::string digits = lower.substr(from, kDigits);
  if (digits.find_first_not_of("0123456789abcdef") != std::string::npos) return false;
  *value = static_cast<std::uint16_t>(std::strtoul(digits.c_str(), nullptr, 16));
  return true;
}

}  // namespace

std::unique_ptr<HidDevice> HidBackend::OpenExplained(const std::string& path, std::string* reason) {
  std::unique_ptr<HidDevice> device = Open(path);
  if (!device && reason != nullptr) *reason = "the system refused to open it";
  return device;
}

bool HidBackend::PeekIds(const std::string& path, HidAttributes* ids) {
  HidAttributes found;
  if (!HexAfter(path, "vid_", &found.vendor_id) || !HexAfter(path, "pid_", &found.product_id)) {
    return false;
  }
  *ids = found;
  return true;
}

HidBackend& ActiveHidBackend() {
  HidBackend* backend = g_active.load();
  return backend != nullptr ? *backend : DefaultHidBackend();
}

void SetActiveHidBackend(HidBackend* backend) {
  g_active.store(backend);
}

}  // namespace platform
