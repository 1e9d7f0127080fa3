// The combo box: CBS_DROPDOWN with its edit child, CBS_DROPDOWNLIST whose text is the selected
// item's, the CB_ messages and the CBN_ notifications.
//
// A program's change (CB_SETCURSEL, CB_ADDSTRING, WM_SETTEXT ...) notifies nothing; the user's
// selection sends CBN_SELCHANGE, with CBN_DROPDOWN / CBN_CLOSEUP around it when made in the list.
// The edit child's notifications come to the parent from the combo box: EN_UPDATE as
// CBN_EDITUPDATE, EN_CHANGE as CBN_EDITCHANGE, the focus codes as CBN_SETFOCUS / CBN_KILLFOCUS
// once for the pair.
//
// A drop-down combo box (CBS_DROPDOWN, CBS_DROPDOWNLIST) is as tall as its field while closed: the
// height it is created or sized with is the dropped list's, so a dialog template's height is the
// room of the open list. While the list is open the window takes that room below the field.
#include <algorithm>
#include <vector>

#include "platform/ui/control_internal.h"
#include "platform/win/casefold.h"
#include "platform/win/text.h"

namespace vkr::ui::controls {
namespace {

constexpr int kEditId = 1001;
constexpr int kButtonWidth = 17;
// The field's sunken edge and a pixel of room inside it.
constexpr int kEditInset = 3;

struct Item {
  std::u16string text;
  LPARAM data = 0;
};

class Combo final : public Control {
 public:
  using Control::Control;

