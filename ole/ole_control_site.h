// The container's side of a control as the control reads it: ambient properties.
#pragma once

#include <oleidl.h>
#include <windows.h>

namespace ole {

// Reads ambient property `dispid` from the client site's IDispatch into *value. False when the
// site has none or does not answer it.
bool GetAmbientProperty(IOleClientSite* site, DISPID dispid, VARIANT* value);

}  // namespace ole
