#include "platform/hid_backend.h"

namespace platform {

std::unique_ptr<HidDevice> HidBackend::OpenExplained(const std::string& path, std::string* reason) {
  std::unique_ptr<HidDevice> device = Open(path);
  if (!device && reason != nullptr) *reason = "the system refused to open it";
  return device;
}

bool HidBackend::PeekIds(const std::string&, HidAttributes*) {
  return false;
}

bool HidBackend::PeekPlacement(const std::string&, std::string*, std::string*) {
  return false;
}

InUse HidBackend::InUseElsewhere(const std::string&) {
  return InUse::kCannotTell;
}

std::string HidBackend::SetupFailure() const {
  return std::string();
}

}  // namespace platform
