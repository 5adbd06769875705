// The creator the control's class factory calls: one new control whose board link opens through
// `opener`, queried for `riid`.
#pragma once

#include <windows.h>

class HidBoardOpener;

HRESULT CreateQelVantorixActiveXCtrl(HidBoardOpener& opener, REFIID riid, void** ppv);
