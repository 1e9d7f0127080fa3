// The online upload and download of the parameter lists, end to end: the stand-in frame asks the
// DTM module (IDtmOnlineParameter), the DTM talks HART to the simulated transmitter through the
// frame's channel, and the frame hears the end (IDtmEvents).
#include <gtest/gtest.h>

#include <cstring>

#include "frame/FrameHost.h"
#include "frame/TransferSession.h"
#include "parameters/IovFDTParamList.h"
#include "parameters/ParameterHandlerInterfaces.h"
#include "tests/support/temp_files.h"

namespace {

using vkr::frame::SimulatedDevice;
using vkr::frame::TransferSession;
using vkr::test::ScopedEnv;
using vkr::test::ScopedRegistry;
using vkr::test::TempDir;

constexpr ULONG kUploadIds[] = {1031, 1048, 1049, 1050, 1051, 1052, 1054, 1055, 1056,
                                1057, 1058, 1029, 1030, 1033, 1059, 1061, 1097};
constexpr ULONG kDeviceValueField = 0x200000;

VARIANT Id(ULONG id) { return vkr::UI4(id); }

[[maybe_unused]] vkr::Variant Text(const char16_t* s) {
  vkr::Variant v;
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(s);
  return v;
}
[[maybe_unused]] vkr::Variant Number(VARTYPE vt, double d) {
  vkr::Variant r8, out;
  r8.vt = VT_R8;
  r8.dblVal = d;
  VariantChangeType(out.Put(), r8.Ptr(), 0, vt);
  return out;
}
[[maybe_unused]] vkr::Variant Bytes(const vkr::frame::Bytes& bytes) {
  vkr::Variant v;
  v.vt = VT_ARRAY | VT_UI1;
  v.parray = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
  void* data = nullptr;
  SafeArrayAccessData(v.parray, &data);
  if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
  SafeArrayUnaccessData(v.parray);
  return v;
}

// The bytes of a VT_ARRAY|VT_UI1 value.
vkr::frame::Bytes BytesOf(const VARIANT& v) {
  vkr::frame::Bytes out;
  if (v.vt != (VT_ARRAY | VT_UI1) || !v.parray) return out;
  LONG lower = 0, upper = -1;
  SafeArrayGetLBound(v.parray, 1, &lower);
  SafeArrayGetUBound(v.parray, 1, &upper);
  void* data = nullptr;
  SafeArrayAccessData(v.parray, &data);
  if (upper >= lower) out.assign(static_cast<BYTE*>(data), static_cast<BYTE*>(data) + (upper - lower + 1));
  SafeArrayUnaccessData(v.parray);
  return out;
}

bool Same(const VARIANT& a, const VARIANT& b) {
  if ((a.vt & VT_ARRAY) || (b.vt & VT_ARRAY)) return a.vt == b.vt && BytesOf(a) == BytesOf(b);
  return VarCmp(const_cast<VARIANT*>(&a), const_cast<VARIANT*>(&b), 1033, 0) == VARCMP_EQ;
}

class Transfer : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    ASSERT_EQ(vkr::frame::RunModuleRegistration(VKR_MODULE_PATH, true), S_OK);
    device = std::make_shared<SimulatedDevice>();
  }
  void TearDown() override {
    session.reset();
    CoFreeUnusedLibraries();
    CoUninitialize();
  }
  void Open() {
    session = std::make_unique<TransferSession>();
    ASSERT_EQ(session->Open(u"Vorn.ExampleDtm", device, ""), S_OK);
    session->Dtm()->QueryInterface(IovFdtParameterHandler4::iid, handler.PutVoid());
    session->Dtm()->QueryInterface(IovFdtParameterInfo::iid, info.PutVoid());
    session->Dtm()->QueryInterface(IovFDTParamList::iid, lists.PutVoid());
    ASSERT_TRUE(handler && info && lists);
  }
  vkr::Variant Value(ULONG id) {
    vkr::Variant v;
    EXPECT_EQ(handler->GetParameterValue(Id(id), v.Put()), S_OK) << id;
    return v;
  }
  vkr::Variant DeviceValue(ULONG id) {
    vkr::Variant v;
    EXPECT_EQ(info->GetParameterField(Id(id), vkr::UI4(kDeviceValueField), v.Put()), S_OK) << id;
    return v;
  }
  // The names of the root lists: the transfer lists, and any temporary list left behind.
  size_t RootListCount() {
    vkr::Variant keys;
    VARIANT_BOOL ok = VARIANT_FALSE;
    lists->GetChildLists(vkr::EmptyVariant(), keys.Put(), &ok);
    if (keys.vt != (VT_ARRAY | VT_VARIANT)) return 0;
    LONG lower = 0, upper = -1;
    SafeArrayGetLBound(keys.parray, 1, &lower);
    SafeArrayGetUBound(keys.parray, 1, &upper);
    return static_cast<size_t>(upper - lower + 1);
  }

  ScopedRegistry registry;
  TempDir drives;
  ScopedEnv root{"VKR_DRIVE_ROOT", drives.path()};
  std::shared_ptr<SimulatedDevice> device;
  std::unique_ptr<TransferSession> session;
  vkr::ComPtr<IovFdtParameterHandler4> handler;
  vkr::ComPtr<IovFdtParameterInfo> info;
  vkr::ComPtr<IovFDTParamList> lists;
};

TEST_F(Transfer, UploadFillsEveryMemberWithTheDevicesValue) {
  device->SetTagAndDescriptor("LT-200", "SILO NORTH");
  device->SetMessage("UPLOADED FROM THE DEVICE");
  device->config.pv = 4.25f;
  Open();
  const size_t listsBefore = RootListCount();
  bool success = false;
  ASSERT_EQ(session->Upload(&success), S_OK);
  EXPECT_TRUE(success) << session->Frame()->notifications.back();
  EXPECT_TRUE(session->Channel()->failures.empty());
  for (ULONG id : kUploadIds) {
    vkr::Variant value = Value(id), deviceValue = DeviceValue(id);
    EXPECT_NE(deviceValue.vt, VT_EMPTY) << id << " was not read";
    vkr::Variant flags;
    ASSERT_EQ(info->GetParameterField(Id(id), vkr::UI4(0x4000), flags.Put()), S_OK);
    // A disabled member (flag 0x08: the byte strings without limits) is read, but the data set
    // keeps its own value.
    if (flags.ulVal & 0x08) continue;
    EXPECT_TRUE(Same(value, deviceValue)) << id;
  }
  EXPECT_EQ(std::u16string(vkr::View(Value(1054).bstrVal)).substr(0, 6), u"LT-200");
  EXPECT_FLOAT_EQ(Value(1049).fltVal, 4.25f);
  EXPECT_EQ(RootListCount(), listsBefore) << "a temporary list stayed behind";
}

}  // namespace
