// The frame host's road to a property page named by class (see PageByClass.h).
#include "frame/PageByClass.h"

namespace vkr::frame {
namespace {

HWND FindTree(HWND window) {
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (vkr::ui::ClassName(child) == "SysTreeView32") return child;
    if (HWND found = FindTree(child)) return found;
  }
  return nullptr;
}

HTREEITEM Next(HWND tree, UINT relation, HTREEITEM item) {
  return reinterpret_cast<HTREEITEM>(
      SendMessageA(tree, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(item)));
}

// The first item with the text among first, its siblings and everything below them.
HTREEITEM FindItem(HWND tree, HTREEITEM first, const std::string& text) {
  for (HTREEITEM item = first; item; item = Next(tree, TVGN_NEXT, item)) {
    char buffer[256] = {};
    TVITEMA data{};
    data.mask = TVIF_TEXT | TVIF_HANDLE;
    data.hItem = item;
    data.pszText = buffer;
    data.cchTextMax = sizeof buffer;
    SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&data));
    if (text == buffer) return item;
    if (HTREEITEM below = FindItem(tree, Next(tree, TVGN_CHILD, item), text)) return below;
  }
  return nullptr;
}

}  // namespace

bool PropertyPageTitle(REFCLSID pageClass, std::string* title) {
  ComPtr<IPropertyPage> page;
  if (FAILED(CoCreateInstance(pageClass, nullptr, CLSCTX_INPROC_SERVER, IPropertyPage::iid, page.PutVoid())) || !page)
    return false;
  PROPPAGEINFO info{};
  info.cb = sizeof info;
  const bool ok = SUCCEEDED(page->GetPageInfo(&info)) && info.pszTitle;
  if (ok) *title = Utf16ToUtf8(info.pszTitle);
  CoTaskMemFree(info.pszTitle);
  CoTaskMemFree(info.pszHelpFile);
  CoTaskMemFree(info.pszDocString);
  return ok;
}

bool PageFrameLists(REFCLSID frameClass, REFCLSID pageClass) {
  ComPtr<ISpecifyPropertyPages> frame;
  if (FAILED(CoCreateInstance(frameClass, nullptr, CLSCTX_INPROC_SERVER, ISpecifyPropertyPages::iid,
                              frame.PutVoid())) ||
      !frame)
    return false;
  CAUUID pages{};
  if (FAILED(frame->GetPages(&pages))) return false;
  bool listed = false;
  for (ULONG i = 0; i < pages.cElems; ++i) listed = listed || pages.pElems[i] == pageClass;
  CoTaskMemFree(pages.pElems);
  return listed;
}

bool SelectPageInTree(HWND window, const std::string& text) {
  HWND tree = FindTree(window);
  if (!tree) return false;
  HTREEITEM item = FindItem(tree, Next(tree, TVGN_ROOT, nullptr), text);
  if (!item) return false;
  SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
  return true;
}

}  // namespace vkr::frame
