// The data set as a frame keeps it, against the real DTM module: what the DTM says is unsaved
// (IsDirty, the parameter document's storage state), the frame's data-set lock that waits for the
// save, both storage forms, and the user level and function list that IDtm::Config sets.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "frame/FrameDocuments.h"
#include "frame/Quiet.h"
#include "include/FdtInterfaces.h"
#include "frame/FrameContainer.h"
#include "frame/FrameHost.h"
#include "tests/support/dtm_user_interface.h"
#include "tests/support/temp_files.h"
#include "tests/support/threading.h"

namespace {

using vkr::test::ScopedEnv;
using vkr::test::ScopedRegistry;
using vkr::test::TempDir;
using vkr::frame::FrameContainer;

using vkr::frame::kFrameVersion;
using vkr::frame::kDeviceType;

std::u16string UserInformation(const std::u16string& level) {
  return u"<FDT xmlns=\"x-schema:FDTUserInformationSchema.xml\"><FDTUserInformation userLevel=\"" + level +
         u"\"/></FDT>";
}

VARIANT UI4(ULONG n) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_UI4;
  v.ulVal = n;
  return v;
}

// Persisted parameters of the device table: the offline upper and lower range and damping (VT_R4)
// and the HART tag (VT_BSTR, addressed and writable).
constexpr ULONG kUpperRange = 1125, kLowerRange = 1126, kDamping = 1127, kHartTag = 1054;

// One DTM of the module with the stand-in frame's container.
struct Dtm {
  vkr::ComPtr<IUnknown> object;
  vkr::ComPtr<IDtm> dtm;
  vkr::ComPtr<IDtm2> dtm2;
  vkr::ComPtr<IPersistStreamInit> stream;
  vkr::ComPtr<IPersistPropertyBag> bag;
  vkr::ComPtr<IDtmParameter> parameters;
  vkr::ComPtr<IovFdtParameterHandler4> handler;
  vkr::ComPtr<vkr::ComObject<FrameContainer>> frame;

  void Create() {
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(u"Vorn.ExampleDtm", &clsid), S_OK);
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.PutVoid()), S_OK);
    ASSERT_EQ(object->QueryInterface(IDtm::iid, dtm.PutVoid()), S_OK);
    ASSERT_EQ(object->QueryInterface(IDtm2::iid, dtm2.PutVoid()), S_OK);
    ASSERT_EQ(object->QueryInterface(IPersistStreamInit::iid, stream.PutVoid()), S_OK);
    ASSERT_EQ(object->QueryInterface(IPersistPropertyBag::iid, bag.PutVoid()), S_OK);
    ASSERT_EQ(object->QueryInterface(IDtmParameter::iid, parameters.PutVoid()), S_OK);
    ASSERT_EQ(object->QueryInterface(IovFdtParameterHandler4::iid, handler.PutVoid()), S_OK);
    ASSERT_EQ(vkr::MakeObject<FrameContainer>(&frame), S_OK);
  }
  // The environment and, for a new data set, the device type; the state is then 7.
  void Initialize(bool newDataSet) {
    VARIANT_BOOL result = VARIANT_FALSE;
    vkr::Bstr tag(u"VKR-1"), version(kFrameVersion), type(kDeviceType);
    ASSERT_EQ(dtm2->Environment2(tag, frame.Get(), version, &result), S_OK);
    ASSERT_EQ(result, VARIANT_TRUE);
    if (!newDataSet) return;
    ASSERT_EQ(dtm->InitNew(type, &result), S_OK);
    ASSERT_EQ(result, VARIANT_TRUE);
  }
  VARIANT_BOOL Config(const std::u16string& level) {
    VARIANT_BOOL result = VARIANT_TRUE;
    vkr::Bstr user(UserInformation(level));
    EXPECT_EQ(dtm->Config(user, &result), S_OK);
    return result;
  }
  // A new data set, configured for a planning engineer (state 8).
  void Open() {
    Create();
    ASSERT_EQ(stream->InitNew(), S_OK);
    Initialize(true);
    ASSERT_EQ(Config(u"planningEngineer"), VARIANT_TRUE);
  }
  EDtmState State() { return vkr::test::ui::DtmState(object.Get()); }
  // The storage state word of the parameter document.
  std::string StorageState() {
    vkr::Bstr document;
    EXPECT_EQ(parameters->GetParameters(nullptr, document.Put()), S_OK);
    const std::string text = vkr::Utf16ToUtf8(document.View());
    const std::string key = "fdt:storageState\t=\"";
    const auto at = text.find(key);
    if (at == std::string::npos) return "?";
    return text.substr(at + key.size(), text.find('"', at + key.size()) - at - key.size());
  }
  std::string Value(ULONG id) {
    HRESULT hr = E_FAIL;
    vkr::Variant value = vkr::test::ui::ParameterValue(object.Get(), id, &hr), text;
    EXPECT_EQ(hr, S_OK) << id;
    if (FAILED(VariantChangeType(text.Ptr(), value.Ptr(), 0, VT_BSTR))) return "?";
    return vkr::Utf16ToUtf8(vkr::View(text.bstrVal));
  }
  // The frame's parameter document back with another tag (SetParameters takes the lock).
  HRESULT SetTag(const std::u16string& tag) {
    vkr::Bstr document;
    HRESULT hr = parameters->GetParameters(nullptr, document.Put());
    if (FAILED(hr)) return hr;
    std::u16string text(document.View());
    const std::u16string key = u"fdt:tag=\"";
    const auto at = text.find(key);
    if (at == std::u16string::npos) return E_FAIL;
    const auto end = text.find(u'"', at + key.size());
    text.replace(at + key.size(), end - at - key.size(), tag);
    VARIANT_BOOL result = VARIANT_FALSE;
    hr = parameters->SetParameters(nullptr, vkr::Bstr(text), &result);
    return FAILED(hr) ? hr : (result ? S_OK : S_FALSE);
  }
  int Notes(const std::string& line) const {
    int n = 0;
    for (const std::string& note : frame->notifications) n += note == line;
    return n;
  }
  void Release() {
    if (!dtm) return;
    VARIANT_BOOL result = VARIANT_FALSE;
    if (State() == dsCONFIGURED || State() == dsENVIRONMENTSET) dtm->PrepareToRelease(&result);
    *this = Dtm();
  }
};

