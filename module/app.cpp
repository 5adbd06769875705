#include "module/app.h"

#include "control/identity.h"

CQelVantorixActiveXApp::CQelVantorixActiveXApp()
    : ole::COleControlModule(
          ole::TypeLibraryId{qvx::kLibId, qvx::kVersionMajor, qvx::kVersionMinor}) {}

BOOL CQelVantorixActiveXApp::InitInstance() {
  return ole::COleControlModule::InitInstance();
}

int CQelVantorixActiveXApp::ExitInstance() {
  return ole::COleControlModule::ExitInstance();
}
