// The static control: text, icon and bitmap statics, STM_SETIMAGE, SS_NOTIFY clicks.
#include "platform/ui/control_internal.h"

namespace vkr::ui::controls {

namespace {

// The size of a bitmap, or of an icon (every icon loads at 16 x 16).
bool ImageSize(HANDLE image, UINT type, SIZE* size) {
  if (type == kImageIcon) {
    *size = SIZE{16, 16};
    return true;
  }
  BITMAP bm{};
  if (GetObjectW(image, static_cast<int>(sizeof bm), &bm) != static_cast<int>(sizeof bm)) return false;
  *size = SIZE{bm.bmWidth, bm.bmHeight};
  return true;
}

class Static final : public Control {
 public:
  using Control::Control;

  LRESULT Proc(UINT message, WPARAM wParam, LPARAM lParam) override {
    switch (message) {
      case STM_SETICON:
        return reinterpret_cast<LRESULT>(SetImage(kImageIcon, reinterpret_cast<HANDLE>(wParam)));
      case STM_GETICON:
        return imageType_ == kImageIcon ? reinterpret_cast<LRESULT>(image_) : 0;
      case STM_SETIMAGE:
        if (wParam != kImageBitmap && wParam != kImageIcon && wParam != 2 && wParam != 3) return 0;
        return reinterpret_cast<LRESULT>(SetImage(static_cast<UINT>(wParam), reinterpret_cast<HANDLE>(lParam)));
      case STM_GETIMAGE:
        return imageType_ == wParam ? reinterpret_cast<LRESULT>(image_) : 0;
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
        // Without SS_NOTIFY the static lets the mouse through to its parent.
        return (Style() & SS_NOTIFY) ? HTCLIENT : HTTRANSPARENT;
      case WM_LBUTTONDOWN:
        pressed_ = true;
        return 0;
      case WM_LBUTTONUP:
        if (pressed_ && (Style() & SS_NOTIFY)) {
          pressed_ = false;
          Command(STN_CLICKED);
        }
        pressed_ = false;
        return 0;
      case WM_LBUTTONDBLCLK:
        if (Style() & SS_NOTIFY) Command(STN_DBLCLK);
        return 0;
      case WM_ENABLE:
        if (Style() & SS_NOTIFY) Command(wParam ? STN_ENABLE : STN_DISABLE);
        InvalidateRect(hwnd_, nullptr, TRUE);
        return 0;
      case WM_GETDLGCODE:
        return kDlgcStatic;
      default:
        return Default(message, wParam, lParam);
    }
  }

  void Fill(ControlState* state) const override {
    state->image = image_;
    state->imageType = imageType_;
    state->font = font_;
  }

  std::string Describe() const override { return image_ ? " image" : ""; }

 private:
  HANDLE SetImage(UINT type, HANDLE image) {
    HANDLE old = image_;
    image_ = image;
    imageType_ = type;
    // An image static takes the image's size when the image is set; a later move keeps what the
    // move gave (the image is then drawn unscaled and clipped).
    const DWORD kind = Style() & SS_TYPEMASK;
    const bool sizes = ((kind == SS_BITMAP && type == kImageBitmap) || (kind == SS_ICON && type == kImageIcon)) &&
                       !(Style() & (SS_REALSIZECONTROL | SS_CENTERIMAGE));
    SIZE size{};
    if (image && sizes && ImageSize(image, type, &size) && size.cx > 0 && size.cy > 0)
      SetWindowPos(hwnd_, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(hwnd_, nullptr, TRUE);
    return old;
  }

  HANDLE image_ = nullptr;
  UINT imageType_ = kImageBitmap;
  bool pressed_ = false;
};

}  // namespace

void RegisterStatic() {
  RegisterBuiltinClass({u"Static", CS_DBLCLKS | CS_PARENTDC | CS_GLOBALCLASS, &ControlProc<Static>, 0, nullptr,
                        nullptr, false});
}

}  // namespace vkr::ui::controls
