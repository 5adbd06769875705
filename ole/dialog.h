// Modal dialogs from the module's dialog templates, and the module's resources.
#pragma once

#include <windows.h>

#include <string>

namespace ole {

// String resource `id` of ModuleInstance(); empty when there is none.
std::wstring LoadModuleString(UINT id);

// A dialog on a template of ModuleInstance(), run modally.
class CDialog {
 public:
  explicit CDialog(UINT template_id, HWND parent = nullptr)
      : template_id_(template_id), parent_(parent) {}
  virtual ~CDialog() = default;
  CDialog(const CDialog&) = delete;
  CDialog& operator=(const CDialog&) = delete;

  // Runs the dialog until OK (or Enter), Cancel (Escape, the close box) ends it. The owner is
  // the parent given, else the thread's active top-level window; it is disabled while the dialog
  // is open. Returns the button that ended it, or -1 when the dialog could not be created.
  INT_PTR DoModal();

  // The owner DoModal would use now.
  HWND OwnerWindow() const;

 protected:
  virtual BOOL OnInitDialog(HWND) { return TRUE; }

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  static INT_PTR HandleMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

  UINT template_id_;
  HWND parent_;
};

}  // namespace ole
