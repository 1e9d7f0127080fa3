// The window side the OLE bases share: a dialog made from a template of the class's module, its
// dialog procedure routed to the class's message map (ProcessWindowMessage, as ATL's maps make
// it), and the object kept alive while one of its window's messages is being handled, so that a
// handler may have the window destroyed and the object released (the close request) safely.
#pragma once

#include <string>

#include "platform/atl/axhost.h"
#include "platform/com/object.h"
#include "platform/ui/atlwin.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/windows.h"
#include "platform/win/module.h"

namespace vkr::atl {

// A CWindow (its m_hWnd and helpers) with a message map (CMessageMap: BEGIN_MSG_MAP in the class
// overrides ProcessWindowMessage).
class AxDialogWindow : public CWindow, public CMessageMap {
 public:
  AxDialogWindow() = default;
  AxDialogWindow(const AxDialogWindow&) = delete;
  AxDialogWindow& operator=(const AxDialogWindow&) = delete;
  virtual ~AxDialogWindow() {
    // The class above is gone: its map must not see the last messages.
    m_dying = true;
    if (m_hWnd && ::IsWindow(m_hWnd)) ::DestroyWindow(m_hWnd);
  }

  // The class's message map: TRUE when it handled the message (lResult is the answer).
  BOOL ProcessWindowMessage(HWND, UINT, WPARAM, LPARAM, LRESULT&, DWORD = 0) override { return FALSE; }

  // The control hosted by dialog item `id` of this window, as interface iid (ATL's CWindow member).
  HRESULT GetDlgControl(int id, REFIID iid, void** ppv) const { return ::GetDlgControl(m_hWnd, id, iid, ppv); }

  // The class's dialog template as text in memory, for a class without resources of its own;
  // null (the default) takes the template from ResourceInstance().
  virtual const char* TemplateText() const { return nullptr; }

  // The size in pixels of the class's dialog template.
  bool TemplatePixels(UINT id, SIZE* pixels) const {
    if (const char* text = TemplateText()) {
      vkr::ui::DialogTemplate parsed;
      std::string error;
      if (!vkr::ui::ParseDialogTemplate(text, &parsed, &error)) return false;
      *pixels = vkr::ui::DialogUnitsToPixels(parsed.cx, parsed.cy);
      return true;
    }
    return vkr::ui::DialogTemplateSize(ResourceInstance(), static_cast<WORD>(id), pixels) != FALSE;
  }

  // The module whose resources hold the class's dialog template and strings.
  virtual HINSTANCE ResourceInstance() const { return vkr::platform::ModuleFromAddress(reinterpret_cast<const void*>(&DialogProc)); }

 protected:
  // What the base does with a message the class's map left: TRUE with *result when it answered.
  virtual BOOL BaseWindowMessage(UINT, WPARAM, LPARAM, LRESULT*) { return FALSE; }

  // The COM object that owns the window: referenced while a message is handled.
  virtual IUnknown* OwnerUnknown() = 0;

  // Makes the dialog `id` as a child of `parent`; NULL when it could not be made.
  HWND CreateDialogWindow(UINT id, HWND parent) {
    if (m_hWnd) return m_hWnd;
    ::AtlAxWinInit();
    if (const char* text = TemplateText())
      return ::CreateDialogIndirectParamW(ResourceInstance(), reinterpret_cast<LPCDLGTEMPLATEW>(text), parent,
                                        &DialogProc, reinterpret_cast<LPARAM>(this));
    return ::CreateDialogParamW(ResourceInstance(), MAKEINTRESOURCEW(static_cast<WORD>(id)), parent, &DialogProc,
                              reinterpret_cast<LPARAM>(this));
  }
  void DestroyDialogWindow() {
    if (m_hWnd && ::IsWindow(m_hWnd)) ::DestroyWindow(m_hWnd);
    m_hWnd = nullptr;
  }

 private:
  static INT_PTR DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = static_cast<AxDialogWindow*>(vkr::ui::GetWindowObject(hwnd));
    if (!self && message == WM_INITDIALOG) {
      self = reinterpret_cast<AxDialogWindow*>(lParam);
      if (!self) return FALSE;
      self->m_hWnd = hwnd;
      vkr::ui::SetWindowObject(hwnd, self);
    }
    if (!self) return FALSE;
    if (message == WM_NCDESTROY) {
      vkr::ui::SetWindowObject(hwnd, nullptr);
      if (self->m_hWnd == hwnd) self->m_hWnd = nullptr;
      return FALSE;
    }
    if (self->m_dying) return FALSE;
    ComPtr<IUnknown> keep(self->OwnerUnknown());
    LRESULT result = 0;
    BOOL handled = self->ProcessWindowMessage(hwnd, message, wParam, lParam, result, 0);
    if (!handled && !self->m_dying) handled = self->BaseWindowMessage(message, wParam, lParam, &result);
    if (!handled) return message == WM_INITDIALOG ? TRUE : FALSE;
    switch (message) {
      // The messages whose answer is the dialog procedure's own return value.
      case WM_INITDIALOG:
      case WM_CTLCOLORDLG:
      case WM_CTLCOLORSTATIC:
      case WM_CTLCOLOREDIT:
      case WM_CTLCOLORBTN:
      case WM_CTLCOLORLISTBOX:
      case WM_CTLCOLORSCROLLBAR:
      case WM_COMPAREITEM:
      case WM_VKEYTOITEM:
      case WM_CHARTOITEM:
      case WM_QUERYDRAGICON:
        return static_cast<INT_PTR>(result);
      default:
        if (::IsWindow(hwnd)) ::SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
        return TRUE;
    }
  }

  bool m_dying = false;
};

}  // namespace vkr::atl
