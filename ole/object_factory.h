// Class factories of the module. Each factory is a global object that links itself at the head
// of the module's factory list when constructed; the module makes the listed factories
// available at start-up (only then does DllGetClassObject hand them out) and withdraws them at
// unload. A factory lives as long as the library, so it holds one reference of its own for the
// module and it is never deleted.
#pragma once

#include <unknwn.h>
#include <windows.h>

#include "ole/com_object.h"

namespace ole {

class COleObjectFactory : public ComObject<COleObjectFactory, IClassFactory> {
 public:
  // Creates one object of the factory's class and queries it for `riid`.
  using Creator = HRESULT (*)(REFIID riid, void** ppv);

  COleObjectFactory(REFCLSID clsid, Creator creator, bool multiple_instances,
                    const wchar_t* prog_id);
  ~COleObjectFactory() override;
  COleObjectFactory(const COleObjectFactory&) = delete;
  COleObjectFactory& operator=(const COleObjectFactory&) = delete;

  // Writes (flag set) or removes (flag clear) the class's registry entries.
  virtual BOOL UpdateRegistry(BOOL register_flag) = 0;

  static InterfaceTable Interfaces();
  // The module's reference is never given up: the last Release leaves the factory in place.
  static void FinalRelease(COleObjectFactory*) {}

  // IClassFactory
  IFACEMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
  IFACEMETHODIMP LockServer(BOOL lock) override;

  const CLSID& clsid() const { return clsid_; }
  const wchar_t* prog_id() const { return prog_id_; }
  bool multiple_instances() const { return multiple_instances_; }
  bool registered() const { return registered_; }
  ULONG reference_count() const { return ReferenceCount(); }
  COleObjectFactory* next() const { return next_; }

  // Makes this factory available to DllGetClassObject / withdraws it.
  bool Register();
  void Revoke();

  // The whole list, under the list lock. Head first: the factory constructed last.
  static COleObjectFactory* Head();
  static void LockList();
  static void UnlockList();
  static BOOL RegisterAll();
  static void RevokeAll();
  // Calls UpdateRegistry on every factory, even after one has failed; TRUE when all succeeded.
  static BOOL UpdateRegistryAll(BOOL register_flag);
  // The first available factory of `clsid` answers `riid`; CLASS_E_CLASSNOTAVAILABLE otherwise.
  static HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv);
  // Whether any factory is referenced by someone besides the module.
  static bool AnyFactoryHeld();

 private:
  CLSID clsid_;
  Creator creator_;
  bool multiple_instances_;
  const wchar_t* prog_id_;
  bool registered_ = false;
  LONG server_locks_ = 0;  // LockServer(TRUE) calls not yet matched by an unlock
  COleObjectFactory* next_ = nullptr;
};

// Holds the factory list lock for one scope.
class FactoryListLock {
 public:
  FactoryListLock() { COleObjectFactory::LockList(); }
  ~FactoryListLock() { COleObjectFactory::UnlockList(); }
  FactoryListLock(const FactoryListLock&) = delete;
  FactoryListLock& operator=(const FactoryListLock&) = delete;
};

}  // namespace ole
