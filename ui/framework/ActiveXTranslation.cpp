// CovFDT_ActiveXTranslationImpl: a user interface's dialog translated from the DTM's translation
// document (texts, tooltips, bitmaps, page title, help file).
#include "ui/framework/ActiveXTranslation.h"

#include <string>
#include <string_view>

#include "xml/XmlHelpers.h"

namespace {

constexpr char16_t kClassPathStart[] = u"localization/ActiveXList/ActiveX[@classname=\"";
constexpr ULONG kFieldExists = 0x80000000;
constexpr ULONG kFieldDescription = 0x8000;
constexpr LONG kTypeComboBox = 4;
constexpr DWORD kTooltipStyle = WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP;
constexpr int kTooltipWidth = 300;

std::u16string ClassPath(std::u16string_view userTypeName) {
  return kClassPathStart + std::u16string(userTypeName) + u"\"]";
}

std::u16string View(BSTR text) { return text ? std::u16string(text, SysStringLen(text)) : std::u16string(); }

// The translation of path: S_OK with found set, or the look-up's answer with found clear.
HRESULT Lookup(IovFdtTranslation* translation, const std::u16string& path, vkr::Bstr* text, bool* found) {
  *found = false;
  vkr::Bstr xpath(path);
  VARIANT_BOOL hit = VARIANT_FALSE;
  const HRESULT hr = translation->GetTranslation(xpath, text->Put(), &hit);
  *found = SUCCEEDED(hr) && hit != VARIANT_FALSE;
  return hr;
}

bool NodeExists(IovFdtTranslation* translation, const std::u16string& path, HRESULT* hr) {
  vkr::Bstr xpath(path);
  VARIANT_BOOL exists = VARIANT_FALSE;
  *hr = translation->HasTranslationNode(xpath, &exists);
  return SUCCEEDED(*hr) && exists != VARIANT_FALSE;
}

// A translated text that merely repeats its node path is no text.
bool IsText(const vkr::Bstr& text, BSTR nodePath) {
  return VarBstrCmp(text.Get(), nodePath, LOCALE_USER_DEFAULT, 0) != VARCMP_EQ;
}

// The tooltip of a parameter-bound control: the parameter's translated description. For an
// enumerated parameter the DTM keeps the whole enumeration's document there; its own description
// is what the user reads, never the markup.
std::u16string TooltipOf(BSTR description) {
  std::u16string text = View(description);
  if (text.rfind(u"<Enumeration", 0) != 0) return text;
  vkr::ComPtr<IXMLDOMDocument2> document;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  if (FAILED(LoadXmlFromString(description, document.Put(), &loaded)) || !loaded || !document) return text;
  vkr::Bstr own;
  if (FAILED(SelectNodeText(document.Get(), vkr::Bstr(u"Enumeration/Description"), own.Put()))) return text;
  return own.Str();
}

vkr::ComPtr<IovFdtTranslation> TranslationOf(IUnknown* dtm) {
  vkr::ComPtr<IovFdtTranslation> translation;
  if (dtm && FAILED(dtm->QueryInterface(IovFdtTranslation::iid, translation.PutVoid()))) translation = nullptr;
  return translation;
}

bool IsBitmapStatic(HWND item) {
  char className[10] = {};
  GetClassNameA(item, className, static_cast<int>(sizeof className));
  const std::string_view name(className);
  const std::string_view expected("Static");
  if (name.size() != expected.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    char e = expected[i];
    if (e >= 'A' && e <= 'Z') e = static_cast<char>(e - 'A' + 'a');
    if (c != e) return false;
  }
  return (GetWindowLongA(item, GWL_STYLE) & 0x1F) == SS_BITMAP;
}

}  // namespace

CovFDT_ActiveXTranslationImpl::CovFDT_ActiveXTranslationImpl(CovFDT_BaseActiveXImpl& ui,
                                                             const ControlNameEntry* controlNames)
    : m_ui(ui), m_pControlNames(controlNames) {}

