// Where the self-test finds the installed control, and how it lets script hosts create the
// emulated control of the bundle without changing the installed one.
#pragma once

#include <string>

#include "tests/selftest/selftest_plan.h"

namespace selftest {

extern const wchar_t kControlProgId[];

// The file the control's ProgID names for programs of this bitness, or "" when none does.
std::wstring InstalledControl();

// The bundle's control registered for the script hosts while the self-test runs.
// On Windows the registration is for this user only (HKEY_CURRENT_USER\Software\Classes, which
// Windows merges into HKEY_CLASSES_ROOT, ahead of the machine's): no administrator is needed,
// and the installed control's registration is left as it is. Wine's COM reads no per-user
// classes, so under Wine the bundle's control is registered for the whole prefix, and only
// where no control is installed in it.
class UserRegistration {
 public:
  UserRegistration(std::wstring ocx, std::wstring installed)
      : ocx_(std::move(ocx)), installed_(std::move(installed)) {}
  ~UserRegistration();
  UserRegistration(const UserRegistration&) = delete;
  UserRegistration& operator=(const UserRegistration&) = delete;

  // Registers the control the first time a step needs it. kPassed when it is registered, else
  // kSkipped or kFailed with the reason (the same answer on every later call).
  Verdict Ensure();
  // Removes what Ensure registered; false, with the reason, when that failed.
  bool Remove(std::string* why);

 private:
  std::wstring ocx_;
  std::wstring installed_;
  bool tried_ = false;
  bool registered_ = false;
  bool per_user_ = false;
  Verdict answer_;
};

}  // namespace selftest
