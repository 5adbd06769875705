// The board protocol's only pause (after an EEPROM page write), behind a hook so that tests can
// observe where it happens instead of measuring it.
#pragma once

namespace platform {

// Suspends the calling thread for `ms` milliseconds (Sleep on Windows).
void PauseMs(unsigned ms);

// Tests may observe every pause: the hook runs before the pause itself, on the pausing thread.
// Pass nullptr to remove it. Not thread-safe against concurrent PauseMs calls; install it
// before the threads start.
using PauseHook = void (*)(unsigned ms, void* context);
void SetPauseHook(PauseHook hook, void* context);

// Benchmarks only: with false, PauseMs still runs the hook but no longer sleeps, so the host-side
// cost of a command can be measured without its pause. Pass true to restore.
void SetPauseSleeps(bool sleeps);

}  // namespace platform
