// Self-registration: the registry entries of a control class, of a property page class and of
// the type library, and their removal. All keys live under HKEY_CLASSES_ROOT unless a test
// passes another root.
#pragma once

#include <windows.h>

namespace ole {

// One row of a registration template: a sub-key (empty: the key itself) and the text of its
// default value, with %1..%9 standing for the symbols passed alongside.
struct RegistryTemplateRow {
  const wchar_t* sub_key;
  const wchar_t* value;
};

// Writes the rows in order with RegSetValueW under `key`. Stops at the first failure; a failure
// with ERROR_ACCESS_DENIED counts as success (the caller goes on as if the rows were written).
bool WriteRegistryTemplate(HKEY key, const RegistryTemplateRow* rows, size_t row_count,
                           const wchar_t* const* symbols, size_t symbol_count);

// Expands %1..%9 in `pattern` with `symbols` (a missing symbol expands to nothing).
// Returns the number of characters written, excluding the terminator; the result is
// truncated to fit `size`.
size_t ExpandTemplate(const wchar_t* pattern, const wchar_t* const* symbols, size_t symbol_count,
                      wchar_t* out, size_t size);

enum class ThreadingModel { kNone, kApartment };

struct ControlClassInfo {
  HMODULE module;
  const CLSID* clsid;
  const wchar_t* prog_id;
  UINT type_name_id;  // string resource
  UINT bitmap_id;     // toolbox bitmap resource
  ThreadingModel threading_model;
  DWORD misc_status;
  const GUID* libid;
  WORD major;
  WORD minor;
};

// The ProgID and class templates with "ThreadingModel".
bool RegisterControlClass(const ControlClassInfo& info, HKEY root = HKEY_CLASSES_ROOT);
// The class key with its name and the server path only.
bool RegisterPropertyPageClass(HMODULE module, REFCLSID clsid, UINT type_name_id,
                               HKEY root = HKEY_CLASSES_ROOT);
// Removes a class and its ProgID (when not null or empty); a class that also carries a 16-bit
// "InprocServer" key only loses its "InprocServer32" and "ToolboxBitmap32". On 64-bit Windows
// the ProgID, which both registry views share, stays while the other view still has the class.
bool UnregisterClass(REFCLSID clsid, const wchar_t* prog_id, HKEY root = HKEY_CLASSES_ROOT);

// Loads the type library from the module's file, checks its identifier and registers it.
bool RegisterModuleTypeLib(HMODULE module, REFGUID libid);
// Removes this build's platform registration ("win32" or "win64") from every version and locale
// of a type library: a locale where another platform's registration remains keeps it, a version
// or the library key goes once nothing of it remains. Then, when the deletion succeeded and this
// platform's registration of `major`.`minor` is gone, the interfaces of this registry view.
bool UnregisterModuleTypeLib(REFGUID libid, WORD major, WORD minor, HKEY root = HKEY_CLASSES_ROOT);

// Braced GUID text ("{...}", 38 characters); false unless it comes out that long.
bool GuidToText(REFGUID guid, wchar_t (&text)[39]);

// Deletes `sub_key` of `parent` with everything below it. Finding nothing to delete counts as
// success.
bool DeleteKeyTree(HKEY parent, const wchar_t* sub_key);

}  // namespace ole