CovFDT_ActiveXTranslationImpl::~CovFDT_ActiveXTranslationImpl() {
  // Normally gone with OnTranslate(0); a user interface released without its tear-down still
  // leaves no tooltip window or bitmap behind.
  for (auto& [control, tooltip] : m_mapTooltips)
    if (IsWindow(tooltip)) DestroyWindow(tooltip);
  m_mapTooltips.clear();
  GiveBackBitmaps();
}

HRESULT CovFDT_ActiveXTranslationImpl::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}
HRESULT CovFDT_ActiveXTranslationImpl::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info) *info = nullptr;
  return E_NOTIMPL;
}
HRESULT CovFDT_ActiveXTranslationImpl::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }
HRESULT CovFDT_ActiveXTranslationImpl::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
  return E_NOTIMPL;
}

// ---- Interfaces -------------------------------------------------------------------------------

HRESULT CovFDT_ActiveXTranslationImpl::QueryDtmTranslation(REFIID riid, void** object) {
  return QueryDtmTranslation(m_ui.DtmObject(), riid, object);
}

HRESULT CovFDT_ActiveXTranslationImpl::QueryDtmTranslation(IUnknown* dtm, REFIID riid, void** object) {
  if (!object) return E_INVALIDARG;
  *object = nullptr;
  if (riid != IovFdtTranslation::iid) return E_NOINTERFACE;
  if (!dtm) return E_NOINTERFACE;
  vkr::ComPtr<IovFdtTranslation> translation = TranslationOf(dtm);
  if (!translation) return E_NOINTERFACE;
  *object = translation.Detach();
  return S_OK;
}

HRESULT CovFDT_ActiveXTranslationImpl::QueryTranslationInterface(REFIID riid, void** object) {
  if (!object) return E_INVALIDARG;
  *object = nullptr;
  if (riid == IovFdtTranslationEvent::iid) {
    auto* self = static_cast<IovFdtTranslationEvent*>(this);
    self->AddRef();
    *object = self;
    return S_OK;
  }
  if (riid == IovFdtTranslation::iid) return QueryDtmTranslation(riid, object);
  return E_NOINTERFACE;
}

vkr::ComPtr<IovFdtTranslation> CovFDT_ActiveXTranslationImpl::OwnTranslation() {
  vkr::ComPtr<IovFdtTranslation> translation;
  if (FAILED(m_ui.QueryInterface(IovFdtTranslation::iid, translation.PutVoid()))) translation = nullptr;
  return translation;
}

HWND CovFDT_ActiveXTranslationImpl::GetTranslationItem(LONG controlId) {
  HWND dialog = m_ui.DialogWindow();
  return dialog && controlId != 0 ? GetDlgItem(dialog, static_cast<int>(controlId)) : nullptr;
}

// ---- Class texts ------------------------------------------------------------------------------

HRESULT CovFDT_ActiveXTranslationImpl::GetUserTypeName(REFCLSID clsid, BSTR* name) {
  if (!name) return E_POINTER;
  *name = nullptr;
  LPOLESTR text = nullptr;
  const HRESULT hr = OleRegGetUserType(clsid, USERCLASSTYPE_FULL, &text);
  if (FAILED(hr)) return hr;
  if (!text) return S_FALSE;
  *name = SysAllocString(text);
  CoTaskMemFree(text);
  return *name ? S_OK : E_OUTOFMEMORY;
}

HRESULT CovFDT_ActiveXTranslationImpl::GetUserTypeName(BSTR* name) { return GetUserTypeName(m_ui.ClassId(), name); }

HRESULT CovFDT_ActiveXTranslationImpl::GetTranslatedText(IovFdtTranslation* translation, BSTR xpath, LPOLESTR* text) {
  if (!translation || !text) return E_POINTER;
  vkr::Bstr found;
  VARIANT_BOOL hit = VARIANT_FALSE;
  if (FAILED(translation->GetTranslation(xpath, found.Put(), &hit)) || hit == VARIANT_FALSE) return S_OK;
  LPOLESTR copy = vkr::CoTaskMemString(found.View());
  if (!copy) return S_OK;  // out of memory: the old text stays
  CoTaskMemFree(*text);
  *text = copy;
  return S_OK;
}

