#include "module/class_factories.h"

#include <oleauto.h>
#include <olectl.h>

#include <string>

#include "control/ctrl_factory.h"
#include "control/identity.h"
#include "control/property_page.h"
#include "link/board_link.h"
#include "ole/module.h"
#include "ole/raii.h"
#include "ole/registration.h"

const wchar_t kQelVantorixCtrlProgId[] = L"QELVANTORIXAC.QelVantorixAcCtrl.1";
const wchar_t kQelVantorixPropPageProgId[] = L"QELVANTORIX.QelVantorixPropPage.1";

namespace {

// The refusal as the caller's error object (what a script host shows as the error's
// description) and on the debugger output.
void ReportSetupFailure(const std::string& why) {
  const std::string line = "QelVantorixActiveX: " + why;
  OutputDebugStringA((line + "\n").c_str());
  const int units = MultiByteToWideChar(CP_UTF8, 0, line.c_str(), -1, nullptr, 0);
  if (units <= 0) return;
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, line.c_str(), -1, &wide[0], units);
  ole::ComPtr<ICreateErrorInfo> create;
  if (FAILED(CreateErrorInfo(create.Put()))) return;
  create->SetGUID(IID_IClassFactory);
  create->SetSource(const_cast<LPOLESTR>(kQelVantorixCtrlProgId));
  create->SetDescription(&wide[0]);
  ole::ComPtr<IErrorInfo> info;
  if (SUCCEEDED(info.QueryFrom(create.Get(), IID_IErrorInfo))) SetErrorInfo(0, info.Get());
}

// A HID back end that could not be set up as asked (the emulated build given a board model or
// state file it cannot use) refuses the control, so that nothing runs against the wrong board.
// Every control of the module opens its board through the build's default wiring.
HRESULT CreateCtrl(REFIID riid, void** ppv) {
  HidBoardOpener& opener = DefaultBoardOpener();
  const std::string why = opener.Backend().SetupFailure();
  if (!why.empty()) {
    ReportSetupFailure(why);
    return E_FAIL;
  }
  return CreateQelVantorixActiveXCtrl(opener, riid, ppv);
}

}  // namespace

CQelVantorixActiveXCtrlFactory::CQelVantorixActiveXCtrlFactory()
    : ole::COleObjectFactory(qvx::kClsidCtrl, &CreateCtrl, false, kQelVantorixCtrlProgId) {}

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
