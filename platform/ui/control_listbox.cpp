// The list box: single selection, LBS_MULTIPLESEL and LBS_EXTENDEDSEL, the LB_ messages and the
// LBN_ notifications.
//
// LB_SETCURSEL serves only single-selection lists and LB_SETSEL only multiple-selection ones
// (LB_ERR otherwise); (FALSE, -1) clears every selection. The program's changes notify nothing;
// the user's selection sends LBN_SELCHANGE when the list has LBS_NOTIFY. The focus codes
// LBN_SETFOCUS / LBN_KILLFOCUS are sent whatever the style, as Windows does.
#include <algorithm>
#include <vector>

#include "platform/ui/control_internal.h"
#include "platform/win/casefold.h"
#include "platform/win/text.h"

namespace vkr::ui::controls {
namespace {

struct Item {
  std::u16string text;
  LPARAM data = 0;
  bool selected = false;
};

class ListBox final : public Control {
 public:
  using Control::Control;

  LRESULT Proc(UINT message, WPARAM wParam, LPARAM lParam) override {
    const int index = static_cast<int>(static_cast<LONG>(wParam));
    switch (message) {
      case LB_ADDSTRING:
      case LB_INSERTSTRING:
        return Insert(message == LB_ADDSTRING ? -1 : index, reinterpret_cast<LPCWSTR>(lParam),
                      message == LB_ADDSTRING);
      case LB_DELETESTRING:
        if (!Valid(index)) return LB_ERR;
        items_.erase(items_.begin() + index);
        if (curSel_ == index) curSel_ = -1;
        else if (curSel_ > index) --curSel_;
        if (caret_ >= Count()) caret_ = std::max(Count() - 1, 0);
        if (anchor_ >= Count()) anchor_ = std::max(Count() - 1, 0);
        InvalidateRect(hwnd_, nullptr, TRUE);
        return Count();
      case LB_RESETCONTENT:
        items_.clear();
        curSel_ = -1;
        caret_ = anchor_ = top_ = 0;
        InvalidateRect(hwnd_, nullptr, TRUE);
        return LB_OKAY;
      case LB_GETCOUNT:
        return Count();
      case LB_SETCURSEL:
        if (Multi()) return LB_ERR;
        if (!Valid(index)) {
          curSel_ = -1;
          InvalidateRect(hwnd_, nullptr, TRUE);
          return LB_ERR;
        }
        curSel_ = caret_ = index;
        InvalidateRect(hwnd_, nullptr, TRUE);
        return index;
      case LB_GETCURSEL:
        if (Multi()) return Count() ? caret_ : LB_ERR;
        return curSel_;
      case LB_SETSEL: {
        if (!Multi()) return LB_ERR;
        const bool select = wParam != 0;
        const int which = static_cast<int>(static_cast<LONG>(lParam));
        if (which == -1) {
          for (Item& item : items_) item.selected = select;
        } else {
          if (!Valid(which)) return LB_ERR;
          items_[static_cast<std::size_t>(which)].selected = select;
          caret_ = which;
        }
        InvalidateRect(hwnd_, nullptr, TRUE);
        return LB_OKAY;
      }
      case LB_GETSEL:
        if (!Valid(index)) return LB_ERR;
        return IsSelected(index) ? 1 : 0;
      case LB_GETSELCOUNT: {
        if (!Multi()) return LB_ERR;
        return static_cast<LRESULT>(std::count_if(items_.begin(), items_.end(), [](const Item& i) { return i.selected; }));
      }
      case LB_GETSELITEMS: {
        if (!Multi()) return LB_ERR;
        auto* out = reinterpret_cast<int*>(lParam);
        int n = 0;
        for (int i = 0; i < Count() && n < index; ++i)
          if (items_[static_cast<std::size_t>(i)].selected) {
            if (out) out[n] = i;
            ++n;
          }
        return n;
      }
      case LB_SELITEMRANGE:
      case LB_SELITEMRANGEEX: {
        if (!Multi()) return LB_ERR;
        int first, last;
        bool select = true;
        if (message == LB_SELITEMRANGE) {
          select = wParam != 0;
          first = LOWORD(lParam);
          last = HIWORD(lParam);
        } else {
          first = index;
          last = static_cast<int>(static_cast<LONG>(lParam));
          if (first > last) {
            select = false;
            std::swap(first, last);
          }
        }
        for (int i = std::max(first, 0); i <= std::min(last, Count() - 1); ++i)
          items_[static_cast<std::size_t>(i)].selected = select;
        InvalidateRect(hwnd_, nullptr, TRUE);
        return LB_OKAY;
      }
      case LB_GETTEXT:
        if (!Valid(index) || !lParam) return LB_ERR;
        CopyOut(items_[static_cast<std::size_t>(index)].text, reinterpret_cast<LPWSTR>(lParam));
        return static_cast<LRESULT>(items_[static_cast<std::size_t>(index)].text.size());
      case LB_GETTEXTLEN:
        return Valid(index) ? static_cast<LRESULT>(items_[static_cast<std::size_t>(index)].text.size()) : LB_ERR;
      case LB_GETITEMDATA:
        return Valid(index) ? items_[static_cast<std::size_t>(index)].data : LB_ERR;
      case LB_SETITEMDATA:
        if (!Valid(index)) return LB_ERR;
        items_[static_cast<std::size_t>(index)].data = lParam;
        return LB_OKAY;
      case LB_FINDSTRING:
      case LB_FINDSTRINGEXACT:
        return FindText(index, reinterpret_cast<LPCWSTR>(lParam), message == LB_FINDSTRINGEXACT);
      case LB_SELECTSTRING: {
        if (Multi()) return LB_ERR;
        const LRESULT found = FindText(index, reinterpret_cast<LPCWSTR>(lParam), false);
        if (found == LB_ERR) return LB_ERR;
        curSel_ = caret_ = static_cast<int>(found);
        InvalidateRect(hwnd_, nullptr, TRUE);
        return found;
      }
      case LB_GETTOPINDEX:
        return top_;
      case LB_SETTOPINDEX:
        if (!Valid(index) && !(index == 0 && items_.empty())) return LB_ERR;
        top_ = index;
        return LB_OKAY;
      case LB_GETCARETINDEX:
        return caret_;
      case LB_SETCARETINDEX:
        if (!Valid(index)) return LB_ERR;
        caret_ = index;
        return LB_OKAY;
      case LB_GETANCHORINDEX:
        return anchor_;
      case LB_SETANCHORINDEX:
        if (!Valid(index)) return LB_ERR;
        anchor_ = index;
        return LB_OKAY;
      case LB_GETITEMHEIGHT:
        return 16;
      case LB_SETITEMHEIGHT:
        return LB_OKAY;
      case LB_GETITEMRECT: {
        if (!Valid(index) || !lParam) return LB_ERR;
        RECT client{};
        GetClientRect(hwnd_, &client);
        *reinterpret_cast<RECT*>(lParam) = RECT{0, (index - top_) * 16, client.right, (index - top_ + 1) * 16};
        return LB_OKAY;
      }
      case WM_LBUTTONDOWN: {
        if (GetFocus() != hwnd_) SetFocus(hwnd_);
        if (!IsWindow(hwnd_)) return 0;
        const int at = top_ + GET_Y_LPARAM(lParam) / 16;
        if (Valid(at)) UserSelect(at, (wParam & MK_SHIFT ? kShift : 0) | (wParam & MK_CONTROL ? kControl : 0));
        return 0;
      }
      case WM_LBUTTONDBLCLK:
        if (Style() & LBS_NOTIFY) Command(LBN_DBLCLK);
        return 0;
      case WM_LBUTTONUP:
        return 0;
      case WM_KEYDOWN:
        Key(static_cast<int>(wParam));
        return 0;
      case WM_CHAR:
        return 0;
      case WM_SETFOCUS:
        Command(LBN_SETFOCUS);
        InvalidateRect(hwnd_, nullptr, FALSE);
        return 0;
      case WM_KILLFOCUS:
        Command(LBN_KILLFOCUS);
        InvalidateRect(hwnd_, nullptr, FALSE);
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

  // What a person's click on the item sends; modifiers as the input helpers name them.
  bool UserSelect(int index, UINT modifiers) {
    if (!Valid(index)) return false;
    if (Style() & LBS_NOSEL) return true;
    const DWORD style = Style();
    if (style & LBS_EXTENDEDSEL) {
      if (modifiers & kShift) {
        if (!(modifiers & kControl))
          for (Item& item : items_) item.selected = false;
        for (int i = std::min(anchor_, index); i <= std::max(anchor_, index); ++i)
          items_[static_cast<std::size_t>(i)].selected = true;
      } else if (modifiers & kControl) {
        items_[static_cast<std::size_t>(index)].selected = !items_[static_cast<std::size_t>(index)].selected;
        anchor_ = index;
      } else {
        for (Item& item : items_) item.selected = false;
        items_[static_cast<std::size_t>(index)].selected = true;
        anchor_ = index;
      }
    } else if (style & LBS_MULTIPLESEL) {
      items_[static_cast<std::size_t>(index)].selected = !items_[static_cast<std::size_t>(index)].selected;
      anchor_ = index;
    } else {
      curSel_ = index;
    }
    caret_ = index;
    InvalidateRect(hwnd_, nullptr, TRUE);
    if (style & LBS_NOTIFY) Command(LBN_SELCHANGE);
    return true;
  }

  void Fill(ControlState* state) const override {
    state->curSel = Multi() ? -1 : curSel_;
    state->count = Count();
    for (int i = 0; i < Count(); ++i) {
      state->items.push_back(Utf16ToUtf8(items_[static_cast<std::size_t>(i)].text));
      if (IsSelected(i)) state->selected.push_back(i);
    }
    state->font = font_;
  }

  std::string Describe() const override {
    std::string out = " sel=[";
    bool first = true;
    for (int i = 0; i < Count(); ++i)
      if (IsSelected(i)) {
        if (!first) out += ',';
        out += std::to_string(i);
        first = false;
      }
    out += "] items=[";
    for (std::size_t i = 0; i < items_.size(); ++i) {
      if (i) out += '|';
      out += Utf16ToUtf8(items_[i].text);
    }
    return out + "]";
  }

 private:
  bool Multi() const { return (Style() & (LBS_MULTIPLESEL | LBS_EXTENDEDSEL)) != 0; }
  int Count() const { return static_cast<int>(items_.size()); }
  bool Valid(int index) const { return index >= 0 && index < Count(); }
  bool IsSelected(int index) const {
    return Multi() ? items_[static_cast<std::size_t>(index)].selected : index == curSel_;
  }

  LRESULT Insert(int index, LPCWSTR text, bool add) {
    std::u16string value = text ? std::u16string(text) : std::u16string();
    if (add && (Style() & LBS_SORT)) {
      index = 0;
      while (index < Count() && vkr::platform::CompareNoCase(items_[static_cast<std::size_t>(index)].text, value) <= 0)
        ++index;
    }
    if (index < 0 || index > Count()) {
      if (!add && index != -1) return LB_ERR;
      index = Count();
    }
    items_.insert(items_.begin() + index, Item{std::move(value), 0, false});
    if (curSel_ >= index) ++curSel_;
    InvalidateRect(hwnd_, nullptr, TRUE);
    return index;
  }

  LRESULT FindText(int start, LPCWSTR text, bool exact) const {
    if (!text || items_.empty()) return LB_ERR;
    const std::u16string_view wanted(text);
    const int n = Count();
    const int first = (start < 0 || start >= n) ? 0 : start + 1;
    for (int k = 0; k < n; ++k) {
      const int i = (first + k) % n;
      const std::u16string& t = items_[static_cast<std::size_t>(i)].text;
      if (exact ? EqualNoCase(t, wanted) : StartsWithNoCase(t, wanted)) return i;
    }
    return LB_ERR;
  }

  void Key(int vk) {
    if (items_.empty()) return;
    const int from = Multi() ? caret_ : (curSel_ < 0 ? caret_ : curSel_);
    int to = from;
    switch (vk) {
      case VK_DOWN:
        to = from + 1;
        break;
      case VK_UP:
        to = from - 1;
        break;
      case VK_HOME:
        to = 0;
        break;
      case VK_END:
        to = Count() - 1;
        break;
      case VK_SPACE:
        if (Style() & LBS_MULTIPLESEL) UserSelect(caret_, 0);
        return;
      default:
        return;
    }
    to = std::clamp(to, 0, Count() - 1);
    if (Style() & LBS_MULTIPLESEL) {
      caret_ = to;  // the caret moves; space toggles
      InvalidateRect(hwnd_, nullptr, FALSE);
      return;
    }
    if (to == curSel_ && !Multi()) return;
    UserSelect(to, KeyDown(VK_SHIFT) ? kShift : 0);
  }

  std::vector<Item> items_;
  int curSel_ = -1;
  int caret_ = 0;
  int anchor_ = 0;
  int top_ = 0;
};

}  // namespace

bool UserSelectList(HWND list, int index, UINT modifiers) {
  auto l = FindAs<ListBox>(list);
  return l && l->UserSelect(index, modifiers);
}

void RegisterListBox() {
  RegisterBuiltinClass({u"ListBox", CS_DBLCLKS | CS_PARENTDC | CS_GLOBALCLASS, &ControlProc<ListBox>, 0, nullptr,
                        nullptr, true});
}

}  // namespace vkr::ui::controls
