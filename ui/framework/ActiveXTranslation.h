// CovFDT_ActiveXTranslationImpl: how a user interface (page, control, page frame) translates its
// own dialog from the DTM's translation document: the tooltips of its parameter-bound controls
// (the parameters' translated descriptions), the texts, tooltips and bitmaps of the controls its
// control-name table lists, its page title and its help file. It implements the re-translate event
// (IovFdtTranslationEvent) that the base raises with the new language when the DTM broadcasts a
// language change, and with 0 when the user interface is torn down.
//
// Texts come through the DTM's IovFdtTranslation, which the user interface answers as its own
// (QueryDtmTranslation): a user interface without a DTM, or a DTM without translation, keeps the
// texts of its dialog resource. The class's element in the document is keyed by the class's
// registered full user type name ("HartPP Ctrl"):
//   localization/ActiveXList/ActiveX[@classname="<name>"]/Title, /HelpFile,
//     /Control[@resId = "<dialog id>"] or /Control[@name = "<symbol>"], each with /Text, /Tooltip.
//
// A class binds the part with CovFDT_Translated<Layer> (below), or derives from the part itself
// and answers QueryTranslationInterface from its QueryExtraInterface. Frame's thread only.
#pragma once

#include <functional>
#include <map>
#include <utility>

#include "include/TranslationInterfaces.h"
#include "platform/platform.h"
#include "ui/framework/BaseActiveX.h"

// One entry of a class's control-name table: a dialog control id and the control's resource
// symbol. A table ends with an entry of id 0.
struct ControlNameEntry {
  LONG nControlId;
  const char* pszName;
};

class CovFDT_ActiveXTranslationImpl : public IovFdtTranslationEvent {
 public:
  // ui: the user interface whose dialog is translated (the same object); controlNames: its
  // control-name table (null: none).
  CovFDT_ActiveXTranslationImpl(CovFDT_BaseActiveXImpl& ui, const ControlNameEntry* controlNames);
  virtual ~CovFDT_ActiveXTranslationImpl();
  CovFDT_ActiveXTranslationImpl(const CovFDT_ActiveXTranslationImpl&) = delete;
  CovFDT_ActiveXTranslationImpl& operator=(const CovFDT_ActiveXTranslationImpl&) = delete;

  // IDispatch: no type information; late-bound calls are not served.
  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override;

  // lcid 0: every tooltip of the user interface goes and the bitmaps it loaded are given back.
  // Otherwise, with a translation: the parameter tooltips, then per control-name entry a hosted
  // control that translates itself is told, else the entry's texts are taken from the document
  // (the resId node before the name node). Answers the last step's result (S_OK without a
  // translation; the user type name's error after the parameter tooltips).
  HRESULT OnTranslate(ULONG lcid) override;

  // Pages: the translated title and help file of the class replace those of info (each only when
  // found; CoTaskMem strings). S_OK without a translation; the user type name's error.
  HRESULT TranslatePageInfo(PROPPAGEINFO* info);
  // Controls: the translated help file of the class replaces *helpFile when found.
  HRESULT GetHelpFile(BSTR* helpFile);
  // The same for any user interface of class clsid on the DTM object dtm, for layers that hold
  // no translation part.
  static HRESULT TranslatePageInfo(IUnknown* dtm, REFCLSID clsid, PROPPAGEINFO* info);
  static HRESULT GetHelpFile(IUnknown* dtm, REFCLSID clsid, BSTR* helpFile);

  // The class's registered full user type name: the registry's error; S_FALSE (null) without one.
  HRESULT GetUserTypeName(BSTR* name);
  static HRESULT GetUserTypeName(REFCLSID clsid, BSTR* name);
  // The translation of xpath replaces *text (CoTaskMem; the old one freed) when found; *text is
  // left alone otherwise. Always S_OK.
  static HRESULT GetTranslatedText(IovFdtTranslation* translation, BSTR xpath, LPOLESTR* text);

  // The tooltips of the parameter-bound controls from the parameters' translated descriptions (a
  // combo box's edit field gets one too), then each entry's control shown anew.
  HRESULT TranslateControls();
  // The control's text (a bitmap static: its bitmap, by file name) and tooltip from nodePath's
  // Text and Tooltip. E_FAIL, with the tooltip left alone, when the bitmap cannot be loaded.
  HRESULT TranslateControl(LONG controlId, BSTR nodePath);
  // One tooltip window per control: made on first use, its text updated afterwards.
  HRESULT CreateTooltip(HWND control, const char* text);
  HRESULT AddControlTooltip(LONG controlId, const char* text);
  HWND FindTooltip(HWND control) const;
  HRESULT RemoveTooltip(LONG controlId);
  HRESULT RemoveTooltips();
  // The number of tooltip windows the part holds.
  size_t TooltipCount() const { return m_mapTooltips.size(); }

