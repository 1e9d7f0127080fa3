// The Info page: its dialog of contact texts and its fonts.
#include "ui/device/InfoPP.h"

#include "include/ProgramIds.h"
#include "ui/device/ControlNameTables.h"
#include "ui/device/DevicePage.h"

namespace {

constexpr UINT kDialogId = 151;
constexpr UINT kTitleId = 144;
constexpr UINT kHelpId = 145;
constexpr UINT kDocId = 146;

SPropertyPageClass InfoClass() {
  SPropertyPageClass c;
  c.clsid = CLSID_InfoPP;
  c.parameterMap = &CInfoPP::GetParameterMap;
  c.dialogId = kDialogId;
  c.controlNames = vkr::dui::kInfoControlNames;
  c.titleId = kTitleId;
  c.helpFileId = kHelpId;
  c.docStringId = kDocId;
  return c;
}

}  // namespace

CInfoPP::CInfoPP() : CovFDT_PropertyPageImpl(InfoClass()) {}

CActXParInfo* CInfoPP::GetParameterMap(int* count, BOOL copy) { return EmptyParameterMap(count, copy); }


HRESULT CInfoPP::InitializeUI(IUnknown* dtm, VARIANT_BOOL* ok) {
  // The fonts go with the page (a second start replaces them).
  m_fontHeading.Create("Tahoma", 15, 600);
  m_fontText.Create("Tahoma", 14, 0);
  m_fontBold.Create("Tahoma", 14, 600);
  m_fontHeading.SetOn(m_hWndDialog, {696});
  m_fontBold.SetOn(m_hWndDialog, {558, 560, 569, 570});
  m_fontText.SetOn(m_hWndDialog, {561, 563, 565, 567, 568});
  return CovFDT_PropertyPageImpl::InitializeUI(dtm, ok);
}