  LRESULT Proc(UINT message, WPARAM wParam, LPARAM lParam) override {
    switch (message) {
      case WM_CREATE: {
        if (DropsDown()) {
          const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
          listHeight_ = create ? create->cy : 0;
          Resize(FieldHeight());
        }
        if (HasEdit()) {
          RECT rc{};
          GetClientRect(hwnd_, &rc);
          DWORD editStyle = WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL;
          if (Style() & CBS_UPPERCASE) editStyle |= ES_UPPERCASE;
          if (Style() & CBS_LOWERCASE) editStyle |= ES_LOWERCASE;
          edit_ = CreateWindowExW(0, u"Edit", u"", editStyle, 0, 0, 0, 0, hwnd_,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(kEditId)), nullptr, nullptr);
          if (!edit_) return -1;
          PlaceEdit(rc.right, rc.bottom);
        }
        return Default(message, wParam, lParam);
      }
      case WM_WINDOWPOSCHANGING: {
        auto* pos = reinterpret_cast<WINDOWPOS*>(lParam);
        if (DropsDown() && pos && !(pos->flags & SWP_NOSIZE) && !resizing_) {
          // A height from outside is the dropped list's; the window keeps the field's.
          listHeight_ = pos->cy;
          pos->cy = OpenHeight();
        }
        return Default(message, wParam, lParam);
      }
      case CB_GETDROPPEDCONTROLRECT: {
        auto* out = reinterpret_cast<RECT*>(lParam);
        if (!out) return CB_ERR;
        GetWindowRect(hwnd_, out);
        if (DropsDown()) out->bottom = out->top + std::max(listHeight_, FieldHeight());
        return CB_OKAY;
      }
      case WM_SIZE:
        if (edit_) PlaceEdit(LOWORD(static_cast<DWORD_PTR>(lParam)), HIWORD(static_cast<DWORD_PTR>(lParam)));
        return Default(message, wParam, lParam);
      case WM_SETTEXT:
        // The program's text goes to the edit without a word: CBN_EDIT* are the user's.
        if (edit_) {
          SetEditText(lParam ? std::u16string_view(reinterpret_cast<LPCWSTR>(lParam)) : std::u16string_view());
          return TRUE;
        }
        return CB_ERR;  // a drop-down list has no text of its own
      case WM_GETTEXT:
      case WM_GETTEXTLENGTH:
        if (edit_) return SendMessageW(edit_, message, wParam, lParam);
        return DropListText(message, wParam, lParam);
      case CB_ADDSTRING:
      case CB_INSERTSTRING:
        return Insert(message == CB_ADDSTRING ? -1 : static_cast<int>(static_cast<LONG>(wParam)),
                      reinterpret_cast<LPCWSTR>(lParam), message == CB_ADDSTRING);
      case CB_DELETESTRING: {
        const int index = static_cast<int>(static_cast<LONG>(wParam));
        if (!Valid(index)) return CB_ERR;
        items_.erase(items_.begin() + index);
        if (curSel_ == index) curSel_ = -1;  // the selected item's going leaves no selection
        else if (curSel_ > index) --curSel_;
        InvalidateRect(hwnd_, nullptr, TRUE);
        return Count();
      }
      case CB_GETCOUNT:
        return Count();
      case CB_GETCURSEL:
        return curSel_;
      case CB_GETLBTEXT: {
        const int index = static_cast<int>(static_cast<LONG>(wParam));
        if (!Valid(index) || !lParam) return CB_ERR;
        CopyOut(items_[static_cast<std::size_t>(index)].text, reinterpret_cast<LPWSTR>(lParam));
        return static_cast<LRESULT>(items_[static_cast<std::size_t>(index)].text.size());
      }
      case CB_GETLBTEXTLEN: {
        const int index = static_cast<int>(static_cast<LONG>(wParam));
        return Valid(index) ? static_cast<LRESULT>(items_[static_cast<std::size_t>(index)].text.size()) : CB_ERR;
      }
      case CB_RESETCONTENT:
        items_.clear();
        curSel_ = -1;
        if (edit_) SetEditText(u"");
        InvalidateRect(hwnd_, nullptr, TRUE);
        return CB_OKAY;
      case CB_SETCURSEL:
        return Select(static_cast<int>(static_cast<LONG>(wParam)));
      case CB_GETITEMDATA: {
        const int index = static_cast<int>(static_cast<LONG>(wParam));
        return Valid(index) ? items_[static_cast<std::size_t>(index)].data : CB_ERR;
      }
      case CB_SETITEMDATA: {
        const int index = static_cast<int>(static_cast<LONG>(wParam));
        if (!Valid(index)) return CB_ERR;
        items_[static_cast<std::size_t>(index)].data = lParam;
        return CB_OKAY;
      }
      case CB_FINDSTRING:
      case CB_FINDSTRINGEXACT:
        return FindText(static_cast<int>(static_cast<LONG>(wParam)), reinterpret_cast<LPCWSTR>(lParam),
                        message == CB_FINDSTRINGEXACT);
      case CB_SELECTSTRING: {
        const LRESULT index = FindText(static_cast<int>(static_cast<LONG>(wParam)), reinterpret_cast<LPCWSTR>(lParam), false);
        if (index == CB_ERR) return CB_ERR;
        return Select(static_cast<int>(index));
      }
      case CB_SHOWDROPDOWN:
        if (wParam) DropDown();
        else CloseUp();
        return TRUE;
      case CB_GETDROPPEDSTATE:
        return dropped_ ? TRUE : FALSE;
      case CB_LIMITTEXT:
        if (!edit_) return CB_ERR;
        SendMessageW(edit_, EM_LIMITTEXT, wParam, 0);
        return TRUE;
      case CB_GETEDITSEL:
        return edit_ ? SendMessageW(edit_, EM_GETSEL, wParam, lParam) : CB_ERR;
      case CB_SETEDITSEL:
        if (!edit_) return CB_ERR;
        SendMessageW(edit_, EM_SETSEL, static_cast<WPARAM>(static_cast<LONG_PTR>(static_cast<SHORT>(LOWORD(lParam)))),
                     static_cast<SHORT>(HIWORD(lParam)));
        return TRUE;
      case CB_SETEXTENDEDUI:
        extendedUi_ = wParam != 0;
        return CB_OKAY;
      case CB_GETEXTENDEDUI:
        return extendedUi_ ? TRUE : FALSE;
      case CB_GETITEMHEIGHT:
        return 16;
      case CB_SETITEMHEIGHT:
        return CB_OKAY;
      case CB_GETTOPINDEX:
        return 0;
      case CB_SETTOPINDEX:
        return Valid(static_cast<int>(wParam)) ? CB_OKAY : CB_ERR;
      case CB_INITSTORAGE:
        return static_cast<LRESULT>(items_.size() + wParam);
      case CB_GETDROPPEDWIDTH: {
        RECT rc{};
        GetWindowRect(hwnd_, &rc);
        return rc.right - rc.left;
      }
      case CB_SETDROPPEDWIDTH:
        return static_cast<LRESULT>(wParam);
      case WM_COMMAND:
        if (edit_ && reinterpret_cast<HWND>(lParam) == edit_) {
          FromEdit(HIWORD(static_cast<DWORD_PTR>(wParam)));
          return 0;
        }
        return Default(message, wParam, lParam);
      case WM_SETFOCUS:
        if (edit_) {
          SetFocus(edit_);  // the edit's EN_SETFOCUS says it to the parent
          if (IsWindow(edit_)) SendMessageW(edit_, EM_SETSEL, 0, -1);
          return 0;
        }
        FocusIn();
        return 0;
      case WM_KILLFOCUS: {
        HWND to = reinterpret_cast<HWND>(wParam);
        if (edit_ && to == edit_) return 0;
        FocusOut();
        return 0;
      }
      case WM_LBUTTONDOWN:
      case WM_LBUTTONDBLCLK:
        if (GetFocus() != hwnd_ && GetFocus() != edit_) SetFocus(hwnd_);
        if (!IsWindow(hwnd_)) return 0;
        if (dropped_) CloseUp();
        else DropDown();
        return 0;
      case WM_LBUTTONUP:
        return 0;
      case WM_KEYDOWN:
        Key(static_cast<int>(wParam));
        return 0;
      case WM_CHAR:
        if (edit_) return SendMessageW(edit_, message, wParam, lParam);
        if (wParam >= 0x20) SelectByPrefix(static_cast<char16_t>(wParam));
        return 0;
      case WM_GETDLGCODE: {
        LRESULT code = kDlgcWantArrows | kDlgcWantChars;
        if (dropped_) code |= kDlgcWantAllKeys;
        return code;
      }
      case WM_SETFONT:
        font_ = reinterpret_cast<HFONT>(wParam);
        if (edit_) SendMessageW(edit_, WM_SETFONT, wParam, lParam);
        if (DropsDown()) Resize(OpenHeight());  // the field follows the font
        return 0;
      case WM_GETFONT:
        return reinterpret_cast<LRESULT>(font_);
      case WM_ENABLE:
        if (edit_) EnableWindow(edit_, wParam ? TRUE : FALSE);
        InvalidateRect(hwnd_, nullptr, TRUE);
        return 0;
      default:
        return Default(message, wParam, lParam);
    }
  }

