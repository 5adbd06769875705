// clang-format off
// Where a Windows test program finds what it needs, decided when it runs: CTest runs the
// programs in the build tree, and the self-test bundle runs copies of them on a PC that never
// saw the build. Each place is taken from the first of: a flag on the program's command line,
// an environment variable, a default below the program's own folder.
//
//   what                     flag                 variable           default (below it)
//   the emulated OCX         --qvx-ocx=PATH       QVX_TEST_OCX       QelVantorixActiveX.ocx
//   the product OCX          --qvx-real-ocx=PATH  QVX_TEST_REAL_OCX  product\QelVantorixActiveX.ocx
//   the data folder          --qvx-data=DIR       QVX_TEST_DATA      data
//   programs a test starts   --qvx-programs=DIR   QVX_TEST_PROGRAMS  (the folder itself)
//
// Files in the data folder, named relative to it:
//   emulator.md   docs/emulator.md of the sources; emulated_model_test runs its model examples.
// Programs a test starts:
//   qvx.exe, served_board_client.exe   served_board_test.
//
// GoogleTest leaves flags that do not begin with --gtest_ alone, so the flags go beside its own.
// clang-format on
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "this_process.h"  // ProgramFolder(), OnWine()

namespace test_files {

// A file or folder, and where its name came from: the flag ("--qvx-ocx"), the variable
// ("QVX_TEST_OCX") or "the default".
struct Location {
  std::wstring path;  // full, with back slashes
  std::string origin;
  // "PATH (from ORIGIN)", for messages.
  std::string Describe() const;
};

Location EmulatedOcx();
Location RealOcx();
Location DataFolder();
// `name` (relative, from the list above) in the data folder.
Location DataFile(const wchar_t* name);
// `name` (from the list above) in the programs folder.
Location Program(const wchar_t* name);

// True when `where` names an existing file; otherwise adds a test failure that names the file
// (`what` says what it is) and where its name came from.
bool Present(const Location& where, const char* what);

// In the system's ANSI code page, for the narrow file functions.
std::string Narrow(const std::wstring& text);

// Whether this process's token holds the Administrators group as enabled.
bool IsAdministrator();

}  // namespace test_files

// Skips the rest of a test outside Wine: for a check of behaviour that Wine has and Windows
// documents otherwise (docs/selftest.md lists each, with the difference).
#define QVX_WINE_ONLY(reason)                                             \
  do {                                                                    \
    if (!::test_files::OnWine()) GTEST_SKIP() << "Wine only: " << reason; \
  } while (0)

// Skips the rest of a test for a user who is no administrator: for a test that writes what only
// an administrator may (under Wine the user always is).
#define QVX_NEEDS_ADMIN(reason)                                                                 \
  do {                                                                                          \
    if (!::test_files::IsAdministrator()) GTEST_SKIP() << "needs an administrator: " << reason; \
  } while (0)
