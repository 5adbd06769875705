#include "platform/pause.h"

#include <atomic>

#include "platform/sleep.h"

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
  SleepMs(ms);
}

}  // namespace platform
