// The translation interfaces: text look-up in the translation file (IovFdtTranslation), the DTM's
// control of it (IovFdtDtmTranslation), the re-translate event (IovFdtTranslationEvent, which the
// DTM and every user interface implement) and the about file (IovFDT_AboutInformations). Header
// only; the ids are this program's own. All are dual: slot 7 is the first method named here.
//
// Contracts shared by every implementation: texts returned are new BSTRs the caller frees;
// VARIANT_BOOL results are VARIANT_TRUE or VARIANT_FALSE; a look-up that finds nothing is never an
// error the caller must act on: it keeps its built-in English text.
#pragma once

#include "platform/platform.h"

struct IovFdtTranslation : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("2E9F6A17-0C5D-4B83-9E42-71A8C3D5F601");
  using Base = IDispatch;
  virtual HRESULT GetTranslation(BSTR xpath, BSTR* text, VARIANT_BOOL* found) = 0;  // 7
  virtual HRESULT GetLanguageCount(LONG* count) = 0;                              // 8
  virtual HRESULT GetLanguageId(LONG index, ULONG* lcid) = 0;                     // 9
  virtual HRESULT SetLanguage(ULONG lcid, VARIANT_BOOL* done) = 0;                // 10
  virtual HRESULT LoadTranslationXml(BSTR xml, VARIANT_BOOL* loaded) = 0;         // 11
  virtual HRESULT HasTranslationNode(BSTR xpath, VARIANT_BOOL* exists) = 0;       // 12
};

struct IovFdtDtmTranslation : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("2E9F6A17-0C5D-4B83-9E42-71A8C3D5F602");
  using Base = IDispatch;
  virtual HRESULT LoadTranslationFile(VARIANT_BOOL* loaded) = 0;             // 7
  virtual HRESULT GetTranslationEnabled(VARIANT_BOOL* enabled) = 0;          // 8
  virtual HRESULT SetDtmLanguage(ULONG lcid, VARIANT_BOOL* done) = 0;        // 9
};

struct IovFdtTranslationEvent : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("2E9F6A17-0C5D-4B83-9E42-71A8C3D5F603");
  using Base = IDispatch;
  virtual HRESULT OnTranslate(ULONG lcid) = 0;  // 7
};

struct IovFDT_AboutInformations : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("2E9F6A17-0C5D-4B83-9E42-71A8C3D5F604");
  using Base = IDispatch;
  virtual HRESULT GetAboutFile(BSTR* path) = 0;  // 7
};
