// The button control in all its kinds: push, default push, check boxes, 3-state, radio buttons,
// group box, owner-drawn; clicks, check state, BN_ notifications and WM_DRAWITEM.
#include "platform/ui/control_internal.h"

namespace vkr::ui::controls {

namespace {

bool IsRadio(DWORD kind) { return kind == BS_RADIOBUTTON || kind == BS_AUTORADIOBUTTON; }

class Button final : public Control {
 public:
  using Control::Control;

  LRESULT Proc(UINT message, WPARAM wParam, LPARAM lParam) override {
    switch (message) {
      case BM_GETCHECK:
        return check_;
      case BM_SETCHECK:
        // Kept for every kind, push and owner-drawn buttons included: owner-drawn cells use it.
        check_ = wParam > BST_INDETERMINATE ? BST_CHECKED : static_cast<UINT>(wParam);
        Redraw(ODA_SELECT);
        return 0;
      case BM_GETSTATE:
        return check_ | (pushed_ ? BST_PUSHED : 0) | (GetFocus() == hwnd_ ? BST_FOCUS : 0);
      case BM_SETSTATE:
        if ((wParam != 0) != pushed_) {
          pushed_ = wParam != 0;
          Redraw(ODA_SELECT);
        }
        return 0;
      case BM_SETSTYLE: {
        const DWORD style = (Style() & 0xFFFF0000u) | (static_cast<DWORD>(wParam) & 0xFFFFu);
        if (style != Style()) SetStyle(style);
        if (lParam) InvalidateRect(hwnd_, nullptr, TRUE);
        return 0;
      }
      case BM_CLICK:
        // As a mouse click in the middle of the button: the focus first, then BN_CLICKED.
        if (!IsWindowEnabled(hwnd_)) return 0;
        SendMessageW(hwnd_, WM_LBUTTONDOWN, MK_LBUTTON, 0);
        SendMessageW(hwnd_, WM_LBUTTONUP, 0, 0);
        return 0;
      case BM_GETIMAGE:
        return reinterpret_cast<LRESULT>(image_);
      case BM_SETIMAGE: {
        HANDLE old = image_;
        image_ = reinterpret_cast<HANDLE>(lParam);
        InvalidateRect(hwnd_, nullptr, TRUE);
        return reinterpret_cast<LRESULT>(old);
      }
      case WM_SETFONT:
        font_ = reinterpret_cast<HFONT>(wParam);
        if (LOWORD(static_cast<DWORD_PTR>(lParam))) InvalidateRect(hwnd_, nullptr, TRUE);
        return 0;
      case WM_GETFONT:
        return reinterpret_cast<LRESULT>(font_);
      case WM_SETTEXT: {
        const LRESULT result = Default(message, wParam, lParam);
        InvalidateRect(hwnd_, nullptr, TRUE);
        return result;
      }
      case WM_NCHITTEST:
        return Kind() == BS_GROUPBOX ? HTTRANSPARENT : HTCLIENT;
      case WM_GETDLGCODE:
        return DialogCode();
      case WM_LBUTTONDOWN:
      case WM_LBUTTONDBLCLK:
        if (Kind() == BS_GROUPBOX) return 0;
        if (GetFocus() != hwnd_) SetFocus(hwnd_);
        // The focus change may have destroyed or disabled us.
        if (!IsWindow(hwnd_) || !IsWindowEnabled(hwnd_)) return 0;
        if (message == WM_LBUTTONDBLCLK && (Style() & BS_NOTIFY)) Command(BN_DBLCLK);
        SetCapture(hwnd_);
        tracking_ = true;
        SendMessageW(hwnd_, BM_SETSTATE, TRUE, 0);
        return 0;
      case WM_LBUTTONUP:
        if (!tracking_) return 0;
        tracking_ = false;
        if (GetCapture() == hwnd_) ReleaseCapture();
        SendMessageW(hwnd_, BM_SETSTATE, FALSE, 0);
        if (InsideClient(lParam)) Clicked();
        return 0;
      case WM_KEYDOWN:
        if (wParam == VK_SPACE && Kind() != BS_GROUPBOX) {
          spaceDown_ = true;
          SendMessageW(hwnd_, BM_SETSTATE, TRUE, 0);
        }
        return 0;
      case WM_KEYUP:
        if (wParam == VK_SPACE && spaceDown_) {
          spaceDown_ = false;
          SendMessageW(hwnd_, BM_SETSTATE, FALSE, 0);
          Clicked();
        }
        return 0;
      case WM_CHAR:
        return 0;
      case WM_SETFOCUS:
        if (Style() & BS_NOTIFY) Command(BN_SETFOCUS);
        Redraw(ODA_FOCUS);
        return 0;
      case WM_KILLFOCUS:
        spaceDown_ = false;
        if (pushed_) {
          pushed_ = false;
          Redraw(ODA_SELECT);
        }
        if (Style() & BS_NOTIFY) Command(BN_KILLFOCUS);
        Redraw(ODA_FOCUS);
        return 0;
      case WM_ENABLE:
        InvalidateRect(hwnd_, nullptr, TRUE);
        return 0;
      case WM_PAINT:
        if (Kind() == BS_OWNERDRAW) {
          PAINTSTRUCT ps{};
          HDC dc = BeginPaint(hwnd_, &ps);
          DrawItem(ODA_DRAWENTIRE, dc);
          EndPaint(hwnd_, &ps);
          return 0;
        }
        return Default(message, wParam, lParam);
      default:
        return Default(message, wParam, lParam);
    }
  }

