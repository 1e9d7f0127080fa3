// A frame that drops its DTM: whatever state the DTM is in, the last release of the frame's
// reference destroys it, ends its DTM thread, and lets the module unload.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "frame/FrameDocuments.h"
#include "frame/FrameChannel.h"
#include "frame/FrameContainer.h"
#include "frame/FrameHost.h"
#include "tests/support/dtm_user_interface.h"
#include "tests/support/temp_files.h"
#include "tests/support/threading.h"

namespace {

using vkr::frame::FrameChannel;
using vkr::frame::FrameContainer;
using vkr::test::PumpUntil;

using vkr::frame::kFrameVersion;
using vkr::frame::kDeviceType;
using vkr::frame::kUserInformation;
constexpr char kDestroyed[] = "Vorn VKR Series DTM is destroyed";

using CanUnloadNow = HRESULT (*)();

class DtmRelease : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    ASSERT_EQ(vkr::frame::RunModuleRegistration(VKR_MODULE_PATH, true), S_OK);
    // The log tells when a DTM is destroyed.
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vorntec\\VKR Series DTM", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const DWORD on = 1;
    RegSetValueExA(key, "CommLogging", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on), sizeof on);
    RegSetValueExA(key, "DoNotDeleteLoggingFile", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on), sizeof on);
    RegCloseKey(key);
    module = LoadLibraryA(VKR_MODULE_PATH);
    ASSERT_NE(module, nullptr);
    canUnloadNow = reinterpret_cast<CanUnloadNow>(GetProcAddress(module, "DllCanUnloadNow"));
    ASSERT_NE(canUnloadNow, nullptr);
    threadsBefore = vkr::platform::LiveThreadCount();
  }
  void TearDown() override {
    if (module) FreeLibrary(module);
    CoFreeUnusedLibraries();
    CoUninitialize();
  }

  std::string Log() const { return vkr::test::ReadFileText(drives / "c/Logging/VornExampleDevDTM_Log.txt"); }
  static std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }

  vkr::test::ScopedRegistry registry;
  vkr::test::TempDir drives;
  vkr::test::ScopedEnv root{"VKR_DRIVE_ROOT", drives.path()};
  HMODULE module = nullptr;
  CanUnloadNow canUnloadNow = nullptr;
  std::size_t threadsBefore = 0;
};

// The DTM with the frame's interfaces, taken to a state the way a frame takes it there (and, for
// the transitions a frame cannot ask for, the way a user interface does).
struct Dtm {
  vkr::ComPtr<IUnknown> unknown;
  vkr::ComPtr<IDtm> dtm;
  vkr::ComPtr<IDtm2> dtm2;
  vkr::ComPtr<IPersistStreamInit> persist;

  HRESULT Create() {
    CLSID clsid{};
    HRESULT hr = CLSIDFromProgID(u"Vorn.ExampleDtm", &clsid);
    if (FAILED(hr)) return hr;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, unknown.PutVoid());
    if (FAILED(hr)) return hr;
    unknown->QueryInterface(IDtm::iid, dtm.PutVoid());
    unknown->QueryInterface(IDtm2::iid, dtm2.PutVoid());
    unknown->QueryInterface(IPersistStreamInit::iid, persist.PutVoid());
    return dtm && dtm2 && persist ? S_OK : E_NOINTERFACE;
  }
  EDtmState State() const { return vkr::test::ui::DtmState(unknown.Get()); }
  void Drop() {
    dtm = nullptr;
    dtm2 = nullptr;
    persist = nullptr;
    unknown = nullptr;
  }
};

