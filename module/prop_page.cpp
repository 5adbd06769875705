#include "module/prop_page.h"

#include "module/guids.h"

namespace {

constexpr UINT kPageDialog = 200;
constexpr UINT kPageCaption = 200;  // "General"

}  // namespace

CQelVantorixActiveXPropPage::CQelVantorixActiveXPropPage()
    : COlePropertyPage(kPageDialog, kPageCaption) {}

CLSID CQelVantorixActiveXPropPage::GetClassID() const {
  return qvx::kClsidPropPage;
}

void CQelVantorixActiveXPropPage::DoDataExchange(ole::DataExchange* pDX) {
  ole::DDP_PostProcessing(pDX);
}