  void Fill(ControlState* state) const override {
    state->check = check_;
    state->buttonState = (pushed_ ? BST_PUSHED : 0) | (GetFocus() == hwnd_ ? BST_FOCUS : 0);
    state->image = image_;
    state->font = font_;
  }

  std::string Describe() const override {
    std::string out;
    if (check_ == BST_CHECKED) out += " checked";
    if (check_ == BST_INDETERMINATE) out += " indeterminate";
    if (pushed_) out += " pushed";
    return out;
  }

 private:
  DWORD Kind() const { return Style() & BS_TYPEMASK; }

  LRESULT DialogCode() const {
    switch (Kind()) {
      case BS_PUSHBUTTON:
      case BS_PUSHBOX:
        return kDlgcButton | kDlgcUndefPushButton;
      case BS_DEFPUSHBUTTON:
        return kDlgcButton | kDlgcDefPushButton;
      case BS_RADIOBUTTON:
      case BS_AUTORADIOBUTTON:
        return kDlgcButton | kDlgcRadioButton;
      case BS_GROUPBOX:
        return kDlgcStatic;
      default:
        return kDlgcButton;
    }
  }

  bool InsideClient(LPARAM lParam) const {
    RECT rc{};
    GetClientRect(hwnd_, &rc);
    const int x = GET_X_LPARAM(lParam), y = GET_Y_LPARAM(lParam);
    return x >= rc.left && x < rc.right && y >= rc.top && y < rc.bottom;
  }

  // The automatic kinds change their check before the parent hears BN_CLICKED.
  void Clicked() {
    switch (Kind()) {
      case BS_AUTOCHECKBOX:
        SendMessageW(hwnd_, BM_SETCHECK, check_ == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED, 0);
        break;
      case BS_AUTO3STATE:
        SendMessageW(hwnd_, BM_SETCHECK, (check_ + 1) % 3, 0);
        break;
      case BS_AUTORADIOBUTTON:
        UncheckGroupSiblings();
        SendMessageW(hwnd_, BM_SETCHECK, BST_CHECKED, 0);
        break;
      default:
        break;
    }
    Command(BN_CLICKED);
  }

  // The group runs from the sibling with WS_GROUP at or before us to the next one with WS_GROUP.
  void UncheckGroupSiblings() {
    HWND parent = GetParent(hwnd_);
    if (!parent) return;
    HWND first = hwnd_;
    while (!(GetWindowLongW(first, GWL_STYLE) & WS_GROUP)) {
      HWND prev = GetWindow(first, GW_HWNDPREV);
      if (!prev) break;
      first = prev;
    }
    for (HWND w = first; w; w = GetWindow(w, GW_HWNDNEXT)) {
      if (w != first && (GetWindowLongW(w, GWL_STYLE) & WS_GROUP)) break;
      if (w == hwnd_ || !FindAs<Button>(w)) continue;
      if (IsRadio(static_cast<DWORD>(GetWindowLongW(w, GWL_STYLE)) & BS_TYPEMASK) &&
          SendMessageW(w, BM_GETCHECK, 0, 0) != BST_UNCHECKED)
        SendMessageW(w, BM_SETCHECK, BST_UNCHECKED, 0);
    }
  }

  void Redraw(UINT action) {
    if (Kind() == BS_OWNERDRAW) DrawItem(action);
    else InvalidateRect(hwnd_, nullptr, TRUE);
  }

  // An owner-drawn button is drawn by its parent, at once, as Windows does on each change.
  void DrawItem(UINT action, HDC paintDc = nullptr) {
    HWND parent = GetParent(hwnd_);
    if (!parent) return;
    DRAWITEMSTRUCT dis{};
    dis.CtlType = ODT_BUTTON;
    dis.CtlID = static_cast<UINT>(GetDlgCtrlID(hwnd_));
    dis.itemAction = action;
    dis.itemState = (pushed_ ? ODS_SELECTED : 0) | (GetFocus() == hwnd_ ? ODS_FOCUS : 0) |
                    (IsWindowEnabled(hwnd_) ? 0 : ODS_DISABLED);
    dis.hwndItem = hwnd_;
    dis.hDC = paintDc ? paintDc : GetDC(hwnd_);
    if (dis.hDC) PrepareItemDc(hwnd_, dis.hDC);
    GetClientRect(hwnd_, &dis.rcItem);
    SendMessageW(parent, WM_DRAWITEM, dis.CtlID, reinterpret_cast<LPARAM>(&dis));
    if (dis.hDC && !paintDc) ReleaseDC(hwnd_, dis.hDC);
  }

  UINT check_ = BST_UNCHECKED;
  bool pushed_ = false;
  bool tracking_ = false;
  bool spaceDown_ = false;
  HANDLE image_ = nullptr;
};

}  // namespace

void RegisterButton() {
  RegisterBuiltinClass({u"Button", CS_DBLCLKS | CS_PARENTDC | CS_HREDRAW | CS_VREDRAW | CS_GLOBALCLASS,
                        &ControlProc<Button>, 0, nullptr, nullptr, false});
}

}  // namespace vkr::ui::controls
