#include "ole/object_factory.h"

#include "ole/guard.h"
#include "ole/module.h"
#include "platform/critical_section.h"

namespace ole {
namespace {

// Constant-initialised, so factories constructed before anything else still find it.
COleObjectFactory* g_head = nullptr;

platform::CriticalSection& ListLock() {
  static platform::CriticalSection lock;
  return lock;
}

}  // namespace

COleObjectFactory::COleObjectFactory(REFCLSID clsid, Creator creator, bool multiple_instances,
                                     const wchar_t* prog_id)
    : clsid_(clsid), creator_(creator), multiple_instances_(multiple_instances), prog_id_(prog_id) {
  AddRef();  // the module's
  FactoryListLock lock;
  next_ = g_head;
  g_head = this;
}

COleObjectFactory::~COleObjectFactory() {
  FactoryListLock lock;
  for (COleObjectFactory** link = &g_head; *link != nullptr; link = &(*link)->next_) {
    if (*link == this) {
      *link = next_;
      break;
    }
  }
}

InterfaceTable COleObjectFactory::Interfaces() {
  static const InterfaceEntry kTable[] = {
      OLE_INTERFACE_ENTRY(COleObjectFactory, IClassFactory, IClassFactory)};
  return {kTable, ARRAYSIZE(kTable)};
}

IFACEMETHODIMP COleObjectFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
  return ole::Guarded([&]() -> HRESULT {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    if (creator_ == nullptr) return E_NOTIMPL;
    return creator_(riid, ppv);
  });
}

IFACEMETHODIMP COleObjectFactory::LockServer(BOOL lock) {
  if (lock) {
    InterlockedIncrement(&server_locks_);
    LockModule();
    return S_OK;
  }
  // An unlock without its lock would drive the module's count below zero and keep the library
  // loaded until some later lock: it is ignored.
  LONG held = server_locks_;
  while (held > 0) {
    const LONG seen = InterlockedCompareExchange(&server_locks_, held - 1, held);
    if (seen == held) {
      UnlockModule();
      break;
    }
    held = seen;
  }
  return S_OK;
}

bool COleObjectFactory::Register() {
  if (registered_ || IsEqualCLSID(clsid_, CLSID_NULL)) return false;
  registered_ = true;
  return true;
}

void COleObjectFactory::Revoke() {
  registered_ = false;
}

COleObjectFactory* COleObjectFactory::Head() {
  return g_head;
}
void COleObjectFactory::LockList() {
  ListLock().Enter();
}
void COleObjectFactory::UnlockList() {
  ListLock().Leave();
}

BOOL COleObjectFactory::RegisterAll() {
  FactoryListLock lock;
  for (COleObjectFactory* f = g_head; f != nullptr; f = f->next_) f->Register();
  return TRUE;
}

void COleObjectFactory::RevokeAll() {
  FactoryListLock lock;
  for (COleObjectFactory* f = g_head; f != nullptr; f = f->next_) f->Revoke();
}

BOOL COleObjectFactory::UpdateRegistryAll(BOOL register_flag) {
  FactoryListLock lock;
  BOOL all = TRUE;
  for (COleObjectFactory* f = g_head; f != nullptr; f = f->next_) {
    // One factory's failure, thrown or answered, does not keep the others from their turn.
    if (!GuardedOr<BOOL>(FALSE, [&] { return f->UpdateRegistry(register_flag); })) all = FALSE;
  }
  return all;
}

HRESULT COleObjectFactory::GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  FactoryListLock lock;
  for (COleObjectFactory* f = g_head; f != nullptr; f = f->next_) {
    if (f->registered_ && IsEqualCLSID(f->clsid_, clsid)) return f->QueryInterface(riid, ppv);
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

bool COleObjectFactory::AnyFactoryHeld() {
  FactoryListLock lock;
  for (COleObjectFactory* f = g_head; f != nullptr; f = f->next_) {
    if (f->ReferenceCount() > 1) return true;
  }
  return false;
}

}  // namespace ole
