// The stand-in frame's project: several DTMs, their topology and the frame's events to them.
#include "frame/FrameProject.h"

#include <cstdio>

#include "frame/FrameDocuments.h"
#include "frame/FrameHost.h"
#include "frame/FrameStorage.h"
#include "frame/HostUsage.h"
#include "frame/ProjectFiles.h"
#include "frame/HostUtilities.h"

namespace vkr::frame {
namespace {

std::string Text(const std::u16string& s) { return Utf16ToUtf8(s); }

// A step's outcome: S_OK only when the DTM did it.
HRESULT Refused(HRESULT hr) { return FAILED(hr) ? hr : E_FAIL; }

}  // namespace

FrameProject::~FrameProject() { Close(); }

FrameProject::Member* FrameProject::Find(const std::u16string& tag) {
  auto it = m_members.find(tag);
  return it == m_members.end() ? nullptr : &it->second;
}
const FrameProject::Member* FrameProject::Find(const std::u16string& tag) const {
  auto it = m_members.find(tag);
  return it == m_members.end() ? nullptr : &it->second;
}

template <class Q>
ComPtr<Q> FrameProject::Query(const std::u16string& tag) {
  ComPtr<Q> q;
  if (Member* m = Find(tag)) m->dtm->QueryInterface(Q::iid, q.PutVoid());
  return q;
}

IUnknown* FrameProject::Dtm(const std::u16string& tag) const {
  const Member* m = Find(tag);
  return m ? m->dtm.Get() : nullptr;
}
FrameContainer* FrameProject::Container(const std::u16string& tag) const {
  const Member* m = Find(tag);
  return m ? m->container : nullptr;
}

HRESULT FrameProject::Add(const std::u16string& tag, IUnknown* dtm, FrameContainer* container) {
  if (!dtm || !container || Find(tag)) return E_INVALIDARG;
  Member& m = m_members[tag];
  m.dtm = dtm;
  m.container = container;
  container->project = this;
  return S_OK;
}

HRESULT FrameProject::Open(const std::u16string& tag, LPCOLESTR progId, const std::string& projectPath) {
  if (Find(tag)) return E_INVALIDARG;
  CLSID clsid{};
  HRESULT hr = CLSIDFromProgID(progId, &clsid);
  if (FAILED(hr)) return hr;
  ComPtr<IUnknown> dtm;
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, dtm.PutVoid());
  if (FAILED(hr)) return hr;
  ComPtr<IDtm> idtm;
  ComPtr<IDtm2> idtm2;
  ComPtr<IPersistStreamInit> persist;
  dtm->QueryInterface(IDtm::iid, idtm.PutVoid());
  dtm->QueryInterface(IDtm2::iid, idtm2.PutVoid());
  dtm->QueryInterface(IPersistStreamInit::iid, persist.PutVoid());
  if (!idtm || !idtm2 || !persist) return E_NOINTERFACE;
  ComPtr<ComObject<FrameContainer>> container;
  hr = MakeObject<FrameContainer>(&container);
  if (FAILED(hr)) return hr;
  // From here on the project releases the DTM, whatever step fails.
  Member& m = m_members[tag];
  m.dtm = dtm;
  m.ownContainer = container;
  m.container = container.Get();
  container->project = this;

  const bool load = !projectPath.empty() && FileExists(projectPath);
  hr = load ? LoadStreamFile(persist.Get(), projectPath.c_str()) : persist->InitNew();
  dataSetRefused = FAILED(hr) && load;
  if (FAILED(hr)) return hr;
  VARIANT_BOOL result = VARIANT_FALSE;
  Bstr systemTag(tag), version(kFrameVersion), deviceType(kDeviceType);
  Bstr user(u"<FDT xmlns=\"x-schema:FDTUserInformationSchema.xml\"><FDTUserInformation userLevel=\"" + userLevel +
            u"\"/></FDT>");
  hr = idtm2->Environment2(systemTag, container.Get(), version, &result);
  hr = Checked(hr, result);
  if (hr != S_OK) return Refused(hr);
  hr = idtm->SetLanguage(1033, &result);
  hr = Checked(hr, result);
  if (hr != S_OK) return Refused(hr);
  if (!load) {
    hr = idtm->InitNew(deviceType, &result);
    hr = Checked(hr, result);
    if (hr != S_OK) return Refused(hr);
  }
  hr = idtm->Config(user, &result);
  hr = Checked(hr, result);
  return hr == S_OK ? S_OK : Refused(hr);
}

