// The single-line edit control: text, selection, typing, read-only and number-only input, the
// text limit, and EN_ notifications (EN_UPDATE then EN_CHANGE on every change, by program or user).
#include <algorithm>

#include "platform/ui/control_internal.h"

namespace vkr::ui::controls {
namespace {

// The limit a new edit has for typing.
constexpr int kDefaultLimit = 32767;
// EM_LIMITTEXT 0 means "as much as there is room for".
constexpr int kMaxLimit = 0x7FFFFFFE;

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

char16_t Upper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c; }
char16_t Lower(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 0x20) : c; }

class Edit final : public Control {
 public:
  using Control::Control;

  bool quiet = false;             // the owning combo box sets the text: no notifications
  HWND focusGoesTo = nullptr;     // WM_KILLFOCUS's new focus, for the owning combo box

  LRESULT Proc(UINT message, WPARAM wParam, LPARAM lParam) override {
    switch (message) {
      case WM_SETTEXT: {
        const LRESULT result = Default(message, wParam, lParam);
        anchor_ = caret_ = 0;
        modified_ = false;
        Changed();
        return result;
      }
      case WM_CHAR:
        Char(static_cast<char16_t>(wParam));
        return 0;
      case WM_KEYDOWN:
        Key(static_cast<int>(wParam));
        return 0;
      case EM_GETSEL: {
        const int start = SelStart(), end = SelEnd();
        if (wParam) *reinterpret_cast<DWORD*>(wParam) = static_cast<DWORD>(start);
        if (lParam) *reinterpret_cast<DWORD*>(lParam) = static_cast<DWORD>(end);
        return (start > 0xFFFF || end > 0xFFFF) ? -1 : MAKELRESULT(static_cast<WORD>(start), static_cast<WORD>(end));
      }
      case EM_SETSEL: {
        const int length = static_cast<int>(Text().size());
        const int start = static_cast<int>(static_cast<LONG>(wParam));
        const int end = static_cast<int>(static_cast<LONG>(lParam));
        if (start == -1) {
          anchor_ = caret_;  // no selection, the caret stays
        } else {
          anchor_ = std::clamp(start, 0, length);
          caret_ = end < 0 ? length : std::clamp(end, 0, length);
        }
        InvalidateRect(hwnd_, nullptr, FALSE);
        return 1;
      }
      case EM_REPLACESEL:
        Replace(lParam ? std::u16string_view(reinterpret_cast<LPCWSTR>(lParam)) : std::u16string_view(), false);
        return 0;
      case EM_SETREADONLY:
        SetStyle(wParam ? (Style() | ES_READONLY) : (Style() & ~ES_READONLY));
        InvalidateRect(hwnd_, nullptr, TRUE);
        return 1;
      case EM_LIMITTEXT:
        limit_ = wParam == 0 ? kMaxLimit : static_cast<int>(std::min<WPARAM>(wParam, kMaxLimit));
        return 0;
      case EM_GETLIMITTEXT:
        return limit_;
      case EM_GETMODIFY:
        return modified_ ? TRUE : FALSE;
      case EM_SETMODIFY:
        modified_ = wParam != 0;
        return 0;
      case EM_GETLINECOUNT:
        return 1;
      case EM_LINEINDEX:
        return 0;
      case EM_LINEFROMCHAR:
        return 0;
      case EM_LINELENGTH:
        return static_cast<LRESULT>(Text().size());
      case EM_GETLINE: {
        // The first WORD of the buffer holds its size.
        if (!lParam) return 0;
        auto* buffer = reinterpret_cast<LPWSTR>(lParam);
        const std::size_t room = *reinterpret_cast<const WORD*>(buffer);
        const std::u16string text = Text();
        const std::size_t n = std::min(room, text.size());
        text.copy(buffer, n);
        return static_cast<LRESULT>(n);
      }
      case EM_CANUNDO:
      case EM_UNDO:
        return 0;
      case EM_EMPTYUNDOBUFFER:
        return 0;
      case EM_SETPASSWORDCHAR:
        password_ = static_cast<char16_t>(wParam);
        return 0;
      case EM_GETPASSWORDCHAR:
        return password_;
      case EM_GETFIRSTVISIBLELINE:
        return 0;
      case WM_CLEAR:
      case WM_CUT:
        if (!(Style() & ES_READONLY)) Replace(u"", true);
        return 0;
      case WM_SETFONT:
        font_ = reinterpret_cast<HFONT>(wParam);
        if (LOWORD(static_cast<DWORD_PTR>(lParam))) InvalidateRect(hwnd_, nullptr, TRUE);
        return 0;
      case WM_GETFONT:
        return reinterpret_cast<LRESULT>(font_);
      case WM_GETDLGCODE: {
        LRESULT code = kDlgcWantChars | kDlgcHasSetSel | kDlgcWantArrows;
        if (Style() & ES_MULTILINE) code |= kDlgcWantAllKeys;
        return code;
      }
      case WM_LBUTTONDOWN:
        // No text metrics decide where a click lands: it puts the caret at the end.
        if (GetFocus() != hwnd_) SetFocus(hwnd_);
        if (!IsWindow(hwnd_)) return 0;
        anchor_ = caret_ = static_cast<int>(Text().size());
        return 0;
      case WM_LBUTTONDBLCLK:
        anchor_ = 0;
        caret_ = static_cast<int>(Text().size());
        return 0;
      case WM_LBUTTONUP:
        return 0;
      case WM_SETFOCUS:
        if (!quiet) Command(EN_SETFOCUS);
        return 0;
      case WM_KILLFOCUS:
        focusGoesTo = reinterpret_cast<HWND>(wParam);
        if (!quiet) Command(EN_KILLFOCUS);
        return 0;
      default:
        return Default(message, wParam, lParam);
    }
  }