  // What a person's pick in the dropped list sends.
  bool UserSelect(int index) {
    if (!Valid(index)) return false;
    if (GetFocus() != hwnd_ && GetFocus() != edit_) SetFocus(hwnd_);
    if (!IsWindow(hwnd_)) return true;
    if (!dropped_) DropDown();
    if (!IsWindow(hwnd_)) return true;
    Select(index);
    Command(CBN_SELCHANGE);
    if (!IsWindow(hwnd_)) return true;
    Command(CBN_SELENDOK);
    if (!IsWindow(hwnd_)) return true;
    CloseUp();
    return true;
  }

  void Fill(ControlState* state) const override {
    state->curSel = curSel_;
    state->dropped = dropped_;
    state->count = Count();
    for (const Item& item : items_) state->items.push_back(Utf16ToUtf8(item.text));
    state->font = font_;
  }

  std::string Describe() const override {
    std::string out = " sel=" + std::to_string(curSel_) + " items=[";
    for (std::size_t i = 0; i < items_.size(); ++i) {
      if (i) out += '|';
      out += Utf16ToUtf8(items_[i].text);
    }
    out += "]";
    if (dropped_) out += " dropped";
    return out;
  }

 private:
  bool HasEdit() const {
    const DWORD kind = Style() & 3;
    return kind == CBS_DROPDOWN || kind == CBS_SIMPLE;
  }
  bool DropsDown() const {
    const DWORD kind = Style() & 3;
    return kind == CBS_DROPDOWN || kind == CBS_DROPDOWNLIST;
  }
  // The edit lies inside the field's sunken edge, left of the button, as tall as the field (not
  // the open list) less the edge.
  void PlaceEdit(int width, int height) {
    const int field = std::min(height, FieldHeight());
    const int right = DropsDown() ? kButtonWidth : 0;
    MoveWindow(edit_, kEditInset, kEditInset, std::max(width - right - 2 * kEditInset, 0),
               std::max(field - 2 * kEditInset, 0), TRUE);
  }

