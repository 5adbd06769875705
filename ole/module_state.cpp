#include "ole/module_state.h"

#include "ole/module_path.h"

namespace ole {
namespace {

HANDLE g_context = INVALID_HANDLE_VALUE;

}  // namespace

void CreateModuleActivationContext(HMODULE module) {
  if (g_context != INVALID_HANDLE_VALUE) return;
  wchar_t path[MAX_PATH];
  if (!ModuleFilePath(module, path)) return;
  ACTCTXW request = {};
  request.cbSize = sizeof(request);
  request.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
  request.lpSource = path;
  request.hModule = module;
  request.lpResourceName = ISOLATIONAWARE_MANIFEST_RESOURCE_ID;
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