  void Fill(ControlState* state) const override {
    state->selStart = SelStart();
    state->selEnd = SelEnd();
    state->font = font_;
  }

  std::string Describe() const override {
    std::string out;
    if (SelStart() != SelEnd() || caret_ != 0)
      out += " sel=" + std::to_string(SelStart()) + "-" + std::to_string(SelEnd());
    if (modified_) out += " modified";
    return out;
  }

 private:
  int SelStart() const { return std::min(anchor_, caret_); }
  int SelEnd() const { return std::max(anchor_, caret_); }

  void Changed() {
    InvalidateRect(hwnd_, nullptr, TRUE);
    if (quiet) return;
    Command(EN_UPDATE);
    if (!IsWindow(hwnd_)) return;
    Command(EN_CHANGE);
  }

  // Replaces the selection; the caret ends after the new text.
  void Replace(std::u16string_view with, bool byUser) {
    std::u16string text = Text();
    const int length = static_cast<int>(text.size());
    const int start = std::clamp(SelStart(), 0, length), end = std::clamp(SelEnd(), 0, length);
    if (with.empty() && start == end) return;
    text.replace(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start), with);
    StoreText(text);
    anchor_ = caret_ = start + static_cast<int>(with.size());
    if (byUser) modified_ = true;
    Changed();
  }

  void Char(char16_t c) {
    const DWORD style = Style();
    if (c == 0x08) {  // backspace
      if (style & ES_READONLY) return;
      if (SelStart() == SelEnd()) {
        if (caret_ == 0) return;
        anchor_ = caret_ - 1;
      }
      Replace(u"", true);
      return;
    }
    if (c == 0x01) {  // Ctrl+A selects all
      anchor_ = 0;
      caret_ = static_cast<int>(Text().size());
      return;
    }
    if (c < 0x20 && c != u'\t') return;
    if (style & ES_READONLY) return;
    if ((style & ES_NUMBER) && !IsDigit(c)) return;
    if (style & ES_UPPERCASE) c = Upper(c);
    if (style & ES_LOWERCASE) c = Lower(c);
    const int length = static_cast<int>(Text().size());
    if (length - (SelEnd() - SelStart()) + 1 > limit_) {
      if (!quiet) Command(EN_MAXTEXT);
      return;
    }
    const char16_t one[1] = {c};
    Replace(std::u16string_view(one, 1), true);
  }

  void Key(int vk) {
    const int length = static_cast<int>(Text().size());
    const bool shift = KeyDown(VK_SHIFT);
    int to = caret_;
    switch (vk) {
      case VK_LEFT:
        to = (!shift && SelStart() != SelEnd()) ? SelStart() : std::max(caret_ - 1, 0);
        break;
      case VK_RIGHT:
        to = (!shift && SelStart() != SelEnd()) ? SelEnd() : std::min(caret_ + 1, length);
        break;
      case VK_HOME:
        to = 0;
        break;
      case VK_END:
        to = length;
        break;
      case VK_DELETE:
        if (Style() & ES_READONLY) return;
        if (SelStart() == SelEnd()) {
          if (caret_ >= length) return;
          anchor_ = caret_ + 1;
        }
        Replace(u"", true);
        return;
      default: {
        // The arrows of a drop-down combo box's edit go to the combo box.
        HWND parent = GetParent(hwnd_);
        if ((vk == VK_UP || vk == VK_DOWN || vk == VK_F1 + 3 || vk == VK_PRIOR || vk == VK_NEXT) && parent &&
            Find(parent) && ClassName(parent) == "ComboBox")
          SendMessageW(parent, WM_KEYDOWN, static_cast<WPARAM>(vk), 0);
        return;
      }
    }
    caret_ = to;
    if (!shift) anchor_ = to;
    InvalidateRect(hwnd_, nullptr, FALSE);
  }

  int anchor_ = 0;
  int caret_ = 0;
  int limit_ = kDefaultLimit;
  bool modified_ = false;
  char16_t password_ = 0;
};

}  // namespace

void SetEditQuiet(HWND edit, bool quiet) {
  if (auto e = FindAs<Edit>(edit)) e->quiet = quiet;
}

HWND EditFocusGoesTo(HWND edit) {
  auto e = FindAs<Edit>(edit);
  return e ? e->focusGoesTo : nullptr;
}

void RegisterEdit() {
  RegisterBuiltinClass({u"Edit", CS_DBLCLKS | CS_PARENTDC | CS_GLOBALCLASS, &ControlProc<Edit>, 0, nullptr,
                        nullptr, true});
}

}  // namespace vkr::ui::controls
