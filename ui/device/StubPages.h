// Stand-in pages for the device pages that are not built yet (HART identity, Device status,
// Values, Diagnostics, Advanced settings, Echo curve, Raw HART command): each is registered under
// its page's class id, has its page's title and dialog size and an empty dialog, so that the online
// parameterization frame shows its whole tree. A page that is built later replaces its stand-in in
// the module's class table; nothing else refers to CStubPage.
#pragma once

#include "platform/platform.h"
#include "ui/framework/PropertyPage.h"

namespace vkr::dui {

enum class EStubPage { Values, Advanced, Status, Hart, Diagnostics, Echo, RawCommand };

class CStubPage : public CovFDT_PropertyPageImpl {
 public:
  explicit CStubPage(EStubPage page);
  // The page's title (its help file and documentation strings are not there yet).
  bool LoadPageString(UINT id, std::u16string* text) override;
  EStubPage Page() const { return m_page; }

 private:
  EStubPage m_page;
};

// The class id a stand-in is registered under.
const CLSID& StubPageClass(EStubPage page);

}  // namespace vkr::dui
