// The tab control (SysTabControl32), in its "A" messages: items, the selection (TCM_SETCURSEL
// quietly, TCM_SETCURFOCUS and the user with TCN_SELCHANGING, which may veto, then TCN_SELCHANGE).
#include <algorithm>
#include <vector>

#include "platform/ui/control_internal.h"

namespace vkr::ui::controls {
namespace {

struct TabItem {
  std::string text;
  LPARAM param = 0;
  int image = -1;
  DWORD state = 0;
};

class Tab final : public Control {
 public:
  using Control::Control;

  LRESULT Proc(UINT message, WPARAM wParam, LPARAM lParam) override {
    const int index = static_cast<int>(static_cast<LONG>(wParam));
    switch (message) {
      case TCM_GETITEMCOUNT:
        return Count();
      case TCM_INSERTITEMA: {
        const auto* item = reinterpret_cast<const TCITEMA*>(lParam);
        if (!item || index < 0) return -1;
        const int at = std::min(index, Count());
        TabItem tab;
        Apply(&tab, *item);
        items_.insert(items_.begin() + at, std::move(tab));
        // The first tab becomes the selected one; later ones keep the selection where it is.
        if (curSel_ < 0 && Count() == 1) curSel_ = 0;
        else if (curSel_ >= at && Count() > 1) ++curSel_;
        if (focus_ >= at && Count() > 1) ++focus_;
        if (focus_ < 0) focus_ = curSel_;
        InvalidateRect(hwnd_, nullptr, TRUE);
        return at;
      }
      case TCM_SETITEMA: {
        const auto* item = reinterpret_cast<const TCITEMA*>(lParam);
        if (!item || !Valid(index)) return FALSE;
        Apply(&items_[static_cast<std::size_t>(index)], *item);
        InvalidateRect(hwnd_, nullptr, TRUE);
        return TRUE;
      }
      case TCM_GETITEMA: {
        auto* item = reinterpret_cast<TCITEMA*>(lParam);
        if (!item || !Valid(index)) return FALSE;
        const TabItem& tab = items_[static_cast<std::size_t>(index)];
        if ((item->mask & TCIF_TEXT) && item->pszText && item->cchTextMax > 0) {
          const std::size_t n = std::min(tab.text.size(), static_cast<std::size_t>(item->cchTextMax - 1));
          tab.text.copy(item->pszText, n);
          item->pszText[n] = '\0';
        }
        if (item->mask & TCIF_PARAM) item->lParam = tab.param;
        if (item->mask & TCIF_IMAGE) item->iImage = tab.image;
        if (item->mask & TCIF_STATE) item->dwState = tab.state & item->dwStateMask;
        return TRUE;
      }
      case TCM_DELETEITEM:
        if (!Valid(index)) return FALSE;
        items_.erase(items_.begin() + index);
        if (curSel_ == index) curSel_ = -1;
        else if (curSel_ > index) --curSel_;
        if (focus_ == index) focus_ = -1;
        else if (focus_ > index) --focus_;
        InvalidateRect(hwnd_, nullptr, TRUE);
        return TRUE;
      case TCM_DELETEALLITEMS:
        items_.clear();
        curSel_ = focus_ = -1;
        InvalidateRect(hwnd_, nullptr, TRUE);
        return TRUE;
      case TCM_GETCURSEL:
        return curSel_;
      case TCM_SETCURSEL: {
        if (!Valid(index)) return -1;
        const int old = curSel_;
        curSel_ = focus_ = index;
        InvalidateRect(hwnd_, nullptr, TRUE);
        return old;
      }
      case TCM_GETCURFOCUS:
        return focus_;
      case TCM_SETCURFOCUS:
        if (!Valid(index)) return 0;
        if (Style() & TCS_BUTTONS) {
          focus_ = index;
          InvalidateRect(hwnd_, nullptr, TRUE);
          return 0;
        }
        ChangeSelection(index);
        return 0;
      case WM_KEYDOWN:
        if (wParam == VK_LEFT && curSel_ > 0) ChangeSelection(curSel_ - 1);
        else if (wParam == VK_RIGHT && curSel_ + 1 < Count()) ChangeSelection(curSel_ + 1);
        return 0;
      case WM_GETDLGCODE:
        return kDlgcWantArrows | kDlgcWantChars;
      case WM_SETFONT:
        font_ = reinterpret_cast<HFONT>(wParam);
        return 0;
      case WM_GETFONT:
        return reinterpret_cast<LRESULT>(font_);
      default:
        return Default(message, wParam, lParam);
    }
  }

  bool UserSelect(int index) {
    if (!Valid(index)) return false;
    if (!(Style() & TCS_FOCUSNEVER) && GetFocus() != hwnd_) SetFocus(hwnd_);
    if (!IsWindow(hwnd_)) return true;
    ChangeSelection(index);
    return true;
  }

  int Find(const char* text) const {
    for (int i = 0; i < Count(); ++i)
      if (items_[static_cast<std::size_t>(i)].text == text) return i;
    return -1;
  }

  void Fill(ControlState* state) const override {
    state->curSel = curSel_;
    state->count = Count();
    for (const TabItem& tab : items_) state->items.push_back(tab.text);
  }

  std::string Describe() const override {
    std::string out = " sel=" + std::to_string(curSel_) + " items=[";
    for (std::size_t i = 0; i < items_.size(); ++i) out += (i ? "|" : "") + items_[i].text;
    return out + "]";
  }

 private:
  int Count() const { return static_cast<int>(items_.size()); }
  bool Valid(int index) const { return index >= 0 && index < Count(); }

  static void Apply(TabItem* tab, const TCITEMA& item) {
    if ((item.mask & TCIF_TEXT) && item.pszText) tab->text = item.pszText;
    if (item.mask & TCIF_PARAM) tab->param = item.lParam;
    if (item.mask & TCIF_IMAGE) tab->image = item.iImage;
    if (item.mask & TCIF_STATE) tab->state = (tab->state & ~item.dwStateMask) | (item.dwState & item.dwStateMask);
  }

  void ChangeSelection(int index) {
    if (index == curSel_) return;
    NMHDR header{};
    if (Notify(&header, TCN_SELCHANGING)) return;  // vetoed
    if (!IsWindow(hwnd_) || !Valid(index)) return;
    curSel_ = focus_ = index;
    InvalidateRect(hwnd_, nullptr, TRUE);
    NMHDR done{};
    Notify(&done, TCN_SELCHANGE);
  }

  std::vector<TabItem> items_;
  int curSel_ = -1;
  int focus_ = -1;
};

}  // namespace

bool UserSelectTab(HWND tab, int index) {
  auto t = FindAs<Tab>(tab);
  return t && t->UserSelect(index);
}

int FindTab(HWND tab, const char* text) {
  auto t = FindAs<Tab>(tab);
  return t ? t->Find(text) : -1;
}

void RegisterTab() {
  RegisterBuiltinClass({u"SysTabControl32", CS_DBLCLKS | CS_GLOBALCLASS, &ControlProc<Tab>, 0, nullptr, nullptr,
                        false});
}

}  // namespace vkr::ui::controls