HRESULT CovFDT_ActiveXTranslationImpl::TranslatePageInfo(IUnknown* dtm, REFCLSID clsid, PROPPAGEINFO* info) {
  if (!info) return E_POINTER;
  vkr::ComPtr<IovFdtTranslation> translation = TranslationOf(dtm);
  if (!translation) return S_OK;
  vkr::Bstr name;
  const HRESULT hr = GetUserTypeName(clsid, name.Put());
  if (FAILED(hr)) return hr;
  const std::u16string classPath = ClassPath(name.View());
  GetTranslatedText(translation.Get(), vkr::Bstr(classPath + u"/Title"), &info->pszTitle);
  GetTranslatedText(translation.Get(), vkr::Bstr(classPath + u"/HelpFile"), &info->pszHelpFile);
  return S_OK;
}

HRESULT CovFDT_ActiveXTranslationImpl::TranslatePageInfo(PROPPAGEINFO* info) {
  return TranslatePageInfo(m_ui.DtmObject(), m_ui.ClassId(), info);
}

HRESULT CovFDT_ActiveXTranslationImpl::GetHelpFile(IUnknown* dtm, REFCLSID clsid, BSTR* helpFile) {
  if (!helpFile) return E_POINTER;
  vkr::ComPtr<IovFdtTranslation> translation = TranslationOf(dtm);
  if (!translation) return S_OK;
  vkr::Bstr name;
  const HRESULT hr = GetUserTypeName(clsid, name.Put());
  if (FAILED(hr)) return hr;
  vkr::Bstr text;
  bool found = false;
  if (SUCCEEDED(Lookup(translation.Get(), ClassPath(name.View()) + u"/HelpFile", &text, &found)) && found) {
    SysFreeString(*helpFile);
    *helpFile = text.Detach();
  }
  return S_OK;
}

HRESULT CovFDT_ActiveXTranslationImpl::GetHelpFile(BSTR* helpFile) {
  return GetHelpFile(m_ui.DtmObject(), m_ui.ClassId(), helpFile);
}

// ---- The dialog ---------------------------------------------------------------------------------

HRESULT CovFDT_ActiveXTranslationImpl::OnTranslate(ULONG lcid) {
  if (lcid == 0) {
    RemoveTooltips();
    GiveBackBitmaps();
    return S_OK;
  }
  vkr::ComPtr<IovFdtTranslation> translation = OwnTranslation();
  if (!translation) return S_OK;
  TranslateControls();
  vkr::Bstr name;
  HRESULT hr = GetUserTypeName(name.Put());
  if (FAILED(hr)) return hr;
  const std::u16string classPath = ClassPath(name.View());
  for (const ControlNameEntry* entry = m_pControlNames; entry && entry->nControlId != 0; ++entry)
    hr = TranslateEntry(translation.Get(), *entry, classPath, lcid);
  return hr;
}

HRESULT CovFDT_ActiveXTranslationImpl::TranslateEntry(IovFdtTranslation* translation, const ControlNameEntry& entry,
                                                      const std::u16string& classPath, ULONG lcid) {
  // A hosted control that translates itself does so with its own class's texts.
  if (HWND item = GetTranslationItem(entry.nControlId)) {
    vkr::ComPtr<IUnknown> control;
    vkr::ComPtr<IovFdtTranslationEvent> hosted;
    if (SUCCEEDED(AtlAxGetControl(item, control.Put())) && control &&
        SUCCEEDED(control->QueryInterface(IovFdtTranslationEvent::iid, hosted.PutVoid())) && hosted)
      return hosted->OnTranslate(lcid);
  }
  HRESULT hr = S_OK;
  const std::u16string idPath =
      classPath + u"/Control[@resId = \"" + vkr::Utf8ToUtf16(std::to_string(entry.nControlId)) + u"\"]";
  if (NodeExists(translation, idPath, &hr)) return TranslateControl(entry.nControlId, vkr::Bstr(idPath));
  const std::u16string namePath =
      classPath + u"/Control[@name = \"" + vkr::Utf8ToUtf16(entry.pszName ? entry.pszName : "") + u"\"]";
  if (NodeExists(translation, namePath, &hr)) return TranslateControl(entry.nControlId, vkr::Bstr(namePath));
  return hr;
}

