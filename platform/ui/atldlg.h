// ATL-style dialog classes: CDialogImpl (a dialog from the class's template IDD, modeless with
// Create or modal with DoModal, messages through the class's message map) and CAxDialogImpl (the
// same for templates with hosted items, which the OLE layer makes through the dialog engine's
// hosted-item creator).
//
//   class CMyPage : public CDialogImpl<CMyPage> {
//    public:
//     enum { IDD = 112 };
//     BEGIN_MSG_MAP(CMyPage)
//       MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
//       COMMAND_ID_HANDLER(IDOK, OnOk)
//     END_MSG_MAP()
//   };
//
// A handled message answers through DWLP_MSGRESULT (or directly, for the messages whose dialog
// procedure result is the answer: WM_INITDIALOG, WM_CTLCOLOR*, ...); an unhandled one gets the
// dialog's default handling. The template comes from the module that holds the class's code, or
// from T::GetDialogInstance() when the class has one.
#pragma once

#include <vector>

#include "platform/ui/atlwin.h"
#include "platform/ui/dialogs.h"
#include "platform/win/module.h"

namespace vkr::ui::atl_detail {

// The dialog objects being created on this thread, innermost last: a dialog takes its object at
// its first message, which comes before any dialog created inside it gets its own.
inline std::vector<void*>& CreatingDialogs() {
  thread_local std::vector<void*> stack;
  return stack;
}

inline bool AnswersDirectly(UINT message) {
  switch (message) {
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
    case WM_INITDIALOG:
      return true;
    default:
      return false;
  }
}

}  // namespace vkr::ui::atl_detail

template <class TBase = CWindow>
class CDialogImplBaseT : public CWindowImplRoot<TBase> {
 public:
  bool m_bModal = false;

  // The dialog procedure of the first message: binds the object being created to the window.
  static INT_PTR StartDialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    auto& creating = vkr::ui::atl_detail::CreatingDialogs();
    if (creating.empty()) return FALSE;
    auto* self = static_cast<CDialogImplBaseT*>(creating.back());
    creating.pop_back();
    self->m_hWnd = hWnd;
    vkr::ui::SetWindowObject(hWnd, self);
    ::SetWindowLongPtrW(hWnd, DWLP_DLGPROC, reinterpret_cast<LONG_PTR>(&DialogProc));
    return DialogProc(hWnd, uMsg, wParam, lParam);
  }

  static INT_PTR DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    auto* self = static_cast<CDialogImplBaseT*>(vkr::ui::GetWindowObject(hWnd));
    if (!self) return FALSE;
    bool handled = true;
    const LRESULT result = CWindowImplRoot<TBase>::RouteMessage(
        self, hWnd, uMsg, wParam, lParam, [&handled, hWnd](UINT m, WPARAM, LPARAM) -> LRESULT {
          handled = false;  // the dialog's default handling follows in DefDlgProc
          if (m == WM_NCDESTROY) vkr::ui::SetWindowObject(hWnd, nullptr);
          return 0;
        });
    if (uMsg == WM_NCDESTROY && handled) vkr::ui::SetWindowObject(hWnd, nullptr);
    if (!handled) return FALSE;
    if (vkr::ui::atl_detail::AnswersDirectly(uMsg)) return static_cast<INT_PTR>(result);
    if (::IsWindow(hWnd)) ::SetWindowLongPtrW(hWnd, DWLP_MSGRESULT, result);
    return TRUE;
  }

  // Ends a modal dialog; a modeless one is destroyed.
  BOOL EndDialog(int result) {
    if (m_bModal) return ::EndDialog(this->m_hWnd, result);
    return ::DestroyWindow(this->m_hWnd);
  }

  // The next or previous tab stop, as WM_NEXTDLGCTL does it.
  void GotoDlgCtrl(HWND control) { ::SendMessageW(this->m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), 1); }
  void NextDlgCtrl() const { ::SendMessageW(this->m_hWnd, WM_NEXTDLGCTL, 0, 0); }
  void PrevDlgCtrl() const { ::SendMessageW(this->m_hWnd, WM_NEXTDLGCTL, 1, 0); }
  BOOL SetDefID(int id) { return static_cast<BOOL>(::SendMessageW(this->m_hWnd, DM_SETDEFID, id, 0)); }
  BOOL MapDialogRect(LPRECT rect) const { return ::MapDialogRect(this->m_hWnd, rect); }
  BOOL IsDialogMessage(LPMSG msg) { return ::IsDialogMessageW(this->m_hWnd, msg); }

 protected:
  // Runs a creation call with this object waiting for the dialog's first message.
  template <class Call>
  auto Creating(Call call) {
    auto& creating = vkr::ui::atl_detail::CreatingDialogs();
    creating.push_back(static_cast<CDialogImplBaseT*>(this));
    const std::size_t depth = creating.size();
    auto result = call();
    // Not taken (the template was missing): forget it.
    if (creating.size() == depth && creating.back() == static_cast<CDialogImplBaseT*>(this)) creating.pop_back();
    return result;
  }
};

using CDialogImplBase = CDialogImplBaseT<CWindow>;

template <class T, class TBase = CWindow>
class CDialogImpl : public CDialogImplBaseT<TBase> {
 public:
  static HINSTANCE GetDialogInstance() { return vkr::ui::atl_detail::ThisModule(); }

  HWND Create(HWND parent, LPARAM init = 0) {
    this->m_bModal = false;
    return this->Creating([&] {
      return ::CreateDialogParamW(T::GetDialogInstance(), MAKEINTRESOURCEW(static_cast<WORD>(T::IDD)), parent,
                                  &CDialogImplBaseT<TBase>::StartDialogProc, init);
    });
  }
  HWND Create(HWND parent, RECT& rect, LPARAM init = 0) {
    HWND h = Create(parent, init);
    if (h) ::SetWindowPos(h, nullptr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                          SWP_NOZORDER | SWP_NOACTIVATE);
    return h;
  }
  INT_PTR DoModal(HWND parent = ::GetActiveWindow(), LPARAM init = 0) {
    this->m_bModal = true;
    return this->Creating([&] {
      return ::DialogBoxParamW(T::GetDialogInstance(), MAKEINTRESOURCEW(static_cast<WORD>(T::IDD)), parent,
                               &CDialogImplBaseT<TBase>::StartDialogProc, init);
    });
  }
  BOOL DestroyWindow() {
    if (this->m_bModal) return FALSE;
    return ::DestroyWindow(this->m_hWnd);
  }
};

// A dialog whose template holds hosted items (CLSIDs or ProgIDs): the dialog engine makes them
// through the hosted-item creator the OLE layer installs; the ones that fail are in
// vkr::ui::GetHostedItemFailures(m_hWnd).
template <class T, class TBase = CWindow>
class CAxDialogImpl : public CDialogImpl<T, TBase> {
 public:
  std::vector<vkr::ui::HostedItemFailure> GetHostedItemFailures() const {
    return vkr::ui::GetHostedItemFailures(this->m_hWnd);
  }
};