  // The closed field: one line of the font with the sunken frame and its margins.
  int FieldHeight() const {
    HDC dc = GetDC(hwnd_);
    HGDIOBJ old = SelectObject(dc, font_ ? static_cast<HGDIOBJ>(font_) : GetStockObject(SYSTEM_FONT));
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    SelectObject(dc, old);
    ReleaseDC(hwnd_, dc);
    return tm.tmHeight + 8;
  }
  // The window's height now: the field, and the list's room below it while the list is open.
  int OpenHeight() const { return dropped_ ? std::max(listHeight_, FieldHeight()) : FieldHeight(); }
  void Resize(int height) {
    RECT rc{};
    GetWindowRect(hwnd_, &rc);
    if (rc.bottom - rc.top == height) return;
    resizing_ = true;
    SetWindowPos(hwnd_, nullptr, 0, 0, rc.right - rc.left, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    resizing_ = false;
  }
  int Count() const { return static_cast<int>(items_.size()); }
  bool Valid(int index) const { return index >= 0 && index < Count(); }

  LRESULT Insert(int index, LPCWSTR text, bool add) {
    std::u16string value = text ? std::u16string(text) : std::u16string();
    if (add && (Style() & CBS_SORT)) {
      index = 0;
      while (index < Count() && vkr::platform::CompareNoCase(items_[static_cast<std::size_t>(index)].text, value) <= 0)
        ++index;
    }
    if (index < 0 || index > Count()) {
      if (!add && index != -1) return CB_ERR;
      index = Count();
    }
    items_.insert(items_.begin() + index, Item{std::move(value), 0});
    if (curSel_ >= index) ++curSel_;
    InvalidateRect(hwnd_, nullptr, TRUE);
    return index;
  }

  // A program's selection: the edit shows the item's text, nobody is told.
  LRESULT Select(int index) {
    if (!Valid(index)) {
      curSel_ = -1;
      if (edit_) SetEditText(u"");
      InvalidateRect(hwnd_, nullptr, TRUE);
      return CB_ERR;
    }
    curSel_ = index;
    if (edit_) {
      SetEditText(items_[static_cast<std::size_t>(index)].text);
      SendMessageW(edit_, EM_SETSEL, 0, -1);
    }
    InvalidateRect(hwnd_, nullptr, TRUE);
    return index;
  }

  void SetEditText(std::u16string_view text) {
    const std::u16string copy(text);
    SetEditQuiet(edit_, true);
    SendMessageW(edit_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(copy.c_str()));
    SetEditQuiet(edit_, false);
  }

  // Searches after `start` to the end and wraps around; -1 searches all from the first item.
  LRESULT FindText(int start, LPCWSTR text, bool exact) const {
    if (!text || items_.empty()) return CB_ERR;
    const std::u16string_view wanted(text);
    const int n = Count();
    const int first = (start < 0 || start >= n) ? 0 : start + 1;
    for (int k = 0; k < n; ++k) {
      const int i = (first + k) % n;
      const std::u16string& t = items_[static_cast<std::size_t>(i)].text;
      if (exact ? EqualNoCase(t, wanted) : StartsWithNoCase(t, wanted)) return i;
    }
    return CB_ERR;
  }

  LRESULT DropListText(UINT message, WPARAM wParam, LPARAM lParam) const {
    const std::u16string text = Valid(curSel_) ? items_[static_cast<std::size_t>(curSel_)].text : std::u16string();
    if (message == WM_GETTEXTLENGTH) return static_cast<LRESULT>(text.size());
    if (wParam == 0 || !lParam) return 0;
    const std::size_t n = std::min<std::size_t>(text.size(), wParam - 1);
    auto* out = reinterpret_cast<LPWSTR>(lParam);
    text.copy(out, n);
    out[n] = u'\0';
    return static_cast<LRESULT>(n);
  }

  void DropDown() {
    if (dropped_) return;
    Command(CBN_DROPDOWN);
    if (!IsWindow(hwnd_)) return;
    dropped_ = true;
    if (DropsDown()) Resize(OpenHeight());
    InvalidateRect(hwnd_, nullptr, TRUE);
  }

  void CloseUp() {
    if (!dropped_) return;
    dropped_ = false;
    if (DropsDown()) {
      // What the open list covered is the parent's to paint again.
      RECT room{};
      GetWindowRect(hwnd_, &room);
      Resize(OpenHeight());
      if (HWND parent = GetParent(hwnd_)) {
        MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&room), 2);
        InvalidateRect(parent, &room, TRUE);
      }
    }
    InvalidateRect(hwnd_, nullptr, TRUE);
    Command(CBN_CLOSEUP);
  }

