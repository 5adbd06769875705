// CQelVantorixActiveXApp: the module object of QelVantorixActiveX.ocx.
#pragma once

#include "ole/module.h"

class CQelVantorixActiveXApp : public ole::COleControlModule {
 public:
  CQelVantorixActiveXApp();

  BOOL InitInstance() override;
  int ExitInstance() override;
};

extern CQelVantorixActiveXApp theApp;
