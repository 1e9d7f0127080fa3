// The property page base (ATL's property page): a COM property page whose window is a child
// dialog made from the class's template when the frame activates it.
//
//   class CMyPage : public vkr::atl::PropertyPage<CMyPage, IMyPage> {
//    public:
//     static constexpr UINT IDD = 110;          // the dialog template
//     static constexpr UINT IDS_TITLE = 241;    // string resources (0: none)
//     static constexpr UINT IDS_HELPFILE = 248;
//     static constexpr UINT IDS_DOCSTRING = 255;
//   };
//
// Activate makes the dialog on the frame's window at the template's size and moves it to the
// rectangle; Show and Move act on it; Deactivate destroys it. GetPageInfo gives the template's
// size in pixels and the strings as task memory (the frame frees them). SetPageSite and
// SetObjects keep what they are given; SetDirty tells the site PROPPAGESTATUS_DIRTY or
// PROPPAGESTATUS_CLEAN when the flag changes. Apply, Help and TranslateAccelerator are hooks.
#pragma once

#include <string>
#include <vector>

#include "platform/atl/axwindow.h"
#include "platform/com/memory.h"
#include "platform/com/ole.h"
#include "platform/win/resources.h"

namespace vkr::atl {

template <class T, class... Itfs>
class PropertyPage : public Implements<IPropertyPage, Itfs...>, public AxDialogWindow {
 public:
  ComPtr<IPropertyPageSite> m_pPageSite;
  std::vector<ComPtr<IUnknown>> m_ppUnk;
  BOOL m_bDirty = FALSE;
  SIZE m_size{0, 0};
  DWORD m_dwHelpContext = 0;

  // ---- Hooks for the class ----
  virtual HRESULT OnApply() { return S_OK; }
  virtual HRESULT OnHelp(LPCOLESTR) { return S_OK; }
  // A keystroke for the page before its dialog manager sees it: return true with *result.
  virtual bool PreTranslateAccelerator(MSG*, HRESULT*) { return false; }
  // The window was made (before it is moved to the frame's rectangle).
  virtual void OnWindowCreated() {}
  // The text of string resource `id` of the class's module; false when there is none.
  virtual bool PageString(UINT id, std::u16string* text) {
    WCHAR buffer[1024] = {};
    const int n = ::LoadStringW(ResourceInstance(), id, buffer, 1024);
    if (n <= 0) return false;
    text->assign(buffer, static_cast<std::size_t>(n));
    return true;
  }

  void SetDirty(BOOL dirty) {
    const BOOL value = dirty ? TRUE : FALSE;
    if (m_bDirty == value) return;
    m_bDirty = value;
    if (m_pPageSite) m_pPageSite->OnStatusChange(value ? PROPPAGESTATUS_DIRTY : PROPPAGESTATUS_CLEAN);
  }

  // ---- IPropertyPage ----
  HRESULT SetPageSite(IPropertyPageSite* site) override {
    m_pPageSite = site;
    return S_OK;
  }
  HRESULT Activate(HWND parent, LPCRECT rect, BOOL) override {
    if (!rect) return E_POINTER;
    if (!m_hWnd) {
      if (!CreateDialogWindow(T::IDD, parent)) return E_FAIL;
      OnWindowCreated();
    }
    HRESULT hr = Move(rect);
    if (FAILED(hr)) return hr;
    m_size = {rect->right - rect->left, rect->bottom - rect->top};
    return S_OK;
  }
  HRESULT Deactivate() override {
    DestroyDialogWindow();
    return S_OK;
  }
  HRESULT GetPageInfo(PROPPAGEINFO* info) override {
    if (!info) return E_POINTER;
    SIZE px{};
    if (!this->TemplatePixels(T::IDD, &px)) return E_UNEXPECTED;
    PROPPAGEINFO out{};
    out.cb = sizeof(PROPPAGEINFO);
    out.size = px;
    out.dwHelpContext = m_dwHelpContext;
    if (!LoadTaskString(TitleId(), &out.pszTitle) || !LoadTaskString(DocStringId(), &out.pszDocString) ||
        !LoadTaskString(HelpFileId(), &out.pszHelpFile)) {
      ::CoTaskMemFree(out.pszTitle);
      ::CoTaskMemFree(out.pszDocString);
      ::CoTaskMemFree(out.pszHelpFile);
      return E_OUTOFMEMORY;
    }
    *info = out;
    return S_OK;
  }
  HRESULT SetObjects(ULONG count, IUnknown** objects) override {
    if (count > 0 && !objects) return E_POINTER;
    std::vector<ComPtr<IUnknown>> kept;
    kept.reserve(count);
    for (ULONG i = 0; i < count; ++i) kept.emplace_back(objects[i]);
    m_ppUnk.swap(kept);
    return S_OK;
  }
  HRESULT Show(UINT cmd) override {
    if (!m_hWnd) return E_UNEXPECTED;
    ::ShowWindow(m_hWnd, static_cast<int>(cmd));
    return S_OK;
  }
  HRESULT Move(LPCRECT rect) override {
    if (!m_hWnd) return E_UNEXPECTED;
    if (!rect) return E_POINTER;
    ::MoveWindow(m_hWnd, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, TRUE);
    return S_OK;
  }
  HRESULT IsPageDirty() override { return m_bDirty ? S_OK : S_FALSE; }
  HRESULT Apply() override {
    HRESULT hr = OnApply();
    if (SUCCEEDED(hr)) SetDirty(FALSE);
    return hr;
  }
  HRESULT Help(LPCOLESTR helpDir) override { return OnHelp(helpDir); }
  HRESULT TranslateAccelerator(MSG* msg) override {
    if (!msg) return E_POINTER;
    HRESULT result = S_FALSE;
    if (PreTranslateAccelerator(msg, &result)) return result;
    if (m_hWnd && (msg->hwnd == m_hWnd || ::IsChild(m_hWnd, msg->hwnd)) && ::IsDialogMessageW(m_hWnd, msg))
      return S_OK;
    return S_FALSE;
  }

 protected:
  IUnknown* OwnerUnknown() override { return this->GetControllingUnknown(); }

  virtual UINT TitleId() const {
    if constexpr (requires { T::IDS_TITLE; }) return T::IDS_TITLE;
    return 0;
  }
  virtual UINT HelpFileId() const {
    if constexpr (requires { T::IDS_HELPFILE; }) return T::IDS_HELPFILE;
    return 0;
  }
  virtual UINT DocStringId() const {
    if constexpr (requires { T::IDS_DOCSTRING; }) return T::IDS_DOCSTRING;
    return 0;
  }

 private:
  // A string resource as task memory; null for id 0 or a missing string. False when out of memory.
  bool LoadTaskString(UINT id, LPOLESTR* out) {
    *out = nullptr;
    if (id == 0) return true;
    std::u16string text;
    if (!PageString(id, &text)) return true;
    *out = CoTaskMemString(text);
    return *out != nullptr;
  }
};

}  // namespace vkr::atl