  // The user interface's answer for IovFdtTranslation: the DTM's interface (with a reference).
  // E_INVALIDARG for a null out pointer; E_NOINTERFACE for another iid, without a DTM, or when
  // the DTM has no translation.
  HRESULT QueryDtmTranslation(REFIID riid, void** object);
  // The same answer for the DTM object dtm (null: none).
  static HRESULT QueryDtmTranslation(IUnknown* dtm, REFIID riid, void** object);
  // For the object's QueryExtraInterface: this part as IovFdtTranslationEvent, and the DTM's
  // IovFdtTranslation; E_NOINTERFACE for anything else.
  HRESULT QueryTranslationInterface(REFIID riid, void** object);

 protected:
  // The control of a dialog id (GetDlgItem of the dialog). The page frame, whose items also lie
  // inside its splitters, replaces it with its own look-up.
  virtual HWND GetTranslationItem(LONG controlId);

 private:
  vkr::ComPtr<IovFdtTranslation> OwnTranslation();
  HRESULT TranslateEntry(IovFdtTranslation* translation, const ControlNameEntry& entry, const std::u16string& classPath,
                         ULONG lcid);
  HRESULT SetBitmap(HWND item, const std::u16string& file);
  void RemoveTooltipOf(HWND control);
  void GiveBackBitmaps();

  CovFDT_BaseActiveXImpl& m_ui;
  const ControlNameEntry* m_pControlNames;
  // Control window -> its tooltip window.
  std::map<HWND, HWND> m_mapTooltips;
  // Bitmap statics -> the bitmap this part loaded into them and the image they showed before.
  struct SLoadedBitmap {
    HBITMAP hLoaded = nullptr;
    HANDLE hOriginal = nullptr;
  };
  std::map<HWND, SLoadedBitmap> m_mapBitmaps;
};

// A user-interface class of the family layer Layer (the base or a layer on it) with its
// translation: answers IovFdtTranslationEvent with the part (also where the layer answers it with
// a stand-in of its own) and IovFdtTranslation with the DTM's.
//
//   class CMyPage : public CovFDT_Translated<CovFDT_PropertyPageImpl> {
//    public:
//     CMyPage() : CovFDT_Translated(kMyControlNames, CLSID_MyPage, &CMyPage::GetParameterMap) {}
//   };
template <class Layer>
class CovFDT_Translated : public Layer, public CovFDT_ActiveXTranslationImpl {
 public:
  template <class... Args>
  explicit CovFDT_Translated(const ControlNameEntry* controlNames, Args&&... args)
      : Layer(std::forward<Args>(args)...),
        CovFDT_ActiveXTranslationImpl(static_cast<CovFDT_BaseActiveXImpl&>(*this), controlNames) {}

  using Layer::AddRef;
  using Layer::QueryInterface;
  using Layer::Release;
  using Layer::GetIDsOfNames;
  using Layer::GetTypeInfo;
  using Layer::GetTypeInfoCount;
  using Layer::Invoke;
  using CovFDT_ActiveXTranslationImpl::GetHelpFile;
  using CovFDT_ActiveXTranslationImpl::TranslatePageInfo;

 protected:
  void* FindInterface(REFIID riid) override {
    if (riid == IovFdtTranslationEvent::iid)
      return static_cast<IovFdtTranslationEvent*>(static_cast<CovFDT_ActiveXTranslationImpl*>(this));
    return Layer::FindInterface(riid);
  }
  HRESULT QueryExtraInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IovFdtTranslation::iid) return QueryDtmTranslation(riid, ppv);
    return Layer::QueryExtraInterface(riid, ppv);
  }
};

// The translation part as a member of a user interface that answers IovFdtTranslationEvent
// itself (pages, the page frame, composite controls): its IUnknown is the user interface's, and
// its dialog items come from the user interface's own look-up when one is given.
class CovFDT_ActiveXTranslationPart final : public CovFDT_ActiveXTranslationImpl {
 public:
  using ItemLookup = std::function<HWND(LONG)>;
  CovFDT_ActiveXTranslationPart(CovFDT_BaseActiveXImpl& ui, const ControlNameEntry* controlNames,
                                ItemLookup lookup = {})
      : CovFDT_ActiveXTranslationImpl(ui, controlNames), m_ui(ui), m_lookup(std::move(lookup)) {}

  HRESULT QueryInterface(REFIID riid, void** object) override { return m_ui.QueryInterface(riid, object); }
  ULONG AddRef() override { return m_ui.AddRef(); }
  ULONG Release() override { return m_ui.Release(); }

 protected:
  HWND GetTranslationItem(LONG controlId) override {
    return m_lookup ? m_lookup(controlId) : CovFDT_ActiveXTranslationImpl::GetTranslationItem(controlId);
  }

 private:
  CovFDT_BaseActiveXImpl& m_ui;
  ItemLookup m_lookup;
};