HRESULT CovFDT_ActiveXTranslationImpl::TranslateControls() {
  vkr::ComPtr<IovFdtParameterInfo> info;
  IUnknown* dtm = m_ui.DtmObject();
  if (!dtm || FAILED(dtm->QueryInterface(IovFdtParameterInfo::iid, info.PutVoid())) || !info) return S_OK;
  const CActXParInfo* table = m_ui.ParameterTable();
  for (ULONG i = 0; table && i < m_ui.ParameterCount(); ++i) {
    const CActXParInfo& entry = table[i];
    vkr::Variant id;
    id.vt = VT_UI4;
    id.ulVal = static_cast<ULONG>(entry.m_nParamId);
    vkr::Variant field;
    field.vt = VT_I4;
    field.lVal = static_cast<LONG>(kFieldExists);
    vkr::Variant exists;
    if (FAILED(info->GetParameterField(id, field, exists.Put())) || exists.vt != VT_BOOL ||
        exists.boolVal == VARIANT_FALSE)
      continue;
    field.lVal = static_cast<LONG>(kFieldDescription);
    vkr::Variant description;
    if (SUCCEEDED(info->GetParameterField(id, field, description.Put())) && description.vt == VT_BSTR &&
        entry.m_nCtrlId != 0) {
      const std::string text = vkr::Utf16ToUtf8(TooltipOf(description.bstrVal));
      HWND control = GetTranslationItem(static_cast<LONG>(entry.m_nCtrlId));
      if (control && m_ui.GetControlType(control) == kTypeComboBox)
        if (HWND edit = GetWindow(control, GW_CHILD)) CreateTooltip(edit, text.c_str());
      AddControlTooltip(static_cast<LONG>(entry.m_nCtrlId), text.c_str());
    }
    m_ui.CommitControlValue(static_cast<LONG>(i));
  }
  return S_OK;
}

HRESULT CovFDT_ActiveXTranslationImpl::TranslateControl(LONG controlId, BSTR nodePath) {
  vkr::ComPtr<IovFdtTranslation> translation = OwnTranslation();
  if (!translation) return S_OK;
  const std::u16string node = View(nodePath);
  vkr::Bstr text;
  bool found = false;
  Lookup(translation.Get(), node + u"/Text", &text, &found);
  if (found && IsText(text, nodePath)) {
    if (HWND item = GetTranslationItem(controlId)) {
      if (IsBitmapStatic(item)) {
        if (FAILED(SetBitmap(item, text.Str()))) return E_FAIL;
      } else {
        SetWindowTextA(item, vkr::Utf16ToUtf8(text.View()).c_str());
      }
    }
  }
  vkr::Bstr tooltip;
  Lookup(translation.Get(), node + u"/Tooltip", &tooltip, &found);
  if (found && IsText(tooltip, nodePath)) AddControlTooltip(controlId, vkr::Utf16ToUtf8(tooltip.View()).c_str());
  return S_OK;
}

// The bitmap file is the image folder's name for it. The part owns what it loaded: a later
// language's bitmap replaces it, and at tear-down the static gets its resource image back.
HRESULT CovFDT_ActiveXTranslationImpl::SetBitmap(HWND item, const std::u16string& file) {
  vkr::Bstr folder;
  m_ui.GetImageFolder(folder.Put());
  const std::string path = vkr::Utf16ToUtf8(folder.Str() + file);
  auto bitmap = static_cast<HBITMAP>(LoadImageA(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE));
  if (!bitmap) return E_FAIL;
  HANDLE previous = reinterpret_cast<HANDLE>(
      SendMessageA(item, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap)));
  auto it = m_mapBitmaps.find(item);
  if (it == m_mapBitmaps.end()) {
    m_mapBitmaps[item] = SLoadedBitmap{bitmap, previous};
  } else {
    if (it->second.hLoaded) DeleteObject(it->second.hLoaded);
    it->second.hLoaded = bitmap;
  }
  return S_OK;
}

