// The module's state: its own activation context, made from the isolation manifest that the
// module carries as resource 2. Every entry point from outside (the exports, the dispatch
// methods) runs inside it, so that whatever the module loads resolves against its own manifest
// and not against the host's.
#pragma once

#include <windows.h>

#include "platform/non_copyable.h"

namespace ole {

// At start-up: creates the activation context from manifest resource 2 of `module`. A module
// without a usable manifest simply runs in the caller's context.
void CreateModuleActivationContext(HMODULE module);
// At unload: releases it.
void ReleaseModuleActivationContext();
// INVALID_HANDLE_VALUE when no context could be created.
HANDLE ModuleActivationContext();

// Activates the module's context for one scope and restores the previous one on every way out.
class ModuleStateScope : private platform::NonCopyable {
 public:
  ModuleStateScope();
  ~ModuleStateScope();

  // Whether the module's context was activated (false when the module has none).
  bool active() const { return active_; }

 private:
  ULONG_PTR cookie_ = 0;
  bool active_ = false;
};

}  // namespace ole
