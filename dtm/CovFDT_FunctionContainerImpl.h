// CovFDT_FunctionContainerImpl: the part of the DTM object (a base of the DTM class T) that knows
// the DTM's functions and user interfaces: its private copy of the function table, the open user
// interfaces, and the walks that hand the DTM's state, errors and broadcasts to each of them.
//
// Here the container keeps its table and its open list, finds entries, walks the open user
// interfaces and switches functions on and off. The function documents, starting and finishing
// user interfaces, user messages and registry-defined functions come with the function
// container's own work and answer E_NOTIMPL until then. Everything runs on the DTM's apartment
// thread.
#pragma once

#include <vector>

#include "dtm/DtmInterfaces.h"
#include "platform/platform.h"
#include "ui/framework/ActiveXInterfaces.h"

// One function or user interface the DTM offers; a table ends with an entry of type 0.
struct SFunctionEntry {
  ULONG nType;               // 1 function, 2 function with user interface, 3 standard function, ...
  ULONG nApplicationId;
  LONG nFunctionId;
  LPCWSTR pszName;
  LPCWSTR pszLabel;
  LPCWSTR pszHelp;
  LPCWSTR pszIconName;
  BYTE bStatus;              // 1 enabled, 2 hidden, 4 toggle, 8 checked, 16 no data-set locking
  ULONG nRequiredUserLevel;
  ULONG nOperationPhases;    // bits of the phases; all bits: any phase
  ULONG nConcealed;
  HRESULT (*pfnHandler)(IUnknown* dtm);  // functions without user interface
  const CLSID* pClassId;
  LPCWSTR pszProgId;
  ULONG nPrintable;
  ULONG nResizable;
  LPCWSTR pszDocument;
  LPCWSTR pszProgram;
  LPCWSTR pszMimeType;
};

constexpr BYTE kFunctionEnabled = 0x01;

template <class T>
class CovFDT_FunctionContainerImpl : public IovFdtActiveXContainer, public IovFdtActiveXManagement {
 public:
  // Takes a private copy of the table, its end entry included.
  explicit CovFDT_FunctionContainerImpl(const SFunctionEntry* table) {
    if (!table) return;
    for (const SFunctionEntry* e = table;; ++e) {
      m_functions.push_back(*e);
      if (e->nType == 0) break;
    }
  }
  CovFDT_FunctionContainerImpl(const CovFDT_FunctionContainerImpl&) = delete;
  CovFDT_FunctionContainerImpl& operator=(const CovFDT_FunctionContainerImpl&) = delete;
  virtual ~CovFDT_FunctionContainerImpl() = default;

