// The system's own sleep, for the pause (platform/pause.h): Sleep() on Windows
// (platform/win32/sleep.cpp), the standard library's elsewhere (platform/sleep.cpp).
#pragma once

namespace platform {

void SleepMs(unsigned ms);

}  // namespace platform
