#include "platform/hid_backend.h"

#include <atomic>

namespace platform {

namespace {
std::atomic<HidBackend*> g_active{nullptr};
}  // namespace

HidBackend& ActiveHidBackend() {
  HidBackend* backend = g_active.load();
  return backend != nullptr ? *backend : DefaultHidBackend();
}

void SetActiveHidBackend(HidBackend* backend) {
  g_active.store(backend);
}

}  // namespace platform
