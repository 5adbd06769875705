#include "module/prop_page.h"

#include "control/identity.h"

CQelVantorixActiveXPropPage::CQelVantorixActiveXPropPage()
    : COlePropertyPage(IDD_PROPPAGE_QELVANTORIXACTIVEX, IDS_QELVANTORIXACTIVEX_PPG_CAPTION) {}

CLSID CQelVantorixActiveXPropPage::GetClassID() const {
  return qvx::kClsidPropPage;
}

void CQelVantorixActiveXPropPage::DoDataExchange(ole::DataExchange* pDX) {
  ole::DDP_PostProcessing(pDX);
}
