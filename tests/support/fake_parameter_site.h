// A fake DTM for the parameter handler: it carries the handler as a COM object, stands in for the
// DTM's state, events and neighbours, and writes every call it receives into one journal, so that
// tests can check what happened and in which order. Benchmarks and fuzz targets use it quiet and
// alone (no neighbours, nothing recorded).
#pragma once

#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "parameters/CFdtVariant.h"
#include "parameters/CovFDT_ParameterHandlerImpl.h"
#include "platform/platform.h"
#include "tests/support/stub_dispatch.h"

namespace vkr::test {

// How a FakeParameterSite starts: the DTM's state, whether its neighbours (communication client,
// events, container, parameter lists) are there, and whether it records what it receives.
struct SiteOptions {
  EDtmState state = dsCONFIGURED;
  bool neighbours = true;
  bool record = true;
};
// The DTM as the definition helpers and the device table see it: created, with no neighbours.
inline constexpr SiteOptions kSiteAlone{.state = dsCREATED, .neighbours = false};
// A DTM with no neighbours that records nothing, so that a benchmark measures the handler alone
// and a fuzz target's site does not grow with its input.
inline constexpr SiteOptions kSiteQuiet{.state = dsCONFIGURED, .neighbours = false, .record = false};

class FakeParameterSite : public IovFdtParameterHandlerSite,
                          public IovFdtParameterCommunication,
                          public IovFdtParameterDtmEvents,
                          public IovFdtParameterBroadcast,
                          public IovFDTParamList {
 public:
  FakeParameterSite() = default;
  explicit FakeParameterSite(const SiteOptions& options)
      : state(options.state),
        hasCommunication(options.neighbours),
        hasEvents(options.neighbours),
        hasContainer(options.neighbours),
        hasLists(options.neighbours),
        record(options.record) {}

  // One entry per call, e.g. "read 12", "broadcast 0x2701 12 =42", "delay 1".
  std::vector<std::string> journal;
  struct Broadcast {
    ULONG event;
    ULONG id;
    vkr::Variant argument;
  };
  std::vector<Broadcast> broadcasts;
  // The error reports (OnError), in order.
  std::vector<std::string> errors;

  EDtmState state = dsCONFIGURED;
  LCID language = 1033;
  bool hasCommunication = true;
  bool hasEvents = true;
  bool hasContainer = true;
  bool hasLists = true;
  // Off: nothing goes into the journal, the broadcasts or the errors.
  bool record = true;
  // Answers of the communication client and the container.
  HRESULT deviceResult = S_OK;
  VARIANT_BOOL deviceDone = VARIANT_TRUE;
  HRESULT messageResult = S_OK;
  HRESULT broadcastResult = S_OK;
  HRESULT reportResult = S_OK;
  // The parameter lists: the names below any parent, and each list's entries.
  std::vector<std::u16string> listNames;
  std::map<std::u16string, std::vector<ULONG>> listEntries;
  // Called by a blocking read after it is journaled, as a connection would answer inside the call.
  std::function<void(ULONG)> onReadSync;

  void Clear() {
    journal.clear();
    broadcasts.clear();
    errors.clear();
  }
  bool Has(const std::string& entry) const {
    for (const std::string& e : journal)
      if (e == entry) return true;
    return false;
  }
  std::string Joined() const {
    std::string s;
    for (const std::string& e : journal) s += (s.empty() ? "" : ", ") + e;
    return s;
  }
  void Log(const std::string& entry) {
    if (record) journal.push_back(entry);
  }

  static std::string Show(const VARIANT& v) {
    BSTR text = nullptr;
    try {
      VariantToText(&v, &text);
    } catch (...) {
      return "?";
    }
    std::string s = vkr::Utf16ToUtf8(vkr::View(text));
    SysFreeString(text);
    return s;
  }
  static std::string Id(const VARIANT& v) {
    ULONG id = 0;
    return SUCCEEDED(VariantToULong(&v, &id)) ? std::to_string(id) : "?";
  }

  // IovFdtParameterHandlerSite
  EDtmState GetDtmState() override { return state; }
  LCID GetLanguage() override { return language; }
  IovFdtParameterCommunication* GetCommunicationClient() override { return hasCommunication ? this : nullptr; }
  IovFdtParameterDtmEvents* GetDtmEvents() override { return hasEvents ? this : nullptr; }
  IovFdtParameterBroadcast* GetActiveXContainer() override { return hasContainer ? this : nullptr; }
  IovFDTParamList* GetParamList() override { return hasLists ? this : nullptr; }
  HRESULT SendVariableEvent(LPCSTR name, VARIANT oldValue, VARIANT newValue) override {
    if (record) Log(std::string("variable ") + name + " " + Show(oldValue) + "->" + Show(newValue));
    return S_OK;
  }
  HRESULT DelaySaveRequest(BOOL begin) override {
    Log(begin ? "delay open" : "delay close");
    return S_OK;
  }
  HRESULT SetDataSetModified(BOOL modified) override {
    Log(modified ? "modified" : "unmodified");
    return S_OK;
  }
  void OnError(LPCSTR text) override {
    if (!record) return;
    errors.emplace_back(text ? text : "");
    Log("error " + errors.back());
  }

  // IovFdtParameterCommunication
  HRESULT ReadParameter(VARIANT id, VARIANT_BOOL* done) override { return Device("read " + Id(id), done); }
  HRESULT WriteParameter(VARIANT id, VARIANT value, VARIANT_BOOL* done) override {
    return Device("write " + Id(id) + " " + Show(value), done);
  }
  HRESULT ReadParameterSync(VARIANT id, VARIANT_BOOL* done) override {
    HRESULT hr = Device("readsync " + Id(id), done);
    ULONG n = 0;
    if (onReadSync && SUCCEEDED(VariantToULong(&id, &n))) onReadSync(n);
    return hr;
  }
  HRESULT WriteParameterSync(VARIANT id, VARIANT value, VARIANT_BOOL* done) override {
    return Device("writesync " + Id(id) + " " + Show(value), done);
  }
  HRESULT CancelParamListTransfer(BSTR transferId, VARIANT_BOOL* done) override {
    return Device("cancel " + vkr::Utf16ToUtf8(vkr::View(transferId)), done);
  }

  // IovFdtParameterDtmEvents
  HRESULT DtmMessage(VARIANT message, VARIANT argument) override {
    Log("message " + Show(message) + " " + Show(argument));
    return messageResult;
  }

  // IovFdtParameterBroadcast
  HRESULT ReportParameterError(VARIANT id, VARIANT data, BSTR errorText) override {
    Log("report " + Id(id) + " " + Show(data) + " " + vkr::Utf16ToUtf8(vkr::View(errorText)));
    return reportResult;
  }
  HRESULT NotifyActiveXContainer(VARIANT event, VARIANT id, VARIANT argument) override {
    ULONG e = 0, i = 0;
    VariantToULong(&event, &e);
    VariantToULong(&id, &i);
    char head[32];
    std::snprintf(head, sizeof head, "broadcast 0x%04lX ", static_cast<unsigned long>(e));
    if (!record) return broadcastResult;
    Log(head + Id(id) + (argument.vt == VT_EMPTY ? "" : " =" + Show(argument)));
    Broadcast b{e, i, vkr::Variant(argument)};
    broadcasts.push_back(std::move(b));
    return broadcastResult;
  }

  // IovFDTParamList: a stack object; the lists the handler searches.
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    *ppv = riid == IID_IUnknown || riid == IovFDTParamList::iid ? static_cast<IovFDTParamList*>(this) : nullptr;
    return *ppv ? S_OK : E_NOINTERFACE;
  }
  ULONG AddRef() override { return 1; }
  ULONG Release() override { return 1; }
  VKR_NO_DISPATCH
  HRESULT CreateList(VARIANT, VARIANT, VARIANT, VARIANT, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT DeleteList(VARIANT, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT ListExists(VARIANT, VARIANT_BOOL*, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT AddMembers(VARIANT, VARIANT, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT RemoveMembers(VARIANT, VARIANT, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT SetProperties(VARIANT, VARIANT, VARIANT, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT GetProperties(VARIANT, VARIANT, VARIANT*, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT GetChildLists(VARIANT, VARIANT* names, VARIANT_BOOL* ok) override {
    *ok = VARIANT_TRUE;
    VariantClear(names);
    if (listNames.empty()) return S_OK;
    SAFEARRAY* psa = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(listNames.size()));
    for (LONG i = 0; i < static_cast<LONG>(listNames.size()); ++i) {
      vkr::Variant name;
      name.vt = VT_BSTR;
      name.bstrVal = SysAllocString(listNames[i].c_str());
      SafeArrayPutElement(psa, &i, &name);
    }
    names->vt = VT_ARRAY | VT_VARIANT;
    names->parray = psa;
    return S_OK;
  }
  HRESULT GetMembers(VARIANT list, VARIANT* entries, VARIANT_BOOL* ok) override {
    VariantClear(entries);
    *ok = VARIANT_FALSE;
    if (list.vt != VT_BSTR) return S_FALSE;
    auto it = listEntries.find(std::u16string(vkr::View(list.bstrVal)));
    if (it == listEntries.end()) return S_FALSE;
    SAFEARRAY* psa = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(it->second.size()));
    for (LONG i = 0; i < static_cast<LONG>(it->second.size()); ++i) {
      VARIANT id;
      VariantInit(&id);
      id.vt = VT_UI4;
      id.ulVal = it->second[i];
      SafeArrayPutElement(psa, &i, &id);
    }
    entries->vt = VT_ARRAY | VT_VARIANT;
    entries->parray = psa;
    *ok = VARIANT_TRUE;
    return S_OK;
  }

 private:
  HRESULT Device(const std::string& entry, VARIANT_BOOL* done) {
    Log(entry);
    if (SUCCEEDED(deviceResult)) *done = deviceDone;
    return deviceResult;
  }
};

// An object that carries the handler the way the DTM object does: the handler's interfaces answer
// from its QueryInterface and count on its references.
struct IFakeDtm : IUnknown {
  static constexpr IID iid = vkr::MakeGuid("5B0C3A0E-2F44-4E8B-9A37-6C1D0F2E8B11");
  using Base = IUnknown;
};

class CFakeDtm : public vkr::Implements<IFakeDtm>, public CovFDT_ParameterHandlerImpl {
 public:
  explicit CFakeDtm(IovFdtParameterHandlerSite* site) : CovFDT_ParameterHandlerImpl(site) {}

 protected:
  HRESULT QueryExtraInterface(REFIID riid, void** ppv) override { return QueryHandlerInterface(riid, ppv); }
};

// The handler carried by an object on the stack: its references are only counted. The
// TypeInformation step can be scripted.
class StackParameterHandler : public CovFDT_ParameterHandlerImpl {
 public:
  explicit StackParameterHandler(IovFdtParameterHandlerSite* site) : CovFDT_ParameterHandlerImpl(site) {}

  HRESULT QueryInterface(REFIID riid, void** ppv) override { return QueryHandlerInterface(riid, ppv); }
  ULONG AddRef() override { return ++m_refs; }
  ULONG Release() override { return --m_refs; }

  // When set, InitValuesFromTypeInformation answers this result and value and records its input.
  bool scriptTypeInformation = false;
  HRESULT typeInformationResult = S_FALSE;
  vkr::Variant typeInformationValue;
  std::vector<std::u16string> typeInformationTexts;

  HRESULT InitValuesFromTypeInformation(VARIANT value, BSTR typeInformation, VARIANT* result) override {
    if (!scriptTypeInformation) return CovFDT_ParameterHandlerImpl::InitValuesFromTypeInformation(value, typeInformation, result);
    typeInformationTexts.emplace_back(typeInformation ? typeInformation : u"");
    if (typeInformationResult == S_OK) VariantCopy(result, &typeInformationValue);
    return typeInformationResult;
  }

  using CovFDT_ParameterHandlerImpl::Collection;

 private:
  ULONG m_refs = 1;
};

}  // namespace vkr::test