  HRESULT QueryFunctionContainerInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    IUnknown* found = nullptr;
    if (riid == IovFdtActiveXContainer::iid)
      found = static_cast<IovFdtActiveXContainer*>(this);
    else if (riid == IovFdtActiveXManagement::iid)
      found = static_cast<IovFdtActiveXManagement*>(this);
    if (!found) return E_NOINTERFACE;
    found->AddRef();
    *ppv = found;
    return S_OK;
  }

  // The entry with the function id (a copy); E_FAIL without a table or without such an entry.
  HRESULT FindUserInterfaceEntry(LONG id, SFunctionEntry* entry) const {
    if (!entry) return E_POINTER;
    for (const SFunctionEntry& e : m_functions) {
      if (e.nType == 0) break;
      if (e.nFunctionId == id) {
        *entry = e;
        return S_OK;
      }
    }
    return E_FAIL;
  }
  // The state the container last stored (NotifyStateChanged).
  ULONG GetStoredDtmState() const { return m_nDtmState; }

  // Asks the open user interface of the invoke id for an information item (IovFdtActiveXInfo).
  // The lookup's E_FAIL when it is not open; E_FAIL when it has no information interface.
  HRESULT SetUserInterfaceInfo(BSTR invokeId, ULONG infoId, VARIANT* value) {
    vkr::ComPtr<IUnknown> ui;
    HRESULT hr = FindOpenUserInterface(invokeId, &ui);
    if (FAILED(hr)) return hr;
    vkr::ComPtr<IovFdtActiveXInfo> info;
    if (FAILED(ui->QueryInterface(IovFdtActiveXInfo::iid, info.PutVoid())) || !info) return E_FAIL;
    VARIANT id;
    VariantInit(&id);
    id.vt = VT_UI4;
    id.ulVal = infoId;
    return info->SetInfo(id, value);
  }

  // IovFdtActiveXContainer
  HRESULT GetFunctionList(BSTR* elements) override {
    if (!elements) return E_POINTER;
    *elements = nullptr;
    return E_NOTIMPL;
  }
  HRESULT StartOrFinishFunction(BSTR, IUnknown*) override { return E_NOTIMPL; }
  // Stores the state and tells every open user interface; the first error is returned, a user
  // interface without IovFdtActiveX4 stops the walk with E_UNEXPECTED.
  HRESULT NotifyStateChanged(ULONG state) override {
    m_nDtmState = state;
    return WalkUserInterfaces([state](IovFdtActiveX4* ui) { return ui->OnDtmStateChanged(state); });
  }
  HRESULT ReportErrorToActiveX(LPCWSTR text) override {
    return WalkUserInterfaces([text](IovFdtActiveX4* ui) { return ui->ReportErrorText(text); });
  }
  HRESULT BroadcastToActiveX(VARIANT id, VARIANT argument) override {
    return WalkUserInterfaces([&](IovFdtActiveX4* ui) { return ui->ExecuteCommand(id, argument); });
  }
  HRESULT CloseUserInterface(BSTR, VARIANT_BOOL* closed) override {
    if (!closed) return E_POINTER;
    *closed = VARIANT_FALSE;
    return E_NOTIMPL;
  }
  HRESULT GetFunctionCallDocument(LONG, BSTR* document) override {
    if (!document) return E_POINTER;
    *document = nullptr;
    return E_NOTIMPL;
  }
  // Without the frame's container nothing changes (S_OK). Otherwise sets or clears the entry's
  // enabled flag (E_FAIL without such an entry) and, unless the DTM switched announcing off, lets
  // the DTM thread tell the frame that the function list changed (job 12; its result is not the
  // answer).
  HRESULT SetFunctionEnabled(LONG functionId, BOOL enabled) override {
    if (!Self()->HasFrameContainer()) return S_OK;
    SFunctionEntry* entry = nullptr;
    for (SFunctionEntry& e : m_functions) {
      if (e.nType == 0) break;
      if (e.nFunctionId == functionId) {
        entry = &e;
        break;
      }
    }
    if (!entry) return E_FAIL;
    if (enabled)
      entry->bStatus = static_cast<BYTE>(entry->bStatus | kFunctionEnabled);
    else
      entry->bStatus = static_cast<BYTE>(entry->bStatus & ~kFunctionEnabled);
    if (!Self()->IsAnnouncingOff()) {
      VARIANT empty;
      VariantInit(&empty);
      Self()->ExecuteJob(12, empty);
    }
    return S_OK;
  }
  HRESULT ShowUserMessage(BSTR, BSTR, VARIANT, LONG* answer) override {
    if (!answer) return E_POINTER;
    return E_NOTIMPL;
  }
  HRESULT CloseAllUserInterfaces(VARIANT_BOOL, VARIANT_BOOL* closed) override {
    if (!closed) return E_POINTER;
    *closed = VARIANT_FALSE;
    return E_NOTIMPL;
  }
  HRESULT ReadFunctionKeys() override { return E_NOTIMPL; }
  HRESULT ReadFunctionEntry(BSTR, HKEY, LONG, VARIANT_BOOL* taken) override {
    if (taken) *taken = VARIANT_FALSE;
    return E_NOTIMPL;
  }
  HRESULT GetFunctionText(BSTR, LONG, BSTR, BSTR* text) override {
    if (!text) return E_POINTER;
    *text = nullptr;
    return E_NOTIMPL;
  }

  // IovFdtActiveXManagement
  HRESULT StartFunction(BSTR, IUnknown*, ULONG) override { return E_NOTIMPL; }
  HRESULT FunctionFinished(BSTR) override { return E_NOTIMPL; }

 protected:
  struct OpenUserInterface {
    vkr::Bstr invokeId;
    vkr::Bstr functionCall;
    LONG functionId;
    vkr::ComPtr<IUnknown> userInterface;
    ULONG flags;
  };

  HRESULT FindOpenUserInterface(BSTR invokeId, vkr::ComPtr<IUnknown>* ui) const {
    for (const OpenUserInterface& o : m_openUserInterfaces)
      if (VarBstrCmp(o.invokeId.Get(), invokeId, LOCALE_USER_DEFAULT, 0) == VARCMP_EQ) {
        *ui = o.userInterface;
        return S_OK;
      }
    return E_FAIL;
  }

  // Calls fn for every open user interface, in opening order. The walk runs over a copy of the
  // list: a user interface may close (or open another) while it is being called.
  template <class F>
  HRESULT WalkUserInterfaces(F fn) {
    std::vector<vkr::ComPtr<IUnknown>> snapshot;
    snapshot.reserve(m_openUserInterfaces.size());
    for (const OpenUserInterface& o : m_openUserInterfaces) snapshot.push_back(o.userInterface);
    HRESULT first = S_OK;
    for (const vkr::ComPtr<IUnknown>& unknown : snapshot) {
      vkr::ComPtr<IovFdtActiveX4> ui;
      if (!unknown || FAILED(unknown->QueryInterface(IovFdtActiveX4::iid, ui.PutVoid())) || !ui) return E_UNEXPECTED;
      const HRESULT hr = fn(ui.Get());
      if (FAILED(hr) && SUCCEEDED(first)) first = hr;
    }
    return first;
  }

  std::vector<SFunctionEntry> m_functions;
  std::vector<OpenUserInterface> m_openUserInterfaces;
  // The functions that hold a data-set lock, in opening order.
  std::vector<LONG> m_lockingFunctions;
  ULONG m_nDtmState = 0;

 private:
  T* Self() { return static_cast<T*>(this); }
};
