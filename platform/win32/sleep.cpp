#include "platform/sleep.h"

#include <windows.h>

namespace platform {

void SleepMs(unsigned ms) {
  Sleep(ms);
}

}  // namespace platform