  void FocusIn() {
    if (focused_) return;
    focused_ = true;
    InvalidateRect(hwnd_, nullptr, TRUE);
    Command(CBN_SETFOCUS);
  }

  void FocusOut() {
    if (!focused_) return;
    focused_ = false;
    if (dropped_) CloseUp();
    if (!IsWindow(hwnd_)) return;
    InvalidateRect(hwnd_, nullptr, TRUE);
    Command(CBN_KILLFOCUS);
  }

  void FromEdit(WORD code) {
    switch (code) {
      case EN_SETFOCUS:
        FocusIn();
        break;
      case EN_KILLFOCUS:
        if (EditFocusGoesTo(edit_) != hwnd_) FocusOut();
        break;
      case EN_UPDATE:
        Command(CBN_EDITUPDATE);
        break;
      case EN_CHANGE:
        Command(CBN_EDITCHANGE);
        break;
      default:
        break;
    }
  }

  // A key moves the selection as a person's choice (CBN_SELCHANGE); F4 and Alt+arrows drop the list.
  void Key(int vk) {
    if (vk == VK_F1 + 3 || ((vk == VK_DOWN || vk == VK_UP) && KeyDown(VK_MENU))) {
      if (dropped_) CloseUp();
      else DropDown();
      return;
    }
    if ((vk == VK_RETURN || vk == VK_ESCAPE) && dropped_) {
      CloseUp();
      return;
    }
    int to = curSel_;
    switch (vk) {
      case VK_DOWN:
      case VK_RIGHT:
        to = curSel_ < 0 ? 0 : curSel_ + 1;
        break;
      case VK_UP:
      case VK_LEFT:
        to = curSel_ < 0 ? 0 : curSel_ - 1;
        break;
      case VK_HOME:
        if (edit_) return;
        to = 0;
        break;
      case VK_END:
        if (edit_) return;
        to = Count() - 1;
        break;
      case VK_PRIOR:
        to = std::max(curSel_ - 8, 0);
        break;
      case VK_NEXT:
        to = curSel_ + 8;
        break;
      default:
        return;
    }
    to = std::clamp(to, 0, Count() - 1);
    if (!Valid(to) || to == curSel_) return;
    Select(to);
    Command(CBN_SELCHANGE);
  }

  void SelectByPrefix(char16_t c) {
    const char16_t one[2] = {c, 0};
    const LRESULT index = FindText(curSel_, one, false);
    if (index == CB_ERR || index == curSel_) return;
    Select(static_cast<int>(index));
    Command(CBN_SELCHANGE);
  }

  std::vector<Item> items_;
  int curSel_ = -1;
  bool dropped_ = false;
  bool focused_ = false;
  bool extendedUi_ = false;
  bool resizing_ = false;
  int listHeight_ = 0;  // the window's height while the list is open
  HWND edit_ = nullptr;
};

}  // namespace

bool UserSelectCombo(HWND combo, int index) {
  auto c = FindAs<Combo>(combo);
  return c && c->UserSelect(index);
}

void RegisterCombo() {
  RegisterBuiltinClass({u"ComboBox", CS_DBLCLKS | CS_PARENTDC | CS_VREDRAW | CS_HREDRAW | CS_GLOBALCLASS,
                        &ControlProc<Combo>, 0, nullptr, nullptr, true});
}

}  // namespace vkr::ui::controls