// A property bag in memory, as a frame's storage of the property-bag form.
class MemoryBag : public vkr::Implements<IPropertyBag> {
 public:
  vkr::Variant data;
  bool written = false;
  HRESULT Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
    if (std::u16string_view(name) != u"DTM_DATA" || !written) return E_INVALIDARG;
    return VariantCopy(value, data.Ptr());
  }
  HRESULT Write(LPCOLESTR name, VARIANT* value) override {
    if (std::u16string_view(name) != u"DTM_DATA") return E_INVALIDARG;
    written = true;
    return VariantCopy(data.Ptr(), value);
  }
};

class DataSetWithFrame : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    ASSERT_EQ(vkr::frame::RunModuleRegistration(VKR_MODULE_PATH, true), S_OK);
  }
  void TearDown() override {
    vkr::test::DrainQueue();
    CoFreeUnusedLibraries();
    CoUninitialize();
  }
  // Saves in the form: IPersistStreamInit into a fresh stream, or IPersistPropertyBag.
  HRESULT Save(Dtm& d, bool propertyBag, BOOL clearDirty) {
    if (propertyBag) {
      bagStore = nullptr;
      vkr::MakeObject<MemoryBag>(&bagStore);
      return d.bag->Save(bagStore.Get(), clearDirty, TRUE);
    }
    streamStore = nullptr;
    CreateStreamOnHGlobal(nullptr, TRUE, streamStore.Put());
    return d.stream->Save(streamStore.Get(), clearDirty);
  }
  HRESULT Load(Dtm& d, bool propertyBag) {
    if (propertyBag) return d.bag->Load(bagStore.Get(), nullptr);
    LARGE_INTEGER zero{};
    streamStore->Seek(zero, STREAM_SEEK_SET, nullptr);
    return d.stream->Load(streamStore.Get());
  }

  ScopedRegistry registry;
  TempDir drives;
  ScopedEnv root{"VKR_DRIVE_ROOT", drives.path()};
  vkr::ComPtr<IStream> streamStore;
  vkr::ComPtr<vkr::ComObject<MemoryBag>> bagStore;
};

