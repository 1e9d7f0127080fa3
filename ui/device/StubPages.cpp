// Stand-in pages for the device pages not built yet.
#include "ui/device/StubPages.h"

#include <string>

#include "include/ProgramIds.h"
#include "ui/device/DevicePage.h"

namespace vkr::dui {

namespace {

struct SStubClass {
  const CLSID* clsid;
  UINT dialogId;
  UINT titleId;
  const char16_t* title;
  const char* templateText;  // the page's dialog size, no items yet
};

// Each template is the size its page's dialog has, so the frame sizes its page area as it will.
#define STUB_TEMPLATE(id, width, height) \
  #id " DIALOGEX 0, 0, " #width ", " #height "\nSTYLE DS_CONTROL | WS_CHILD\nEXSTYLE WS_EX_CONTROLPARENT\n" \
      "FONT 8, \"MS Sans Serif\"\nBEGIN\nEND\n"

const SStubClass kStubClasses[] = {
    {&CLSID_ValuesPP, 123, 243, u"Values", STUB_TEMPLATE(123, 272, 158)},
    {&CLSID_AdvancedPP, 160, 153, u"Advanced", STUB_TEMPLATE(160, 397, 206)},
    {&CLSID_StatusPP, 114, 240, u"Status", STUB_TEMPLATE(114, 356, 381)},
    {&CLSID_HartPP, 110, 244, u"HART", STUB_TEMPLATE(110, 344, 223)},
    {&CLSID_DiagPP, 169, 162, u"Diganostics", STUB_TEMPLATE(169, 396, 289)},
    {&CLSID_EchoPP, 181, 176, u"EchoPP", STUB_TEMPLATE(181, 525, 269)},
    {&CLSID_RawCommandPP, 175, 170, u"RawCommand", STUB_TEMPLATE(175, 436, 264)},
};

#undef STUB_TEMPLATE

const SStubClass& ClassOf(EStubPage page) { return kStubClasses[static_cast<int>(page)]; }

SPropertyPageClass PageClassOf(EStubPage page) {
  const SStubClass& stub = ClassOf(page);
  SPropertyPageClass c;
  c.clsid = *stub.clsid;
  // No parameters yet.
  c.parameterMap = &::EmptyParameterMap;
  c.dialogId = stub.dialogId;
  c.titleId = stub.titleId;
  c.templateText = stub.templateText;
  return c;
}

}  // namespace

CStubPage::CStubPage(EStubPage page) : CovFDT_PropertyPageImpl(PageClassOf(page)), m_page(page) {}

bool CStubPage::LoadPageString(UINT id, std::u16string* text) {
  const SStubClass& stub = ClassOf(m_page);
  if (id == 0 || id != stub.titleId || !text) return false;
  *text = stub.title;
  return true;
}

const CLSID& StubPageClass(EStubPage page) { return *ClassOf(page).clsid; }

}  // namespace vkr::dui
