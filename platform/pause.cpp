#include "platform/pause.h"

#include <atomic>

#if defined(_WIN32)
#include <windows.h>
#else
#include <chrono>
#include <thread>
#endif

namespace platform {

namespace {
PauseHook g_hook = nullptr;
void* g_context = nullptr;
std::atomic<bool> g_sleeps{true};
}  // namespace

void SetPauseHook(PauseHook hook, void* context) {
  g_hook = hook;
  g_context = context;
}

void SetPauseSleeps(bool sleeps) {
  g_sleeps.store(sleeps);
}

void PauseMs(unsigned ms) {
  if (g_hook != nullptr) g_hook(ms, g_context);
  if (!g_sleeps.load()) return;
#if defined(_WIN32)
  Sleep(ms);
#else
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
#endif
}

}  // namespace platform
