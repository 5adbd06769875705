// The control's own window, created on in-place activation. Its procedure hands every message
// to the control (CVisualControl::WindowMessage), which consults the control's message map first.
#pragma once

namespace ole {

// The window class of every control window of this module.
const wchar_t* ControlWindowClassName();

}  // namespace ole
