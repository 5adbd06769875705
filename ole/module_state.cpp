#include "ole/module_state.h"

namespace ole {
namespace {

HANDLE g_context = INVALID_HANDLE_VALUE;

}  // namespace

void CreateModuleActivationContext(HMODULE module) {
  if (g_context != INVALID_HANDLE_VALUE) return;
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  ACTCTXW request = {};
  request.cbSize = sizeof(request);
  request.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
  request.lpSource = path;
  request.hModule = module;
  request.lpResourceName = MAKEINTRESOURCEW(2);
  g_context = CreateActCtxW(&request);
}

void ReleaseModuleActivationContext() {
  if (g_context == INVALID_HANDLE_VALUE) return;
  ReleaseActCtx(g_context);
  g_context = INVALID_HANDLE_VALUE;
}

HANDLE ModuleActivationContext() {
  return g_context;
}

ModuleStateScope::ModuleStateScope() {
  if (g_context != INVALID_HANDLE_VALUE) active_ = ActivateActCtx(g_context, &cookie_) != FALSE;
}

ModuleStateScope::~ModuleStateScope() {
  if (active_) DeactivateActCtx(0, cookie_);
}

}  // namespace ole
