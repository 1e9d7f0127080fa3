// CovFDT_DtmTranslationImpl: the translation part of the DTM object (a base of the DTM class T):
// text look-up in the translation file, the DTM's control of it, the re-translate event and the
// about file.
//
// The translation file and its look-ups come with the translation services; until then this part
// holds the current language code and the look-up paths, has no translation document, and
// answers every look-up with E_NOTIMPL (a caller keeps its built-in English text, as it does for
// a missing translation).
#pragma once

#include "dtm/TranslationInterfaces.h"
#include "platform/platform.h"

template <class T>
class CovFDT_DtmTranslationImpl : public IovFdtTranslation,
                                  public IovFdtDtmTranslation,
                                  public IovFdtTranslationEvent,
                                  public IovFDT_AboutInformations {
 public:
  CovFDT_DtmTranslationImpl() = default;
  CovFDT_DtmTranslationImpl(const CovFDT_DtmTranslationImpl&) = delete;
  CovFDT_DtmTranslationImpl& operator=(const CovFDT_DtmTranslationImpl&) = delete;
  virtual ~CovFDT_DtmTranslationImpl() = default;

  HRESULT QueryTranslationInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    IUnknown* found = nullptr;
    if (riid == IovFdtTranslation::iid)
      found = static_cast<IovFdtTranslation*>(this);
    else if (riid == IovFdtDtmTranslation::iid)
      found = static_cast<IovFdtDtmTranslation*>(this);
    else if (riid == IovFdtTranslationEvent::iid)
      found = static_cast<IovFdtTranslationEvent*>(this);
    else if (riid == IovFDT_AboutInformations::iid)
      found = static_cast<IovFDT_AboutInformations*>(this);
    if (!found) return E_NOINTERFACE;
    found->AddRef();
    *ppv = found;
    return S_OK;
  }

  // IovFdtTranslation
  HRESULT GetTranslation(BSTR, BSTR* text, VARIANT_BOOL* found) override {
    if (!text || !found) return E_INVALIDARG;
    *found = VARIANT_FALSE;
    return E_NOTIMPL;
  }
  HRESULT GetLanguageCount(LONG* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return E_NOTIMPL;
  }
  HRESULT GetLanguageId(LONG, ULONG* lcid) override { return lcid ? E_NOTIMPL : E_POINTER; }
  HRESULT SetLanguage(ULONG, VARIANT_BOOL* done) override { return NotYet(done); }
  HRESULT LoadTranslationXml(BSTR, VARIANT_BOOL* loaded) override { return NotYet(loaded); }
  HRESULT HasTranslationNode(BSTR, VARIANT_BOOL* exists) override { return NotYet(exists); }

  // IovFdtDtmTranslation
  HRESULT LoadTranslationFile(VARIANT_BOOL* loaded) override { return NotYet(loaded); }
  HRESULT GetTranslationEnabled(VARIANT_BOOL* enabled) override {
    if (!enabled) return E_POINTER;
    *enabled = VARIANT_TRUE;
    return S_OK;
  }
  HRESULT SetDtmLanguage(ULONG, VARIANT_BOOL* done) override { return NotYet(done); }

  // IovFdtTranslationEvent
  HRESULT OnTranslate(ULONG) override { return E_NOTIMPL; }

  // IovFDT_AboutInformations
  HRESULT GetAboutFile(BSTR* path) override {
    if (!path) return E_POINTER;
    *path = nullptr;
    return E_NOTIMPL;
  }

 protected:
  vkr::Bstr m_bstrLanguageCode{u"en-us"};
  vkr::Bstr m_bstrLanguageIdAttribute{u"@lcid"};
  vkr::Bstr m_bstrLanguageCodeAttribute{u"@code"};
  vkr::Bstr m_bstrLanguageListPath{u"localization/general/languages/language"};

 private:
  static HRESULT NotYet(VARIANT_BOOL* flag) {
    if (!flag) return E_POINTER;
    *flag = VARIANT_FALSE;
    return E_NOTIMPL;
  }
};
