// How the frame host shows a DTM property page named by its class. A frame cannot start a page by
// itself (a page starts only through the DTM's own page-frame roads), so the host opens the page
// where the DTM shows it: in the page frame of the function whose frame lists the page
// (ISpecifyPropertyPages), with the page selected in the frame's tree as a person selects it.
#pragma once

#include <string>

#include "platform/platform.h"

namespace vkr::frame {

// The title of the property page of that class (IPropertyPage::GetPageInfo), made and released
// without being started; false when the class makes no property page.
bool PropertyPageTitle(REFCLSID pageClass, std::string* title);
// Whether the user interface of class frameClass is a page frame that lists pageClass; the frame
// is made and released without being started.
bool PageFrameLists(REFCLSID frameClass, REFCLSID pageClass);
// Selects the item with that text in the first page tree ("SysTreeView32") below window; false
// when there is no such tree or item.
bool SelectPageInTree(HWND window, const std::string& text);

}  // namespace vkr::frame
