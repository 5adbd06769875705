#include "control/about_box.h"

#include <windows.h>

#include "ole/dialog.h"

namespace control {
namespace {

constexpr UINT kAboutDialog = 1;

}  // namespace

void ShowAboutBox() {
  // No parent: the dialog is owned by the thread's active top-level window, disabled meanwhile.
  ole::CDialog about(kAboutDialog);
  about.DoModal();
}

}  // namespace control