HRESULT FrameProject::Close() {
  HRESULT first = S_OK;
  for (auto& [tag, m] : m_members) {
    m.container->project = nullptr;
    if (!m.ownContainer) continue;
    ComPtr<IDtm> idtm;
    m.dtm->QueryInterface(IDtm::iid, idtm.PutVoid());
    if (!idtm) continue;
    VARIANT_BOOL result = VARIANT_FALSE;
    idtm->PrepareToDelete(&result);
    HRESULT hr = idtm->PrepareToRelease(&result);
    hr = Checked(hr, result);
    if (hr != S_OK && first == S_OK) first = Refused(hr);
  }
  m_members.clear();
  return first;
}

HRESULT FrameProject::GetDtmForSystemTag(BSTR tag, IUnknown** dtm) {
  if (!dtm) return E_POINTER;
  *dtm = nullptr;
  const std::u16string name(View(tag));
  Member* m = Find(name);
  if (!m) {
    notes.push_back("get " + Text(name) + ": none");
    return S_FALSE;
  }
  ++m->handedOut;
  notes.push_back("get " + Text(name));
  *dtm = m->dtm.Get();
  (*dtm)->AddRef();
  return S_OK;
}

HRESULT FrameProject::ReleaseDtmForSystemTag(BSTR tag, VARIANT_BOOL* released) {
  if (!released) return E_POINTER;
  *released = VARIANT_FALSE;
  const std::u16string name(View(tag));
  Member* m = Find(name);
  if (!m || m->handedOut == 0) {
    notes.push_back("release " + Text(name) + ": not handed out");
    return S_OK;
  }
  --m->handedOut;
  notes.push_back("release " + Text(name));
  *released = VARIANT_TRUE;
  return S_OK;
}

HRESULT FrameProject::SendParameterChanged(const std::u16string& to, const std::u16string& from, BSTR document) {
  ComPtr<IFdtEvents> events = Query<IFdtEvents>(to);
  if (!events) return Find(to) ? E_NOINTERFACE : E_INVALIDARG;
  Bstr sender(from);
  const HRESULT hr = events->OnParameterChanged(sender, document);
  notes.push_back("parameter changed " + Text(from) + " -> " + Text(to) + ": " + ResultText(hr));
  return hr;
}

HRESULT FrameProject::LockDataSet(const std::u16string& tag) {
  ComPtr<IFdtEvents> events = Query<IFdtEvents>(tag);
  if (!events) return Find(tag) ? E_NOINTERFACE : E_INVALIDARG;
  Bstr name(tag);
  const HRESULT hr = events->OnDataSetLocked(name);
  notes.push_back("locked " + Text(tag) + (hr == S_OK ? "" : ": " + ResultText(hr)));
  return hr;
}

HRESULT FrameProject::UnlockDataSet(const std::u16string& tag, bool* done) {
  if (!done) return E_POINTER;
  *done = false;
  ComPtr<IFdtEvents> events = Query<IFdtEvents>(tag);
  if (!events) return Find(tag) ? E_NOINTERFACE : E_INVALIDARG;
  Bstr name(tag);
  VARIANT_BOOL answer = VARIANT_FALSE;
  const HRESULT hr = events->OnDataSetUnlocked(name, &answer);
  *done = SUCCEEDED(hr) && answer != VARIANT_FALSE;
  notes.push_back("unlocked " + Text(tag) + (hr == S_OK && *done ? "" : ": " + ResultText(hr)));
  return hr;
}