// Takes the DTM to the target the way a frame does; the first step that fails or is refused.
HRESULT DriveTo(Dtm& d, EDtmState target, FrameContainer* frame, FrameChannel* channel) {
  const bool prepared = target == dsPREPAREDTODELETE || target == dsPREPAREDTORELEASE;
  VARIANT_BOOL result = VARIANT_FALSE;
  vkr::Bstr tag(u"VKR-1"), version(kFrameVersion), deviceType(kDeviceType), user(kUserInformation);
  auto step = [&](HRESULT hr) { return hr == S_OK && result ? S_OK : (FAILED(hr) ? hr : S_FALSE); };
  HRESULT hr = S_OK;
  if (target == dsCREATED) return S_OK;
  if (FAILED(hr = d.persist->InitNew())) return hr;
  if (target == dsINITNEWPERSIST) return S_OK;
  if ((hr = step(d.dtm2->Environment2(tag, frame, version, &result))) != S_OK) return hr;
  if (target == dsENVIRONMENTSET) return S_OK;
  if ((hr = step(d.dtm->InitNew(deviceType, &result))) != S_OK) return hr;
  if (target == dsINITIALIZED) return S_OK;
  if ((hr = step(d.dtm->Config(user, &result))) != S_OK) return hr;
  if (target == dsCONFIGURED) return S_OK;
  if (prepared) {
    if ((hr = step(d.dtm->PrepareToDelete(&result))) != S_OK) return hr;
    if (target == dsPREPAREDTODELETE) return S_OK;
    return step(d.dtm->PrepareToRelease(&result));
  }
  if ((hr = step(d.dtm->SetCommunication(channel, &result))) != S_OK) return hr;
  if (target == dsCOMMUNICATIONSET) return S_OK;
  FrameChannel::Fault silent;
  silent.kind = FrameChannel::FaultKind::NoAnswer;
  // A transmitter that never answers the connection keeps the DTM on its way online.
  if (target == dsGOINGONLINE) channel->alwaysFault = silent;
  if (FAILED(hr = vkr::test::ui::GoOnline(d.unknown.Get()))) return hr;
  if (target == dsGOINGONLINE) {
    // On its way: the frame has the connection request.
    auto asked = [&] {
      for (const auto& call : channel->calls)
        if (call.method == "ConnectRequest") return true;
      return false;
    };
    return PumpUntil([&] { return asked() && d.State() == dsGOINGONLINE; }) ? S_OK : E_ABORT;
  }
  if (!PumpUntil([&] { return d.State() == dsONLINE; })) return E_ABORT;
  if (target == dsONLINE) return S_OK;
  // Going offline: the state changes at once, the disconnection follows when the frame's thread
  // serves the DTM thread's call, which it does not before the release.
  if (FAILED(hr = vkr::test::ui::GoOffline(d.unknown.Get()))) return hr;
  return d.State() == dsGOINGOFFLINE ? S_OK : E_ABORT;
}

TEST_F(DtmRelease, TheLastReleaseEndsTheDtmInEveryState) {
  const EDtmState targets[] = {dsCREATED,        dsINITNEWPERSIST, dsENVIRONMENTSET, dsINITIALIZED,
                               dsCONFIGURED,     dsPREPAREDTODELETE, dsPREPAREDTORELEASE, dsCOMMUNICATIONSET,
                               dsGOINGONLINE,    dsONLINE,         dsGOINGOFFLINE};
  std::size_t destroyed = 0;
  for (const EDtmState target : targets) {
    SCOPED_TRACE(testing::Message() << "state " << target);
    vkr::ComPtr<vkr::ComObject<FrameContainer>> frame;
    vkr::ComPtr<vkr::ComObject<FrameChannel>> channel;
    ASSERT_EQ(vkr::MakeObject<FrameContainer>(&frame), S_OK);
    ASSERT_EQ(vkr::MakeObject<FrameChannel>(&channel), S_OK);
    channel->fdt121 = true;
    channel->devices.push_back(std::make_shared<vkr::frame::SimulatedDevice>());
    {
      Dtm d;
      ASSERT_EQ(d.Create(), S_OK);
      ASSERT_EQ(DriveTo(d, target, frame.Get(), channel.Get()), S_OK);
      ASSERT_EQ(d.State(), target);
      EXPECT_EQ(canUnloadNow(), S_FALSE);
      d.Drop();
    }
    // The DTM is destroyed and its thread ends, the frame still holding its container and channel.
    ++destroyed;
    EXPECT_TRUE(PumpUntil([&] { return Count(Log(), kDestroyed) == destroyed; }, 5000)) << Count(Log(), kDestroyed);
    destroyed = Count(Log(), kDestroyed);
    EXPECT_TRUE(PumpUntil([&] { return vkr::platform::LiveThreadCount() == threadsBefore; }, 5000))
        << vkr::platform::LiveThreadCount() << " threads";
    // A connection the DTM had open on the frame's channel was ended there. (A connection request
    // never answered gave the DTM nothing to end: the channel keeps it until it goes itself.)
    if (target != dsGOINGONLINE) {
      EXPECT_EQ(channel->ConnectionCount(), 0u);
    }
    EXPECT_TRUE(channel->failures.empty()) << channel->failures.front();
    frame = nullptr;
    channel = nullptr;
    EXPECT_TRUE(PumpUntil([&] { return canUnloadNow() == S_OK; }, 5000));
  }
}

}  // namespace
