// CovFDT_DtmApplicationImpl: the FDT services of the DTM object that answer from its function
// table: which user interface opens a function call (IDtmActiveXInformation), the documentation
// of a function (IDtmDocumentation), and the documents and programs a function opens with the
// shell (IDtmApplication). A base of the DTM class T, beside its function container.
//
// T provides: GetDTMState, FunctionUserLevel and FindUserInterfaceEntry (the function container's
// lookup). Everything runs on the DTM's apartment thread.
#pragma once

#include <string>

#include "dtm/CovFDT_FunctionContainerImpl.h"
#include "include/FdtInterfaces.h"
#include "platform/platform.h"
#include "xml/XmlHelpers.h"

template <class T>
class CovFDT_DtmApplicationImpl : public IDtmActiveXInformation, public IDtmDocumentation, public IDtmApplication {
 public:
  CovFDT_DtmApplicationImpl() = default;
  CovFDT_DtmApplicationImpl(const CovFDT_DtmApplicationImpl&) = delete;
  CovFDT_DtmApplicationImpl& operator=(const CovFDT_DtmApplicationImpl&) = delete;
  virtual ~CovFDT_DtmApplicationImpl() = default;

  // IDtmActiveXInformation (states 6 to 12): the class id, in braces, of the ProgID of the
  // function's entry; S_FALSE for an unreadable call, an unknown function, an entry without
  // ProgID or a ProgID no class is registered under.
  HRESULT GetActiveXGuid(BSTR functionCall, BSTR* classId) override {
    if (!classId) return E_POINTER;
    *classId = nullptr;
    if (!InStates(dsENVIRONMENTSET, dsONLINE)) return S_FALSE;
    SFunctionEntry entry{};
    if (!FindCalledEntry(functionCall, &entry) || !entry.pszProgId || !*entry.pszProgId) return S_FALSE;
    CLSID clsid{};
    if (FAILED(CLSIDFromProgID(entry.pszProgId, &clsid))) return S_FALSE;
    OLECHAR text[40] = {};
    if (StringFromGUID2(clsid, text, 40) == 0) return E_FAIL;
    *classId = SysAllocString(text);
    return *classId ? S_OK : E_OUTOFMEMORY;
  }
  // The ProgID of the function's entry; S_FALSE as above.
  HRESULT GetActiveXProgId(BSTR functionCall, BSTR* progId) override {
    if (!progId) return E_POINTER;
    *progId = nullptr;
    if (!InStates(dsENVIRONMENTSET, dsONLINE)) return S_FALSE;
    SFunctionEntry entry{};
    if (!FindCalledEntry(functionCall, &entry) || !entry.pszProgId || !*entry.pszProgId) return S_FALSE;
    *progId = SysAllocString(entry.pszProgId);
    return *progId ? S_OK : E_OUTOFMEMORY;
  }

  // IDtmDocumentation (states 8 to 12, user level 2 or higher): what the hook says of the
  // function, S_OK. Otherwise, and for an unreadable call or a failing hook, an empty text and
  // S_FALSE.
  HRESULT GetDocumentation(BSTR functionCall, BSTR* document) override {
    if (!document) return E_POINTER;
    *document = nullptr;
    LONG functionId = 0;
    if (InStates(dsCONFIGURED, dsONLINE) && Self()->FunctionUserLevel() >= 2 &&
        ReadFunctionId(functionCall, &functionId)) {
      vkr::Bstr text;
      if (SUCCEEDED(GetFunctionDocumentation(functionId, text.Put()))) {
        *document = text.Detach();
        return S_OK;
      }
    }
    *document = SysAllocString(u"");
    return S_FALSE;
  }

  // IDtmApplication (states 6 to 12): opens the program of a function of type 2 or 3 without
  // user interface with the shell, its document field as the parameters; *started tells whether
  // the shell started it. S_FALSE for an unreadable call, an unknown function, another type, a
  // function with a user interface or without a program.
  HRESULT StartApplication(BSTR, BSTR functionCall, BSTR, VARIANT_BOOL* started) override {
    if (!started) return E_POINTER;
    *started = VARIANT_FALSE;
    if (!InStates(dsENVIRONMENTSET, dsONLINE)) return S_FALSE;
    SFunctionEntry entry{};
    if (!FindCalledEntry(functionCall, &entry)) return S_FALSE;
    if (entry.nType != 2 && entry.nType != 3) return S_FALSE;
    if (entry.pClassId || !entry.pszProgram || !*entry.pszProgram) return S_FALSE;
    const std::string program = vkr::Utf16ToUtf8(vkr::View(entry.pszProgram));
    const std::string parameters = vkr::Utf16ToUtf8(vkr::View(entry.pszDocument));
    const HINSTANCE result = ShellExecuteA(nullptr, "open", program.c_str(), parameters.c_str(), "", SW_SHOWNORMAL);
    if (reinterpret_cast<INT_PTR>(result) > 32) *started = VARIANT_TRUE;
    return S_OK;
  }
  // Nothing to end: the shell's programs run on their own.
  HRESULT ExitApplication(BSTR, VARIANT_BOOL* done) override {
    if (!done) return E_POINTER;
    *done = VARIANT_TRUE;
    return S_OK;
  }

 protected:
  // The document of a function; the default has none (S_OK, *document stays null).
  virtual HRESULT GetFunctionDocumentation(LONG functionId, BSTR* document) {
    (void)functionId;
    (void)document;
    return S_OK;
  }

 private:
  T* Self() { return static_cast<T*>(this); }
  bool InStates(EDtmState from, EDtmState to) {
    EDtmState state = dsUNDEFINED;
    if (FAILED(Self()->GetDTMState(&state))) return false;
    return state >= from && state <= to;
  }
  static bool ReadFunctionId(BSTR functionCall, LONG* functionId) {
    vkr::ComPtr<IXMLDOMDocument2> document;
    VARIANT_BOOL loaded = VARIANT_FALSE;
    if (FAILED(LoadXmlFromString(functionCall, document.Put(), &loaded)) || !loaded || !document) return false;
    return SUCCEEDED(GetXmlValueI4(functionId, document.Get(), vkr::Bstr(u"FDT/FDTFunctionCall/@func:functionId")));
  }
  bool FindCalledEntry(BSTR functionCall, SFunctionEntry* entry) {
    LONG functionId = 0;
    return ReadFunctionId(functionCall, &functionId) && SUCCEEDED(Self()->FindUserInterfaceEntry(functionId, entry));
  }
};
