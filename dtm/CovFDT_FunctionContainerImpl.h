// CovFDT_FunctionContainerImpl: the part of the DTM object (a base of the DTM class T) that knows
// the DTM's functions and user interfaces: its private copy of the function table (extended by
// functions defined in the registry), the function list for the frame, the open user interfaces
// with their start-up and finish, the walks that hand the DTM's state, errors and broadcasts to
// each of them, closing them, and the questions to the user through the frame.
//
// T provides: HasFrameContainer, IsAnnouncingOff, ExecuteJob(job, VARIANT), FunctionFrameContainer
// (the frame's container or null), GetSystemTag, FunctionUserLevel, FunctionOperationPhase,
// FunctionStartupText, PrivateDialogFlag, DocumentFolder, GetString, GetCurLanguageId,
// GetTranslation, MergeTranslationFile, LockDataset, UnlockDataset, IsDataSetLockedByFrame and
// DtmMessage.
// Everything runs on the DTM's apartment thread; user interfaces called from the walks may
// re-enter (finish or start functions), so the walks run over copies.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "include/DtmInterfaces.h"
#include "include/DtmMessages.h"
#include "include/DtmVariantArgs.h"
#include "include/FdtInterfaces.h"
#include "dtm/FunctionContainerTexts.h"
#include "platform/platform.h"
#include "include/ActiveXInterfaces.h"
#include "xml/Log.h"
#include "xml/Translation.h"
#include "xml/XmlHelpers.h"

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
  // Takes a private copy of the table up to its end entry (type 0); a null table is empty.
  explicit CovFDT_FunctionContainerImpl(const SFunctionEntry* table) {
    if (!table) return;
    for (const SFunctionEntry* e = table;; ++e) {
      if (e->nType == 0) break;
      m_functions.push_back(*e);
    }
    m_nBuiltInCount = m_functions.size();
    m_functions.push_back(SFunctionEntry{});  // the end of the table
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
  // The function elements of the entries the user may see now: user level, operation phase and
  // concealment filter them; translated texts replace the entry's own.
  HRESULT GetFunctionList(BSTR* elements) override {
    if (!elements) return E_POINTER;
    *elements = nullptr;
    std::u16string list;
    const ULONG level = Self()->FunctionUserLevel();
    const ULONG phase = Self()->FunctionOperationPhase();
    for (const SFunctionEntry& e : m_functions) {
      if (e.nType == 0) break;
      if (level < e.nRequiredUserLevel || (e.nOperationPhases & phase) != phase || e.nConcealed) continue;
      vkr::Bstr name, label, help, icon;
      TextOrTranslation(e.pszName, e.nFunctionId, u"Name", &name);
      TextOrTranslation(e.pszLabel, e.nFunctionId, u"Label", &label);
      TextOrTranslation(e.pszHelp, e.nFunctionId, u"Help", &help);
      TextOrTranslation(e.pszIconName, e.nFunctionId, u"IconName", &icon);
      vkr::Bstr element;
      const HRESULT hr = FormatFunctionXml(e, name, label, help, icon, element.Put());
      if (FAILED(hr)) return hr;
      list += element.Str();
    }
    *elements = SysAllocStringLen(list.data(), static_cast<UINT>(list.size()));
    return *elements ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT StartOrFinishFunction(BSTR invokeId, IUnknown* userInterface) override {
    return userInterface ? StartFunction(invokeId, userInterface, 0) : FunctionFinished(invokeId);
  }
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
  // Asks the frame to close the open user interface of the invoke id; a private dialog of the DTM
  // is not the frame's to close and stays open (*closed FALSE, S_OK).
  HRESULT CloseUserInterface(BSTR invokeId, VARIANT_BOOL* closed) override {
    if (!closed) return E_POINTER;
    *closed = VARIANT_FALSE;
    const SOpenUserInterface* open = FindOpen(invokeId);
    if (!open) return E_FAIL;
    if (open->flags & kPrivateDialog) return S_OK;
    IFdtContainer* container = Self()->FunctionFrameContainer();
    if (!container) return E_FAIL;
    vkr::ComPtr<IFdtActiveXHost> host;
    if (FAILED(container->QueryInterface(IFdtActiveXHost::iid, host.PutVoid())) || !host) return E_NOINTERFACE;
    const vkr::Bstr id(invokeId);  // the frame may finish the function (and free its entry) meanwhile
    return host->CloseActiveXControl(id, closed);
  }
  HRESULT GetFunctionCallDocument(LONG functionId, BSTR* document) override {
    if (!document) return E_POINTER;
    *document = nullptr;
    return vkr::FormatFunctionCall(functionId, document);
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
      Self()->ExecuteJob(kJobFunctionsChanged, empty);
    }
    return S_OK;
  }
  // Asks the user through the frame. *answer is the answer (IDOK .. IDNO, 0 for a reply word
  // that is none of them); S_FALSE with the flags' default answer when the frame cannot ask or
  // its reply carries no answer.
  HRESULT ShowUserMessage(BSTR title, BSTR text, VARIANT flags, LONG* answer) override {
    if (!answer) return E_POINTER;
    ULONG style = 0;
    HRESULT hr = ToUI4(flags, &style);
    if (FAILED(hr)) return hr;
    *answer = vkr::DefaultMessageAnswer(style);
    IFdtContainer* container = Self()->FunctionFrameContainer();
    if (!container) return S_FALSE;
    vkr::ComPtr<IFdtDialog> dialog;
    if (FAILED(container->QueryInterface(IFdtDialog::iid, dialog.PutVoid())) || !dialog) return S_FALSE;
    if (SysStringLen(text) == 0) return S_FALSE;
    vkr::Bstr document, tag, reply;
    hr = vkr::FormatUserMessage(title, text, style, document.Put());
    if (FAILED(hr)) return S_FALSE;
    Self()->GetSystemTag(tag.Put());
    if (FAILED(dialog->UserDialog(tag, document, reply.Put()))) return S_FALSE;
    vkr::ComPtr<IXMLDOMDocument2> loaded;
    VARIANT_BOOL ok = VARIANT_FALSE;
    if (FAILED(LoadXmlFromString(reply, loaded.Put(), &ok)) || !ok || !loaded) return S_FALSE;
    vkr::Bstr word;
    if (FAILED(SelectNodeText(loaded.Get(), vkr::Bstr(u".//@resultMessage"), word.Put()))) return S_FALSE;
    *answer = vkr::MessageAnswerFromWord(word.Str());
    return S_OK;
  }
  // Closes every open user interface that is not a private dialog, in opening order (the ask
  // argument is not used: the caller has asked the user already). *closed TRUE when all closed;
  // the first error ends the walk, a user interface the frame did not close ends it with E_FAIL.
  HRESULT CloseAllUserInterfaces(VARIANT_BOOL, VARIANT_BOOL* closed) override {
    if (!closed) return E_POINTER;
    *closed = VARIANT_FALSE;
    std::vector<vkr::Bstr> ids;
    for (const SOpenUserInterface& o : m_openUserInterfaces)
      if (!(o.flags & kPrivateDialog)) ids.push_back(o.invokeId);
    for (const vkr::Bstr& id : ids) {
      if (!FindOpen(id.Get())) continue;  // it closed while an earlier one was closing
      VARIANT_BOOL done = VARIANT_FALSE;
      const HRESULT hr = CloseUserInterface(id.Get(), &done);
      if (FAILED(hr)) return hr;
      if (!done) return E_FAIL;
    }
    *closed = VARIANT_TRUE;
    return S_OK;
  }
  // Appends the functions defined under the DTM's registry key to the built-in table.
  HRESULT ReadFunctionKeys() override {
    HKEY root = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kFunctionRegistryKey, 0, KEY_READ, &root) != ERROR_SUCCESS) return S_OK;
    // Reading again replaces the registry's entries of the earlier reading.
    LONG next = 0;
    std::vector<SFunctionEntry> builtIn(m_functions.begin(),
                                        m_functions.begin() + static_cast<std::ptrdiff_t>(m_nBuiltInCount));
    for (const SFunctionEntry& e : builtIn)
      if (e.nFunctionId > next) next = e.nFunctionId;
    ++next;
    const SFunctionEntry end{};
    m_registryEntries.clear();
    for (DWORD index = 0;; ++index) {
      char name[100] = {};
      DWORD length = sizeof name - 1;
      const LSTATUS status = RegEnumKeyExA(root, index, name, &length, nullptr, nullptr, nullptr, nullptr);
      if (status == ERROR_MORE_DATA) continue;  // a name above 99 characters is no function
      if (status != ERROR_SUCCESS) break;
      name[length < sizeof name ? length : sizeof name - 1] = '\0';
      HKEY sub = nullptr;
      if (RegOpenKeyExA(root, name, 0, KEY_READ, &sub) != ERROR_SUCCESS) continue;
      VARIANT_BOOL taken = VARIANT_FALSE;
      const vkr::Bstr subName(vkr::Utf8ToUtf16(name));
      ReadFunctionEntry(subName.Get(), sub, next, &taken);  // closes sub
      if (taken) ++next;
    }
    RegCloseKey(root);
    builtIn.insert(builtIn.end(), m_registryEntries.begin(), m_registryEntries.end());
    builtIn.push_back(end);
    m_functions.swap(builtIn);
    return S_OK;
  }
  // Reads one registry-defined function from key (and closes it); *taken TRUE when it has a
  // ProgID, the entry then joins the pending registry entries and its translation file (value
  // "Translation") is merged into the DTM's translation.
  HRESULT ReadFunctionEntry(BSTR name, HKEY key, LONG functionId, VARIANT_BOOL* taken) override {
    if (taken) *taken = VARIANT_FALSE;
    if (!key) return E_INVALIDARG;
    SFunctionEntry e{};
    e.nType = 2;
    e.nFunctionId = functionId;
    e.pszName = Keep(vkr::Bstr(name).Str());
    e.pszLabel = e.pszName;
    e.pszHelp = e.pszIconName = Keep(u"");
    e.bStatus = kFunctionEnabled;
    e.nRequiredUserLevel = 1;
    e.nOperationPhases = 0xFFFFFFFF;
    e.nResizable = 1;
    std::u16string text;
    HRESULT hr = S_FALSE;
    if (ReadRegistryText(key, "ProgID", &text)) {
      e.pszProgId = Keep(text);
      if (ReadRegistryText(key, "ClassID", &text)) {
        CLSID id{};
        if (SUCCEEDED(CLSIDFromString(text.c_str(), &id))) {
          m_classIds.push_back(id);
          e.pClassId = &m_classIds.back();
        }
      }
      if (ReadRegistryText(key, "Label", &text)) e.pszLabel = Keep(text);
      if (ReadRegistryText(key, "Help", &text)) e.pszHelp = Keep(text);
      if (ReadRegistryText(key, "IconName", &text)) e.pszIconName = Keep(text);
      ReadRegistryDword(key, "FunctionType", &e.nType);
      ReadRegistryDword(key, "ApplicationID", &e.nApplicationId);
      ReadRegistryDword(key, "UserLevel", &e.nRequiredUserLevel);
      ReadRegistryDword(key, "Printable", &e.nPrintable);
      ReadRegistryDword(key, "Resizeable", &e.nResizable);
      ReadRegistryDword(key, "Concealed", &e.nConcealed);
      ReadRegistryDword(key, "OperationPhase", &e.nOperationPhases);
      if (e.nType == 0) e.nType = 2;  // type 0 would end the table
      m_registryEntries.push_back(e);
      if (taken) *taken = VARIANT_TRUE;
      hr = S_OK;
      // The function's own texts join the DTM's translation under its id. A file that cannot be
      // merged leaves the entry with its registry texts (the translation reports what it could
      // not load).
      if (ReadRegistryText(key, "Translation", &text) && !text.empty())
        Self()->MergeTranslationFile(functionId, vkr::Utf16ToUtf8(text).c_str());
    }
    RegCloseKey(key);
    return hr;
  }
  // The translation of one text of a function; an error when there is none (the caller keeps
  // its default).
  HRESULT GetFunctionText(BSTR, LONG functionId, BSTR field, BSTR* text) override {
    if (!text) return E_POINTER;
    *text = nullptr;
    vkr::Bstr xpath;
    HRESULT hr = BstrFormat(xpath.Put(), u"localization/DTM/FunctionList/Function[@id=\"%d\"]/%s",
                            static_cast<int>(functionId), field ? field : u"");
    if (FAILED(hr)) return hr;
    vkr::Bstr found;
    VARIANT_BOOL exists = VARIANT_FALSE;
    hr = Self()->GetTranslation(xpath, found.Put(), &exists);
    if (FAILED(hr)) return hr;
    if (!exists) return E_FAIL;
    *text = found.Detach();
    return S_OK;
  }
  // Asks the frame to open the user interface of the function: the function-call document of
  // the id goes to the frame's IFdtActiveXHost. E_FAIL without the frame's container,
  // E_NOINTERFACE when the frame hosts no user interfaces; otherwise the frame's answer.
  HRESULT OpenUserInterface(LONG functionId, VARIANT_BOOL* opened) override {
    if (!opened) return E_POINTER;
    *opened = VARIANT_FALSE;
    vkr::Bstr call;
    HRESULT hr = GetFunctionCallDocument(functionId, call.Put());
    if (FAILED(hr)) return hr;
    IFdtContainer* container = Self()->FunctionFrameContainer();
    if (!container) return E_FAIL;
    vkr::ComPtr<IFdtActiveXHost> host;
    if (FAILED(container->QueryInterface(IFdtActiveXHost::iid, host.PutVoid())) || !host) return E_NOINTERFACE;
    vkr::Bstr tag;
    Self()->GetSystemTag(tag.Put());
    return host->OpenActiveXControl(tag.Get(), call.Get(), opened);
  }

  // IovFdtActiveXManagement
  // Prepares a user interface the frame opened (or a private dialog of the DTM, flags bit 0) and
  // adds it to the open list.
  HRESULT StartFunction(BSTR invokeId, IUnknown* userInterface, ULONG flags) override {
    if (!userInterface) return E_POINTER;
    IFdtContainer* container = Self()->FunctionFrameContainer();
    vkr::ComPtr<IovFdtActiveXInfo> info;
    if (FAILED(userInterface->QueryInterface(IovFdtActiveXInfo::iid, info.PutVoid()))) info = nullptr;
    if (info && container) info->SetSchemaSource(container);
    if (flags & kPrivateDialog) return S_OK;
    if (!info) return E_FAIL;
    VARIANT item;
    VariantInit(&item);
    VARIANT itemId;
    VariantInit(&itemId);
    itemId.vt = VT_UI4;
    itemId.ulVal = 1;
    HRESULT hr = info->SetInfo(itemId, &item);
    vkr::Variant call(item);
    VariantClear(&item);
    if (FAILED(hr)) return hr;
    if (call.vt != VT_BSTR) return E_FAIL;
    vkr::ComPtr<IXMLDOMDocument2> document;
    VARIANT_BOOL loaded = VARIANT_FALSE;
    if (FAILED(LoadXmlFromString(call.bstrVal, document.Put(), &loaded)) || !loaded || !document) return E_FAIL;
    LONG functionId = 0;
    hr = GetXmlValueI4(&functionId, document.Get(), vkr::Bstr(u"FDT/FDTFunctionCall/@func:functionId"));
    if (FAILED(hr)) return hr;
    SFunctionEntry entry{};
    const bool known = SUCCEEDED(FindUserInterfaceEntry(functionId, &entry));
    LogFunction("Function started", known ? entry.pszName : nullptr);
    if (FindOpen(invokeId)) return S_OK;
    m_openUserInterfaces.push_back(
        SOpenUserInterface{vkr::Bstr(invokeId), vkr::Bstr(call.bstrVal), functionId, userInterface, flags, false});
    vkr::ComPtr<IovFdtActiveX4> ui;
    if (FAILED(userInterface->QueryInterface(IovFdtActiveX4::iid, ui.PutVoid())) || !ui) return E_NOINTERFACE;
    hr = ui->OnDtmStateChanged(m_nDtmState);
    if (FAILED(hr)) return hr;
    hr = SendStartupMessages(ui.Get(), !info, container);
    if (FAILED(hr)) return hr;
    if (functionId > 0 && known && !(entry.bStatus & kNoDataSetLocking)) {
      if (FAILED(Self()->LockDataset(true))) return S_OK;
      // A counted lock belongs to this user interface: its finish gives it back.
      if (SOpenUserInterface* open = FindOpen(invokeId)) open->holdsLock = true;
      ++m_nLockingFunctions;
      if (!Self()->IsDataSetLockedByFrame()) {
        VARIANT id, locked;
        VariantInit(&id);
        VariantInit(&locked);
        id.vt = VT_UI4;
        id.ulVal = kBroadcastLockState;
        locked.vt = VT_BOOL;
        locked.boolVal = VARIANT_FALSE;
        BroadcastToActiveX(id, locked);
      }
    }
    return S_OK;
  }
  // Forgets a user interface that closed: the DTM hears of it, the frame learns that the
  // application closed, and the data-set lock it held is given back.
  HRESULT FunctionFinished(BSTR invokeId) override {
    SOpenUserInterface* open = FindOpen(invokeId);
    if (!open) return E_FAIL;
    const SOpenUserInterface finished = *open;  // the calls below may change the list
    VARIANT message, argument;
    VariantInit(&message);
    VariantInit(&argument);
    message.vt = VT_UI4;
    message.ulVal = 2;
    argument.vt = VT_BSTR;
    argument.bstrVal = finished.invokeId.Get();
    Self()->DtmMessage(message, argument);
    if (!(finished.flags & kPrivateDialog)) {
      SFunctionEntry entry{};
      if (finished.functionId > 0 && SUCCEEDED(FindUserInterfaceEntry(finished.functionId, &entry)))
        LogFunction("Function finished", entry.pszName);
      Self()->ExecuteJob(kJobApplicationClosed, argument);
    }
    for (auto it = m_openUserInterfaces.begin(); it != m_openUserInterfaces.end(); ++it)
      if (VarBstrCmp(it->invokeId.Get(), finished.invokeId.Get(), LOCALE_USER_DEFAULT, 0) == VARCMP_EQ) {
        m_openUserInterfaces.erase(it);
        break;
      }
    if (finished.holdsLock) {
      if (m_nLockingFunctions > 0) --m_nLockingFunctions;
      if (FAILED(Self()->UnlockDataset())) return S_FALSE;
    }
    return S_OK;
  }

  // How many open user interfaces hold a data-set lock.
  ULONG GetLockingFunctionCount() const { return m_nLockingFunctions; }

 protected:
  static constexpr ULONG kPrivateDialog = 0x01;
  static constexpr BYTE kNoDataSetLocking = 0x10;
  static constexpr char kFunctionRegistryKey[] = "SOFTWARE\\Vorntec\\VKR Series DTM";

  struct SOpenUserInterface {
    vkr::Bstr invokeId;
    vkr::Bstr functionCall;
    LONG functionId = 0;
    vkr::ComPtr<IUnknown> userInterface;
    ULONG flags = 0;
    bool holdsLock = false;  // took a counted data-set lock at its start
  };

  SOpenUserInterface* FindOpen(BSTR invokeId) {
    for (SOpenUserInterface& o : m_openUserInterfaces)
      if (VarBstrCmp(o.invokeId.Get(), invokeId, LOCALE_USER_DEFAULT, 0) == VARCMP_EQ) return &o;
    return nullptr;
  }
  HRESULT FindOpenUserInterface(BSTR invokeId, vkr::ComPtr<IUnknown>* ui) {
    SOpenUserInterface* open = FindOpen(invokeId);
    if (!open) return E_FAIL;
    *ui = open->userInterface;
    return S_OK;
  }

  // Calls fn for every open user interface, in opening order. The walk runs over a copy of the
  // list: a user interface may close (or open another) while it is being called.
  template <class F>
  HRESULT WalkUserInterfaces(F fn) {
    std::vector<vkr::ComPtr<IUnknown>> snapshot;
    snapshot.reserve(m_openUserInterfaces.size());
    for (const SOpenUserInterface& o : m_openUserInterfaces) snapshot.push_back(o.userInterface);
    HRESULT first = S_OK;
    for (const vkr::ComPtr<IUnknown>& unknown : snapshot) {
      vkr::ComPtr<IovFdtActiveX4> ui;
      if (!unknown || FAILED(unknown->QueryInterface(IovFdtActiveX4::iid, ui.PutVoid())) || !ui) return E_UNEXPECTED;
      const HRESULT hr = fn(ui.Get());
      if (FAILED(hr) && SUCCEEDED(first)) first = hr;
    }
    return first;
  }

  // The start-up messages of a new user interface, stopping at the first error.
  HRESULT SendStartupMessages(IovFdtActiveX4* ui, bool withoutInfo, IFdtContainer* container) {
    auto send = [ui](ULONG id, const VARIANT& argument) {
      VARIANT command;
      VariantInit(&command);
      command.vt = VT_UI4;
      command.ulVal = id;
      return ui->ExecuteCommand(command, argument);
    };
    HRESULT hr = S_OK;
    if (withoutInfo && container) {
      vkr::Variant path;
      hr = container->GetXmlSchemaPath(&path.bstrVal);
      if (FAILED(hr)) return hr;
      path.vt = VT_BSTR;
      if (FAILED(hr = send(kBroadcastSchemaPath, path))) return hr;
    }
    vkr::Variant startup;
    startup.vt = VT_BSTR;
    startup.bstrVal = SysAllocString(Self()->FunctionStartupText());
    if (FAILED(hr = send(kBroadcastStartupText, startup))) return hr;
    vkr::Variant level;
    level.vt = VT_UI4;
    level.ulVal = Self()->FunctionUserLevel();
    if (FAILED(hr = send(kBroadcastUserLevel, level))) return hr;
    vkr::Variant translation;
    GetTranslationPath(&translation.bstrVal);
    translation.vt = VT_BSTR;
    if (FAILED(hr = send(kBroadcastTranslationFile, translation))) return hr;
    LCID lcid = 0;
    Self()->GetCurLanguageId(&lcid);
    vkr::Variant language;
    language.vt = VT_I4;
    language.lVal = static_cast<LONG>(lcid);
    if (FAILED(hr = send(kBroadcastLanguage, language))) return hr;
    vkr::Variant privateDialog;
    privateDialog.vt = VT_BOOL;
    privateDialog.boolVal = Self()->PrivateDialogFlag() ? VARIANT_TRUE : VARIANT_FALSE;
    return send(kBroadcastPrivateDialog, privateDialog);
  }

  static void LogFunction(const char* what, LPCWSTR name) {
    if (!IsLogEnabled()) return;
    std::string line(what);
    if (name && *name) line += ": " + vkr::Utf16ToUtf8(name);
    WriteLogA(line.c_str());
  }

  // The translation of the field, or the entry's own text.
  void TextOrTranslation(LPCWSTR own, LONG functionId, const char16_t* field, vkr::Bstr* out) {
    vkr::Bstr translated;
    if (SUCCEEDED(GetFunctionText(nullptr, functionId, vkr::Bstr(field), translated.Put())) && translated.Get())
      *out = std::move(translated);
    else
      *out = vkr::Bstr(own ? own : u"");
  }

  // The text as it stands in an attribute value.
  static std::u16string Attr(BSTR text) {
    vkr::Bstr escaped;
    if (FAILED(XmlEscapeText(text, escaped.Put()))) return std::u16string();
    return escaped.Str();
  }

  // The function element of an entry. Attribute values are escaped: translations and registry
  // texts may hold markup characters.
  HRESULT FormatFunctionXml(const SFunctionEntry& e, BSTR name, BSTR label, BSTR help, BSTR icon, BSTR* out) {
    (void)icon;
    const int printable = e.nPrintable ? 1 : 0;
    const int resizable = e.nResizable ? 1 : 0;
    vkr::Bstr status, appId;
    HRESULT hr = BstrFormat(status.Put(),
                            u"<Status \ttoggle =\"%d\" \tchecked =\"%d\" \tenabled =\"%d\" \thidden =\"%d\" "
                            u"\tseparator =\"%d\" />",
                            (e.bStatus & 0x04) ? 1 : 0, (e.bStatus & 0x08) ? 1 : 0, (e.bStatus & 0x01) ? 1 : 0,
                            (e.bStatus & 0x02) ? 1 : 0, e.nType == 9 ? 1 : 0);
    if (FAILED(hr)) return hr;
    // Frames and user interfaces know an application by its word, never by its number.
    const char16_t* application = vkr::ApplicationIdName(e.nApplicationId);
    if (application) {
      hr = BstrFormat(appId.Put(), u"<appId:ApplicationId applicationId=\"%s\"/>", application);
      if (FAILED(hr)) return hr;
    }
    const std::u16string n = Attr(name), l = Attr(label), h = Attr(help);
    // A standard function whose application has no word cannot be offered as one; it stays
    // reachable as the function with a user interface that it is.
    const ULONG type = e.nType == 3 && !application ? 2 : e.nType;
    switch (type) {
      case 1:
      case 2:
      case 9:
        return BstrFormat(out,
                          u"<Function \tlabel =\"%s\" \tfdt:name =\"%s\" \thelp =\"%s\" \thasGUI =\"%d\" "
                          u"\tfunctionId =\"%d\" \tprintable=\"%d\" \tresizable=\"%d\"> \t%s </Function>",
                          l.c_str(), n.c_str(), h.c_str(), type == 2 ? 1 : 0, static_cast<int>(e.nFunctionId),
                          printable, resizable, status.Get());
      case 3:
        return BstrFormat(out,
                          u"<StandardFunction \tfdt:name =\"%s\" \thelp =\"%s\" \tfunctionId =\"%d\" "
                          u"\tprintableStandardFunction=\"%d\" \tresizableStandardFunction=\"%d\"> \t%s \t%s "
                          u"</StandardFunction>",
                          n.c_str(), h.c_str(), static_cast<int>(e.nFunctionId), printable, resizable, status.Get(),
                          appId.Get() ? appId.Get() : u"");
      case 4: {
        std::u16string path = vkr::Bstr(Self()->DocumentFolder()).Str();
        if (path.empty() || path.back() != u'\\') path += u'\\';
        path += DocumentFileName(e.pszDocument);
        std::u16string extra;
        vkr::Bstr part;
        if (e.pszProgram && *e.pszProgram) {
          if (FAILED(hr = BstrFormat(part.Put(), u"<OpenWith programName=\"%s\" />",
                                     Attr(vkr::Bstr(e.pszProgram)).c_str())))
            return hr;
          extra += part.Str();
        }
        if (e.pszMimeType && *e.pszMimeType) {
          if (FAILED(hr = BstrFormat(part.Put(), u"<MimeType mime-type=\"%s\" />",
                                     Attr(vkr::Bstr(e.pszMimeType)).c_str())))
            return hr;
          extra += part.Str();
        }
        // A document has no status: it holds only how to open it.
        return BstrFormat(out, u"<Document \tlabel=\"%s\" \thelp=\"%s\" \tpath=\"%s\"> \t%s </Document>",
                          l.c_str(), h.c_str(), Attr(vkr::Bstr(path)).c_str(), extra.c_str());
      }
      case 5:
        return BstrFormat(out, u"<Functions \tlabel=\"%s\" \tfdt:name=\"%s\" \thelp=\"%s\"> ", l.c_str(), n.c_str(),
                          h.c_str());
      case 6:
        return BstrFormat(out, u"</Functions>");
      case 7:
        return BstrFormat(out, u"<StandardFunctions \tfdt:name=\"%s\" \thelp=\"%s\"> %s ", n.c_str(), h.c_str(),
                          appId.Get() ? appId.Get() : u"");
      case 8:
        return BstrFormat(out, u"</StandardFunctions>");
      default:
        return BstrFormat(out, u"");
    }
  }

  // A document field of digits names a string resource of the DTM; without such a resource (or
  // for any other text) the field is the file name itself.
  std::u16string DocumentFileName(LPCWSTR field) {
    const std::u16string text(vkr::View(field));
    if (!text.empty() && text.size() < 10 &&
        text.find_first_not_of(u"0123456789") == std::u16string::npos) {
      UINT id = 0;
      for (char16_t c : text) id = id * 10 + static_cast<UINT>(c - u'0');
      vkr::Bstr resource;
      if (SUCCEEDED(Self()->GetString(id, resource.Put())) && !resource.Empty()) return resource.Str();
    }
    return text;
  }

  // A keeps-alive copy for the texts of registry entries (the table holds pointers).
  LPCWSTR Keep(const std::u16string& text) {
    m_texts.push_back(text);
    return m_texts.back().c_str();
  }
  static bool ReadRegistryText(HKEY key, const char* name, std::u16string* out) {
    std::vector<char> buffer(kRegistryTextBytes + 1, '\0');
    DWORD size = kRegistryTextBytes;
    DWORD type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) != ERROR_SUCCESS)
      return false;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
    // A value stored without its terminating zero still ends where its data ends.
    buffer[size < kRegistryTextBytes ? size : kRegistryTextBytes] = '\0';
    *out = vkr::Utf8ToUtf16(buffer.data());
    return true;
  }
  static void ReadRegistryDword(HKEY key, const char* name, ULONG* out) {
    DWORD value = 0;
    DWORD size = sizeof value;
    DWORD type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS) return;
    if (type != REG_DWORD || size != sizeof value) return;
    *out = value;
  }
  static constexpr DWORD kRegistryTextBytes = 10000;

  std::vector<SFunctionEntry> m_functions;
  std::vector<SOpenUserInterface> m_openUserInterfaces;
  ULONG m_nLockingFunctions = 0;
  size_t m_nBuiltInCount = 0;  // the entries of the DTM's own table, before the registry's
  ULONG m_nDtmState = 0;
  // Storage of registry-defined entries: texts and class ids the table points into.
  std::deque<std::u16string> m_texts;
  std::deque<CLSID> m_classIds;
  std::vector<SFunctionEntry> m_registryEntries;

 private:
  T* Self() { return static_cast<T*>(this); }
};
