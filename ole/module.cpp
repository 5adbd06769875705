// The module object, the library's entry point and its four exports.
#include "ole/module.h"

#include <olectl.h>

#include "ole/guard.h"
#include "ole/module_path.h"
#include "ole/module_state.h"
#include "ole/object_factory.h"
#include "ole/raii.h"
#include "ole/registration.h"
#include "platform/critical_section.h"

namespace ole {
namespace {

COleControlModule* g_module = nullptr;
HMODULE g_instance = nullptr;
LONG g_live_objects = 0;

// The type library, loaded on first use and kept until unload.
// A raw pointer on purpose: a holder would release it from the static destructors at process
// exit, when oleaut32 may already be gone. DllMain releases it at an ordinary unload.
struct TypeLibCache {
  platform::CriticalSection lock;
  ITypeLib* type_lib = nullptr;
};

TypeLibCache& Cache() {
  static TypeLibCache cache;
  return cache;
}

void ReleaseCachedTypeLib() {
  TypeLibCache& cache = Cache();
  platform::CsLock hold(cache.lock);
  if (cache.type_lib != nullptr) {
    cache.type_lib->Release();
    cache.type_lib = nullptr;
  }
}

}  // namespace

COleControlModule::COleControlModule(const TypeLibraryId& type_library)
    : type_library_(type_library) {
  g_module = this;
}

COleControlModule::~COleControlModule() {
  if (g_module == this) g_module = nullptr;
}

BOOL COleControlModule::InitInstance() {
  return COleObjectFactory::RegisterAll();
}

int COleControlModule::ExitInstance() {
  COleObjectFactory::RevokeAll();
  return 0;
}

COleControlModule* ControlModule() {
  return g_module;
}
HMODULE ModuleInstance() {
  if (g_instance != nullptr) return g_instance;
  HMODULE module = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&ModuleInstance), &module);
  return module;
}

void LockModule() {
  InterlockedIncrement(&g_live_objects);
}
void UnlockModule() {
  InterlockedDecrement(&g_live_objects);
}
LONG LiveObjectCount() {
  return InterlockedCompareExchange(&g_live_objects, 0, 0);
}

HRESULT LoadModuleTypeLib(LCID lcid, ITypeLib** type_lib) {
  if (type_lib == nullptr) return E_POINTER;
  *type_lib = nullptr;
  if (g_module == nullptr) return E_UNEXPECTED;
  TypeLibCache& cache = Cache();
  platform::CsLock hold(cache.lock);
  if (cache.type_lib == nullptr) {
    const TypeLibraryId& id = g_module->type_library();
    HRESULT hr = LoadRegTypeLib(id.libid, id.major, id.minor, lcid, &cache.type_lib);
    if (FAILED(hr)) {
      // Not registered (or registered elsewhere): the library carries its own copy.
      wchar_t path[MAX_PATH];
      if (!ModuleFilePath(g_instance, path)) return hr;
      hr = LoadTypeLib(path, &cache.type_lib);
      if (FAILED(hr)) {
        cache.type_lib = nullptr;
        return hr;
      }
    }
  }
  cache.type_lib->AddRef();
  *type_lib = cache.type_lib;
  return S_OK;
}

HRESULT LoadTypeInfoOfGuid(REFGUID guid, ITypeInfo** type_info, LCID lcid) {
  if (type_info == nullptr) return E_POINTER;
  *type_info = nullptr;
  ComPtr<ITypeLib> type_lib;
  const HRESULT hr = LoadModuleTypeLib(lcid, type_lib.Put());
  if (FAILED(hr)) return hr;
  return type_lib->GetTypeInfoOfGuid(guid, type_info);
}

}  // namespace ole

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      ole::g_instance = instance;
      DisableThreadLibraryCalls(instance);
      ole::CreateModuleActivationContext(instance);
      if (ole::g_module != nullptr) {
        ole::ModuleStateScope state;
        return ole::g_module->InitInstance();
      }
      return TRUE;
    case DLL_PROCESS_DETACH:
      if (ole::g_module != nullptr) ole::g_module->ExitInstance();
      // At process exit other libraries may already be gone: leave the cache to the system.
      if (reserved == nullptr) ole::ReleaseCachedTypeLib();
      ole::ReleaseModuleActivationContext();
      return TRUE;
    default:
      return TRUE;
  }
}

STDAPI DllRegisterServer() {
  ole::ModuleStateScope state;
  const ole::COleControlModule* module = ole::ControlModule();
  if (module == nullptr) return E_UNEXPECTED;
  if (!ole::GuardedOr(false, [&] {
        return ole::RegisterModuleTypeLib(ole::ModuleInstance(), module->type_library().libid);
      })) {
    return SELFREG_E_TYPELIB;
  }
  if (!ole::COleObjectFactory::UpdateRegistryAll(TRUE)) return SELFREG_E_CLASS;
  return S_OK;
}

STDAPI DllUnregisterServer() {
  ole::ModuleStateScope state;
  const ole::COleControlModule* module = ole::ControlModule();
  if (module == nullptr) return E_UNEXPECTED;
  const ole::TypeLibraryId& id = module->type_library();
  if (!ole::GuardedOr(false,
                      [&] { return ole::UnregisterModuleTypeLib(id.libid, id.major, id.minor); })) {
    return SELFREG_E_TYPELIB;
  }
  if (!ole::COleObjectFactory::UpdateRegistryAll(FALSE)) return SELFREG_E_CLASS;
  return S_OK;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* ppv) {
  ole::ModuleStateScope state;
  return ole::Guarded([&] { return ole::COleObjectFactory::GetClassObject(clsid, riid, ppv); });
}

STDAPI DllCanUnloadNow() {
  ole::ModuleStateScope state;
  ole::FactoryListLock lock;
  if (ole::LiveObjectCount() != 0 || ole::COleObjectFactory::AnyFactoryHeld()) return S_FALSE;
  return S_OK;
}
