#include "platform/posix/hidraw_backend.h"

namespace platform {

HidBackend& DefaultHidBackend() {
  static posix::HidrawBackend backend;
  return backend;
}

}  // namespace platform
