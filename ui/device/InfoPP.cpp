// The Info page: its dialog of contact texts and its fonts.
#include "ui/device/InfoPP.h"

#include "include/ProgramIds.h"
#include "ui/device/DevicePage.h"

namespace {

constexpr UINT kDialogId = 151;
constexpr UINT kTitleId = 144;
constexpr UINT kHelpId = 145;
constexpr UINT kDocId = 146;

// The texts are placeholders of a maker's contact data; the about paragraphs stay hidden.
constexpr const char kTemplate[] = R"(
151 DIALOGEX 0, 0, 320, 200
STYLE DS_CONTROL | WS_CHILD
FONT 8, "MS Sans Serif"
BEGIN
  GROUPBOX "Contact", 696, 7, 5, 306, 120
  LTEXT "Vorntec Instruments", 558, 16, 22, 140, 10
  LTEXT "Vorntec Instruments", 560, 165, 22, 140, 10
  LTEXT "Head office and sales", 561, 16, 40, 140, 10
  LTEXT "Service and support", 563, 165, 40, 140, 10
  LTEXT "sales@vorntec.example", 565, 16, 58, 140, 10
  LTEXT "service@vorntec.example", 567, 165, 58, 140, 10
  LTEXT "support@vorntec.example", 568, 16, 76, 140, 10
  LTEXT "www.vorntec.example/service", 569, 165, 94, 140, 10
  LTEXT "www.vorntec.example", 570, 16, 94, 140, 10
  LTEXT "About", 571, 16, 135, 140, 10, NOT WS_VISIBLE
  LTEXT "This DTM configures the VKR series radar level transmitters.", 572, 16, 148, 290, 10, NOT WS_VISIBLE
  LTEXT "It runs in any frame application after FDT 1.2.", 573, 16, 160, 290, 10, NOT WS_VISIBLE
  LTEXT "It talks to the transmitter through HART.", 574, 16, 172, 290, 10, NOT WS_VISIBLE
  LTEXT "Copyright Vorntec Instruments.", 575, 16, 184, 290, 10, NOT WS_VISIBLE
END
)";

SPropertyPageClass InfoClass() {
  SPropertyPageClass c;
  c.clsid = CLSID_InfoPP;
  c.parameterMap = &CInfoPP::GetParameterMap;
  c.dialogId = kDialogId;
  c.titleId = kTitleId;
  c.helpFileId = kHelpId;
  c.docStringId = kDocId;
  c.templateText = kTemplate;
  return c;
}

}  // namespace

CInfoPP::CInfoPP() : CovFDT_PropertyPageImpl(InfoClass()) {}

CActXParInfo* CInfoPP::GetParameterMap(int* count, BOOL copy) { return EmptyParameterMap(count, copy); }

bool CInfoPP::LoadPageString(UINT id, std::u16string* text) {
  switch (id) {
    case kTitleId: *text = u"Info"; return true;
    case kHelpId: *text = u"Help File Name"; return true;
    case kDocId: *text = u"Info Page"; return true;
    default: return CovFDT_PropertyPageImpl::LoadPageString(id, text);
  }
}

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
