#include "control/about_box.h"

#include <windows.h>

#include "control/identity.h"
#include "ole/dialog.h"

namespace control {

void ShowAboutBox() {
  // No parent: the dialog is owned by the thread's active top-level window, disabled meanwhile.
  ole::CDialog about(IDD_ABOUTBOX_QELVANTORIXACTIVEX);
  about.DoModal();
}

}  // namespace control
