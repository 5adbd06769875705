// The module object: one per library. It knows the module's instance handle and its type
// library, counts the live objects that keep the library loaded, makes the class factories
// available at start-up and withdraws them at unload.
#pragma once

#include <oaidl.h>
#include <windows.h>

namespace ole {

struct TypeLibraryId {
  GUID libid;
  WORD major;
  WORD minor;
};

class COleControlModule {
 public:
  explicit COleControlModule(const TypeLibraryId& type_library);
  virtual ~COleControlModule();
  COleControlModule(const COleControlModule&) = delete;
  COleControlModule& operator=(const COleControlModule&) = delete;

  // Start-up, after the module's instance handle is known: makes every factory available that
  // is not yet available and has a class identifier. Returns TRUE.
  virtual BOOL InitInstance();
  // Unload: withdraws every factory. Returns 0.
  virtual int ExitInstance();

  const TypeLibraryId& type_library() const { return type_library_; }

 private:
  TypeLibraryId type_library_;
};

// The library's module object (null before it is constructed).
COleControlModule* ControlModule();
// The module that holds this code, where its dialog templates, strings, type library and window
// class live: the library's instance handle from its entry point on, or the program that links
// the framework directly.
HMODULE ModuleInstance();

// The count of live objects (controls, pages, factory locks). While it is not zero,
// DllCanUnloadNow answers S_FALSE.
void LockModule();
void UnlockModule();
LONG LiveObjectCount();

// Counts its owner as a live object of the module for the owner's lifetime: hold one as a member.
class ModuleObjectLock {
 public:
  ModuleObjectLock() { LockModule(); }
  ~ModuleObjectLock() { UnlockModule(); }
  ModuleObjectLock(const ModuleObjectLock&) = delete;
  ModuleObjectLock& operator=(const ModuleObjectLock&) = delete;
};

// The module's type library: LoadRegTypeLib(libid, major, minor, lcid) and, failing that (for
// instance while the library is not registered), LoadTypeLib on the module's own file. Loaded
// once and kept until unload. The result is AddRef'ed for the caller.
HRESULT LoadModuleTypeLib(LCID lcid, ITypeLib** type_lib);
// The type information of one interface or coclass of the module's type library.
HRESULT LoadTypeInfoOfGuid(REFGUID guid, ITypeInfo** type_info, LCID lcid = 0);

}  // namespace ole