void CovFDT_ActiveXTranslationImpl::GiveBackBitmaps() {
  for (auto& [item, loaded] : m_mapBitmaps) {
    if (IsWindow(item))
      SendMessageA(item, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(loaded.hOriginal));
    if (loaded.hLoaded) DeleteObject(loaded.hLoaded);
  }
  m_mapBitmaps.clear();
}

// ---- Tooltips -----------------------------------------------------------------------------------

HWND CovFDT_ActiveXTranslationImpl::FindTooltip(HWND control) const {
  auto it = m_mapTooltips.find(control);
  return it == m_mapTooltips.end() ? nullptr : it->second;
}

HRESULT CovFDT_ActiveXTranslationImpl::CreateTooltip(HWND control, const char* text) {
  if (!control || !IsWindow(control)) return E_INVALIDARG;
  const HINSTANCE module = vkr::ui::atl_detail::ThisModule();
  HWND tooltip = FindTooltip(control);
  UINT message = TTM_UPDATETIPTEXTA;
  if (!tooltip || !IsWindow(tooltip)) {
    tooltip = CreateWindowExA(WS_EX_TOPMOST, "tooltips_class32", nullptr, kTooltipStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                              CW_USEDEFAULT, CW_USEDEFAULT, control, nullptr, module, nullptr);
    if (!tooltip) return E_FAIL;
    SetWindowPos(tooltip, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
    m_mapTooltips[control] = tooltip;
    SendMessageA(tooltip, TTM_SETMAXTIPWIDTH, 0, kTooltipWidth);
    message = TTM_ADDTOOLA;
  }
  TOOLINFOA tool{};
  tool.cbSize = sizeof tool;
  tool.uFlags = TTF_SUBCLASS;
  tool.hwnd = control;
  tool.uId = 0;
  GetClientRect(control, &tool.rect);
  tool.hinst = module;
  tool.lpszText = const_cast<LPSTR>(text ? text : "");
  SendMessageA(tooltip, message, 0, reinterpret_cast<LPARAM>(&tool));
  return S_OK;
}

HRESULT CovFDT_ActiveXTranslationImpl::AddControlTooltip(LONG controlId, const char* text) {
  return CreateTooltip(GetTranslationItem(controlId), text);
}

void CovFDT_ActiveXTranslationImpl::RemoveTooltipOf(HWND control) {
  auto it = m_mapTooltips.find(control);
  if (it == m_mapTooltips.end()) return;
  HWND tooltip = it->second;
  m_mapTooltips.erase(it);
  if (!IsWindow(tooltip)) return;
  TOOLINFOA tool{};
  tool.cbSize = sizeof tool;
  tool.hwnd = control;
  tool.uId = 0;
  SendMessageA(tooltip, TTM_DELTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
  DestroyWindow(tooltip);
}

HRESULT CovFDT_ActiveXTranslationImpl::RemoveTooltip(LONG controlId) {
  if (HWND control = GetTranslationItem(controlId)) RemoveTooltipOf(control);
  return S_OK;
}

HRESULT CovFDT_ActiveXTranslationImpl::RemoveTooltips() {
  const CActXParInfo* table = m_ui.ParameterTable();
  for (ULONG i = 0; table && i < m_ui.ParameterCount(); ++i)
    if (table[i].m_nCtrlId != 0) RemoveTooltip(static_cast<LONG>(table[i].m_nCtrlId));
  for (const ControlNameEntry* entry = m_pControlNames; entry && entry->nControlId != 0; ++entry)
    RemoveTooltip(entry->nControlId);
  // Tooltips not reached through a dialog id (a combo box's edit field, a control whose item is
  // gone) go too: after tear-down the part holds no tooltip window.
  while (!m_mapTooltips.empty()) RemoveTooltipOf(m_mapTooltips.begin()->first);
  return S_OK;
}