// Every road by which a persisted value changes leaves the data set dirty and transient until a
// save that clears the dirt; the frame's lock taken for a change is given back after that save,
// not before. What was saved loads back, clean.
TEST_F(DataSetWithFrame, ChangesStayUnsavedAndTheLockHeldUntilASaveClearsThem) {
  for (const bool propertyBag : {false, true}) {
    SCOPED_TRACE(propertyBag ? "property bag" : "stream");
    Dtm d;
    d.Open();
    ASSERT_EQ(d.State(), dsCONFIGURED);
    EXPECT_EQ(d.stream->IsDirty(), S_OK) << "a new data set is not stored yet";
    EXPECT_EQ(d.StorageState(), "transient");
    ASSERT_EQ(Save(d, propertyBag, TRUE), S_OK);
    EXPECT_EQ(d.stream->IsDirty(), S_FALSE);
    EXPECT_EQ(d.StorageState(), "persistent");

    // The frame's own change: SetParameters locks the data set and changes its state.
    ASSERT_EQ(d.SetTag(u"LT-101"), S_OK);
    EXPECT_EQ(d.frame->lockRequests, 1);
    EXPECT_EQ(d.stream->IsDirty(), S_OK);
    EXPECT_EQ(d.StorageState(), "transient");
    EXPECT_TRUE(d.frame->locked) << "given back before any save";
    EXPECT_EQ(d.frame->unlockRequests, 0);
    // A save that keeps the dirt (a copy) neither cleans nor unlocks.
    ASSERT_EQ(Save(d, propertyBag, FALSE), S_OK);
    EXPECT_EQ(d.stream->IsDirty(), S_OK);
    EXPECT_TRUE(d.frame->locked);
    ASSERT_EQ(Save(d, propertyBag, TRUE), S_OK);
    EXPECT_EQ(d.stream->IsDirty(), S_FALSE);
    EXPECT_EQ(d.StorageState(), "persistent");
    EXPECT_FALSE(d.frame->locked);
    EXPECT_EQ(d.frame->unlockRequests, 1);
    EXPECT_EQ(d.Notes("unlock VKR-1"), 1);

    // The user interfaces' and the import's roads, each a different value.
    vkr::ComPtr<IovFdtParametersImportExport> import;
    ASSERT_EQ(d.object->QueryInterface(IovFdtParametersImportExport::iid, import.PutVoid()), S_OK);
    struct Road {
      const char* name;
      std::function<HRESULT()> change;
    };
    VARIANT_BOOL done = VARIANT_FALSE;
    auto r4 = [](float f) {
      VARIANT v;
      VariantInit(&v);
      v.vt = VT_R4;
      v.fltVal = f;
      return v;
    };
    const Road roads[] = {
        {"SetParameterValue", [&] { return d.handler->SetParameterValue(UI4(kDamping), r4(7.5f)); }},
        {"WriteDeviceParameter offline",
         [&] {
           vkr::Variant text;
           text.vt = VT_BSTR;
           text.bstrVal = SysAllocString(u"LT101");
           HRESULT hr = d.handler->WriteDeviceParameter(UI4(kHartTag), text, &done);
           return SUCCEEDED(hr) && !done ? E_FAIL : hr;
         }},
        {"ImportParameters",
         [&] {
           return import->ImportParameters(vkr::Bstr(
               u"<PARAMETERS><Parameter id=\"1125\" type=\"VT_R4\" value=\"12.25\"/></PARAMETERS>"));
         }},
        {"SetParameterInfo",
         [&] {
           VARIANT value = r4(0.5f);
           return d.handler->SetParameterInfo(UI4(kLowerRange), &value, nullptr);
         }},
    };
    for (const Road& road : roads) {
      SCOPED_TRACE(road.name);
      ASSERT_EQ(road.change(), S_OK);
      EXPECT_EQ(d.stream->IsDirty(), S_OK);
      EXPECT_EQ(d.StorageState(), "transient");
      ASSERT_EQ(Save(d, propertyBag, TRUE), S_OK);
      EXPECT_EQ(d.stream->IsDirty(), S_FALSE);
      EXPECT_EQ(d.StorageState(), "persistent");
    }
    EXPECT_FALSE(d.frame->locked);

    // The last save holds every change, and a load leaves the data set clean.
    Dtm loaded;
    loaded.Create();
    ASSERT_EQ(Load(loaded, propertyBag), S_OK);
    EXPECT_EQ(loaded.stream->IsDirty(), S_FALSE);
    loaded.Initialize(false);
    ASSERT_EQ(loaded.Config(u"operator"), VARIANT_TRUE);
    EXPECT_EQ(loaded.StorageState(), "persistent");
    for (ULONG id : {kDamping, kHartTag, kUpperRange, kLowerRange}) EXPECT_EQ(loaded.Value(id), d.Value(id)) << id;
    EXPECT_EQ(loaded.Value(kDamping), "7.5");
    EXPECT_EQ(loaded.Value(kUpperRange), "12.25");
    loaded.Release();
    d.Release();
  }
}

// A user level word the DTM does not know is refused, and the refused call changes nothing: the
// state stays, the frame hears of no changed functions. A known word is taken afterwards.
TEST_F(DataSetWithFrame, ConfigRefusesAnUnknownUserLevelAndChangesNothing) {
  Dtm d;
  d.Create();
  ASSERT_EQ(d.stream->InitNew(), S_OK);
  d.Initialize(true);
  ASSERT_EQ(d.State(), dsINITIALIZED);
  const std::size_t before = d.frame->notifications.size();
  for (const char16_t* word : {u"engineer", u"", u"observers", u"planning Engineer"}) {
    EXPECT_EQ(d.Config(word), VARIANT_FALSE) << vkr::Utf16ToUtf8(word);
    EXPECT_EQ(d.State(), dsINITIALIZED);
  }
  ASSERT_TRUE(vkr::frame::WaitUntilQuiet());
  EXPECT_EQ(d.Notes("functions changed VKR-1"), 0);
  EXPECT_EQ(d.frame->notifications.size(), before);

  ASSERT_EQ(d.Config(u"Operator"), VARIANT_TRUE);
  EXPECT_EQ(d.State(), dsCONFIGURED);
  ASSERT_TRUE(vkr::test::PumpUntil([&] { return d.Notes("functions changed VKR-1") > 0; }));
  // The level was taken: an operator is offered the offline parameterization (level 2).
  vkr::Bstr functions;
  ASSERT_EQ(d.dtm->GetFunctions(vkr::Bstr(u"<FDT operationPhase=\"engineering\"/>"), functions.Put()), S_OK);
  EXPECT_NE(vkr::Utf16ToUtf8(functions.View()).find("functionId =\"5\""), std::string::npos)
      << vkr::Utf16ToUtf8(functions.View());
  d.Release();
}

}  // namespace
