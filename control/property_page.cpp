// The property page object, and the control's list of its pages.
#include "control/property_page.h"

#include <new>

#include "control/identity.h"
#include "control/qel_vantorix_ctrl.h"
#include "ole/com_object.h"

HRESULT CreateQelVantorixActiveXPropPage(REFIID riid, void** ppv) {
  return ole::CreateAndQuery(new (std::nothrow) CQelVantorixActiveXPropPage, riid, ppv);
}

CQelVantorixActiveXPropPage::CQelVantorixActiveXPropPage()
    : COlePropertyPage(IDD_PROPPAGE_QELVANTORIXACTIVEX, IDS_QELVANTORIXACTIVEX_PPG_CAPTION) {}

CLSID CQelVantorixActiveXPropPage::GetClassID() const {
  return qvx::kClsidPropPage;
}

void CQelVantorixActiveXPropPage::DoDataExchange(ole::DataExchange* pDX) {
  ole::DDP_PostProcessing(pDX);
}

std::vector<CLSID> CQelVantorixActiveXCtrl::PropertyPageIds() const {
  return {qvx::kClsidPropPage};
}
