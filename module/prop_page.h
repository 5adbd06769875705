// The control's one property page, "General": a picture on dialog 200, no fields.
#pragma once

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
