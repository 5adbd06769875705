// The About box: dialog template 1 of the module, modal, owned by the active window.
#pragma once

namespace control {

void ShowAboutBox();

}  // namespace control
