// The control's one property page, "General": a picture on dialog 200, no fields. It lives
// beside the About box: both are the control's dialogs on the module's templates.
#pragma once

#include <windows.h>

#include "ole/module.h"
#include "ole/property_page.h"

class CQelVantorixActiveXPropPage : public ole::COlePropertyPage {
 public:
  CQelVantorixActiveXPropPage();

  CLSID GetClassID() const override;

 protected:
  void DoDataExchange(ole::DataExchange* pDX) override;

 private:
  ole::ModuleObjectLock module_lock_;  // a live page keeps the library loaded
};

// The creator the page's class factory calls: one new page, queried for `riid`.
HRESULT CreateQelVantorixActiveXPropPage(REFIID riid, void** ppv);
