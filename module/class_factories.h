// The module's two class factories: the control's and its property page's.
#pragma once

#include "ole/object_factory.h"

class CQelVantorixActiveXCtrlFactory : public ole::COleObjectFactory {
 public:
  CQelVantorixActiveXCtrlFactory();
  BOOL UpdateRegistry(BOOL register_flag) override;
};

class CQelVantorixActiveXPropPageFactory : public ole::COleObjectFactory {
 public:
  CQelVantorixActiveXPropPageFactory();
  BOOL UpdateRegistry(BOOL register_flag) override;
};

extern const wchar_t kQelVantorixCtrlProgId[];
extern const wchar_t kQelVantorixPropPageProgId[];
