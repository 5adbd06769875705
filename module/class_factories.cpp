#include "module/class_factories.h"

#include <olectl.h>

#include "control/ctrl_factory.h"
#include "control/identity.h"
#include "control/property_page.h"
#include "ole/module.h"
#include "ole/registration.h"

const wchar_t kQelVantorixCtrlProgId[] = L"QELVANTORIXAC.QelVantorixAcCtrl.1";
const wchar_t kQelVantorixPropPageProgId[] = L"QELVANTORIX.QelVantorixPropPage.1";

CQelVantorixActiveXCtrlFactory::CQelVantorixActiveXCtrlFactory()
    : ole::COleObjectFactory(qvx::kClsidCtrl, &CreateQelVantorixActiveXCtrl, false,
                             kQelVantorixCtrlProgId) {}

BOOL CQelVantorixActiveXCtrlFactory::UpdateRegistry(BOOL register_flag) {
  if (!register_flag) return ole::UnregisterClass(clsid(), prog_id());
  ole::ControlClassInfo info = {};
  info.module = ole::ModuleInstance();
  info.clsid = &clsid();
  info.prog_id = prog_id();
  info.type_name_id = IDS_QELVANTORIXACTIVEX;
  info.bitmap_id = IDB_QELVANTORIXACTIVEX;
  info.threading_model = ole::ThreadingModel::kApartment;
  info.misc_status = qvx::kMiscStatus;
  info.libid = &qvx::kLibId;
  info.major = qvx::kVersionMajor;
  info.minor = qvx::kVersionMinor;
  return ole::RegisterControlClass(info);
}

CQelVantorixActiveXPropPageFactory::CQelVantorixActiveXPropPageFactory()
    : ole::COleObjectFactory(qvx::kClsidPropPage, &CreateQelVantorixActiveXPropPage, false,
                             kQelVantorixPropPageProgId) {}

BOOL CQelVantorixActiveXPropPageFactory::UpdateRegistry(BOOL register_flag) {
  // The page's ProgID stays with the factory: no ProgID key is written or removed for it.
  if (!register_flag) return ole::UnregisterClass(clsid(), nullptr);
  return ole::RegisterPropertyPageClass(ole::ModuleInstance(), clsid(), IDS_QELVANTORIXACTIVEX_PPG);
}
