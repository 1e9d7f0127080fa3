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
151 DIALOGEX 0, 0, 356, 200
STYLE DS_CONTROL | WS_CHILD
FONT 8, "MS Sans Serif"
BEGIN
  GROUPBOX "Contact", 696, 7, 5, 342, 120
  LTEXT "Vorntec Instruments", 558, 18, 22, 150, 10
  LTEXT "Vorntec Instruments", 560, 186, 22, 150, 10
  LTEXT "Head office and sales", 561, 18, 40, 150, 10
  LTEXT "Service and support", 563, 186, 40, 150, 10
  LTEXT "sales@vorntec.example", 565, 18, 58, 150, 10
  LTEXT "service@vorntec.example", 567, 186, 58, 150, 10
  LTEXT "support@vorntec.example", 568, 18, 76, 150, 10
  LTEXT "www.vorntec.example/service", 569, 186, 94, 150, 10
  LTEXT "www.vorntec.example", 570, 18, 94, 150, 10
  LTEXT "About", 571, 18, 135, 150, 10, NOT WS_VISIBLE
  LTEXT "This DTM configures the VKR series radar level transmitters.", 572, 18, 148, 320, 10, NOT WS_VISIBLE
  LTEXT "It runs in any frame application after FDT 1.2.", 573, 18, 160, 320, 10, NOT WS_VISIBLE
  LTEXT "It talks to the transmitter through HART.", 574, 18, 172, 320, 10, NOT WS_VISIBLE
  LTEXT "Copyright Vorntec Instruments.", 575, 18, 184, 320, 10, NOT WS_VISIBLE
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

CInfoPP::~CInfoPP() { FreeFonts(); }

CActXParInfo* CInfoPP::GetParameterMap(int* count, BOOL copy) { return EmptyParameterMap(count, copy); }

bool CInfoPP::LoadPageString(UINT id, std::u16string* text) {
  switch (id) {
    case kTitleId: *text = u"Info"; return true;
    case kHelpId: *text = u"Help File Name"; return true;
    case kDocId: *text = u"Info Page"; return true;
    default: return CovFDT_PropertyPageImpl::LoadPageString(id, text);
  }
}

void CInfoPP::FreeFonts() {
  for (HFONT* font : {&m_hFontHeading, &m_hFontText, &m_hFontBold}) {
    if (*font) ::DeleteObject(*font);
    *font = nullptr;
  }
}

HRESULT CInfoPP::InitializeUI(IUnknown* dtm, VARIANT_BOOL* ok) {
  // A second start makes new fonts; the old ones go first.
  FreeFonts();
  m_hFontHeading = ::CreateFontA(15, 0, 0, 0, 600, 0, 0, 0, 0, 0, 0, 0, 0, "Tahoma");
  m_hFontText = ::CreateFontA(14, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "Tahoma");
  m_hFontBold = ::CreateFontA(14, 0, 0, 0, 600, 0, 0, 0, 0, 0, 0, 0, 0, "Tahoma");
  auto set = [this](UINT id, HFONT font) {
    if (m_hWndDialog) ::SendDlgItemMessageA(m_hWndDialog, static_cast<int>(id), WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  };
  set(696, m_hFontHeading);
  for (UINT id : {558u, 560u, 569u, 570u}) set(id, m_hFontBold);
  for (UINT id : {561u, 563u, 565u, 567u, 568u}) set(id, m_hFontText);
  return CovFDT_PropertyPageImpl::InitializeUI(dtm, ok);
}
