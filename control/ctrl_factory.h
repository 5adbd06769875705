// The creator the control's class factory calls: one new control, queried for `riid`.
#pragma once

#include <windows.h>

HRESULT CreateQelVantorixActiveXCtrl(REFIID riid, void** ppv);