// ---- The host's partner comparison ---------------------------------------------------------

HRESULT ComparePartnerProjects(const std::string& project, const std::string& partner, bool* equal, std::string* why,
                               std::vector<std::string>* differences) {
  if (!equal || !why) return E_POINTER;
  *equal = false;
  for (const std::string* path : {&project, &partner}) {
    *why = ProjectProblem(*path);
    if (!why->empty()) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    TidyProject(*path);
  }
  constexpr char16_t kOwn[] = u"VKR-1", kPartner[] = u"VKR-2";
  FrameProject frame;
  HRESULT hr = frame.Open(kOwn, u"Vorn.ExampleDtm", project);
  if (FAILED(hr)) {
    *why = OpenFailure(project, hr, frame.dataSetRefused);
    return hr;
  }
  hr = frame.Open(kPartner, u"Vorn.ExampleDtm", partner);
  if (FAILED(hr)) {
    *why = OpenFailure(partner, hr, frame.dataSetRefused);
    return hr;
  }
  ComPtr<IDtmDiagnosis> diagnosis;
  frame.Dtm(kOwn)->QueryInterface(IDtmDiagnosis::iid, diagnosis.PutVoid());
  if (!diagnosis) {
    *why = "the DTM offers no diagnosis";
    return E_NOINTERFACE;
  }
  Bstr partnerTag(kPartner);
  VARIANT_BOOL result = VARIANT_FALSE;
  hr = diagnosis->InitCompare(partnerTag, &result);
  if (hr != S_OK || !result) {
    *why = "the DTM did not take " + partner + " as its partner: " + ResultText(hr);
    return FAILED(hr) ? hr : E_FAIL;
  }
  VARIANT_BOOL same = VARIANT_FALSE;
  FrameContainer* own = frame.Container(kOwn);
  const std::size_t told = own->notifications.size();
  const HRESULT compared = diagnosis->Compare(&same);
  // The DTM names each difference in a text of its own, which arrives after the call.
  own->AwaitQuiet();
  for (std::size_t i = told; differences && i < own->notifications.size(); ++i) {
    const std::string& line = own->notifications[i];
    if (line.rfind("error ", 0) == 0 && line.find(" differs from ") != std::string::npos)
      differences->push_back(line.substr(line.find(": ") + 2));
  }
  hr = diagnosis->ReleaseCompare(&result);
  if (compared != S_OK) {
    *why = "the DTM did not compare: " + ResultText(compared);
    return FAILED(compared) ? compared : E_FAIL;
  }
  if (hr != S_OK || !result) {
    *why = "the DTM did not give its partner back: " + ResultText(hr);
    return FAILED(hr) ? hr : E_FAIL;
  }
  *equal = same != VARIANT_FALSE;
  hr = frame.Close();
  if (FAILED(hr)) {
    *why = "the DTMs were not released: " + ResultText(hr);
    return hr;
  }
  return S_OK;
}

int ComparePartner(const std::string& project, const std::string& partner) {
  if (FAILED(CoInitialize(nullptr))) {
    std::fprintf(stderr, "vkr-frame: the frame's apartment could not be made\n");
    return 1;
  }
  bool equal = false;
  std::string why;
  std::vector<std::string> differences;
  const HRESULT hr = ComparePartnerProjects(project, partner, &equal, &why, &differences);
  CoFreeUnusedLibraries();
  CoUninitialize();
  if (FAILED(hr)) {
    std::fprintf(stderr, "vkr-frame: %s\n", why.c_str());
    return 1;
  }
  std::printf("%s\n", equal ? ("the data set equals the data set of " + partner).c_str()
                            : ("the data set differs from the data set of " + partner).c_str());
  for (const std::string& line : differences) std::printf("%s\n", line.c_str());
  return 0;
}

}  // namespace vkr::frame
