// The creator the property page's class factory calls.
#pragma once

#include <windows.h>

HRESULT CreateQelVantorixActiveXPropPage(REFIID riid, void** ppv);
