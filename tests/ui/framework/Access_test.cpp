// Parameter access from user interfaces: the DTM calls of the user-interface base, against the
// fake DTM that behaves as the real one does, through the test dialog.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "parameters/CovVAPacker.h"
#include "platform/platform.h"
#include "tests/support/fake_ui_dtm.h"
#include "tests/support/test_user_interface.h"

namespace vkr::test::ui {
namespace {

using vkr::test::CTestUserInterface;
using vkr::test::TestUserInterfaceHost;

constexpr char16_t kTag[] = u"access-ui";

VARIANT R4(float f) {
  VARIANT v = vkr::EmptyVariant();
  v.vt = VT_R4;
  v.fltVal = f;
  return v;
}

// The test dialog on the fake DTM, opened as the function container opens a user interface.
struct Dialog {
  explicit Dialog(ULONG dialogType = 0x2 | 0x8, EDtmState state = dsCONFIGURED, bool open = true) {
    fake = FakeUiDtm::Create();
    fake->SetState(state);
    host = std::make_unique<TestUserInterfaceHost>();
    ui = host->Ui();
    ui->SetDialogType(dialogType);
    ui->m_bstrSystemTag = vkr::Bstr(kTag);
    if (!open) return;
    fake->Attach(static_cast<IovFdtActiveX4*>(ui), kTag);
    EXPECT_EQ(host->Open(static_cast<IovFdtBaseDTM*>(fake.Get())), S_OK);
    fake->Deliver();
    Forget();
  }
  ~Dialog() {
    fake->DetachAll();
    host.reset();
    vkr::ui::PumpUntilIdle();
  }
  void Forget() {
    fake->ClearCalls();
    fake->ClearDelivered();
    ui->errors.clear();
  }
  void Type(UINT control, const char* text) { SetDlgItemTextA(host->Dialog(), static_cast<int>(control), text); }
  // "op id" of every recorded call of the operations given, in order.
  std::vector<std::string> Calls(std::initializer_list<const char*> ops) const {
    std::vector<std::string> out;
    for (const FakeCall& c : fake->Calls())
      for (const char* op : ops)
        if (c.op == op) out.push_back(c.op + " " + std::to_string(c.id));
    return out;
  }
  std::string Errors() const {
    std::string all;
    for (const std::u16string& e : ui->errors) all += (all.empty() ? "" : "|") + vkr::Utf16ToUtf8(e);
    return all;
  }

  vkr::ComPtr<vkr::ComObject<FakeUiDtm>> fake;
  std::unique_ptr<TestUserInterfaceHost> host;
  CTestUserInterface* ui = nullptr;
};

// Every access operation's DTM call, its answer and the text the user is told, also where the DTM
// lacks an interface or answers a failure, and where the user interface has no DTM at all.
TEST(AccessTest, EachOperationMakesItsDtmCallAndReportsItsFailures) {
  struct Case {
    const char* what;
    bool open;
    std::function<void(Dialog&)> arrange;
    std::function<HRESULT(CTestUserInterface*)> act;
    HRESULT expected;
    std::vector<std::string> calls;  // of the DTM's parameter and message operations
    std::string errors;
  };
  auto none = [](Dialog&) {};
  const Case cases[] = {
      {"a DTM message goes by its code; S_FALSE from the DTM is success", true, none,
       [](auto* ui) { return ui->SendDtmMessage(77, vkr::EmptyVariant()); }, S_OK, {"DtmMessage 77"}, ""},
      {"no message interface at the DTM", true, [](Dialog& d) { d.fake->Withdraw(IovFdtDtmEvents::iid); },
       [](auto* ui) { return ui->SendDtmMessage(52, vkr::EmptyVariant()); }, E_FAIL, {}, ""},
      {"a failed message", true, [](Dialog& d) { d.fake->FailCall("DtmMessage", E_ACCESSDENIED); },
       [](auto* ui) { return ui->SendDtmMessage(50, vkr::EmptyVariant()); }, E_ACCESSDENIED, {"DtmMessage 50"}, ""},
      {"the shown value is written", true, [](Dialog& d) { d.Type(kTestDampingEdit, "2.50"); },
       [](auto* ui) { return ui->WriteDeviceParameter(kEntryDamping); }, S_OK, {"WriteDeviceParameter 1022"}, ""},
      {"a write the DTM answers with S_FALSE", true,
       [](Dialog& d) { d.fake->FailCall("WriteDeviceParameter", S_FALSE); },
       [](auto* ui) { return ui->WriteDeviceParameter(kEntryTag); }, S_FALSE, {"WriteDeviceParameter 1054"},
       "WriteDeviceParameter failed (hRes = 00000001)!"},
      {"a write of a value the field does not hold", true, [](Dialog& d) { d.Type(kTestDampingEdit, "x"); },
       [](auto* ui) { return ui->WriteDeviceParameter(kEntryDamping); }, E_FAIL /* checked below */, {}, "*"},
      {"a write past the table", true, none, [](auto* ui) { return ui->WriteDeviceParameter(kTestEntryCount); },
       E_INVALIDARG, {}, ""},
      {"a write without DTM", false, none, [](auto* ui) { return ui->WriteDeviceParameter(kEntryDamping); }, S_OK, {},
       "Could not retrieve private interface of dtm!"},
      {"a read goes to the device", true, [](Dialog& d) { d.fake->SetState(dsONLINE); },
       [](auto* ui) { return ui->ReadDeviceParameter(kEntryTag); }, S_OK, {"ReadDeviceParameter 1054"}, ""},
      {"a failed read", true, [](Dialog& d) { d.fake->FailCall("ReadDeviceParameter", E_FAIL); },
       [](auto* ui) { return ui->ReadDeviceParameter(kEntryTag); }, E_FAIL, {"ReadDeviceParameter 1054"},
       "ReadDeviceParameter failed (hRes = 80004005)!"},
      {"a read past the table", true, none, [](auto* ui) { return ui->ReadDeviceParameter(kTestEntryCount + 3); },
       E_INVALIDARG, {}, ""},
      {"a read without DTM", false, none, [](auto* ui) { return ui->ReadDeviceParameter(kEntryTag); }, S_OK, {},
       " Could not retrieve private interface of dtm!"},
      {"the DTM's value", true, none,
       [](auto* ui) {
         vkr::Variant v;
         return ui->GetDtmParameterValue(kTestUpperRangeId, &v);
       },
       S_OK, {"GetParameterValue 1026"}, ""},
      {"the DTM's value without DTM", false, none,
       [](auto* ui) {
         vkr::Variant v;
         return ui->GetDtmParameterValue(kTestUpperRangeId, &v);
       },
       E_FAIL, {}, ""},
      {"a value set in the DTM", true, none, [](auto* ui) { return ui->SetDtmParameterValue(kTestUpperRangeId, R4(7)); },
       S_OK, {"SetParameterValue 1026"}, ""},
      {"an empty value is not set", true, none,
       [](auto* ui) { return ui->SetDtmParameterValue(kTestUpperRangeId, vkr::EmptyVariant()); }, E_INVALIDARG, {},
       ""},
      {"the comparison value", true, none,
       [](auto* ui) {
         vkr::Variant v;
         return ui->QueryParameterInfo(kTestDampingId, &v);
       },
       S_OK, {"GetParameterField 1022 2097152"}, ""},
      {"the comparison value without information interface", true,
       [](Dialog& d) { d.fake->Withdraw(IovFdtParameterInfo::iid); },
       [](auto* ui) {
         vkr::Variant v;
         return ui->QueryParameterInfo(kTestDampingId, &v);
       },
       E_FAIL, {}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Dialog d(0x2 | 0x8, dsCONFIGURED, c.open);
    c.arrange(d);
    d.Forget();
    const HRESULT hr = c.act(d.ui);
    if (c.errors == "*") {
      // The field's text made no value: reported with the reader's code, nothing written.
      EXPECT_TRUE(FAILED(hr));
      EXPECT_EQ(d.Errors().rfind("ReadParameterDisplayByID failed (hRes = ", 0), 0u) << d.Errors();
    } else {
      EXPECT_EQ(hr, c.expected);
      EXPECT_EQ(d.Errors(), c.errors);
    }
    std::vector<std::string> calls =
        d.Calls({"DtmMessage", "ReadDeviceParameter", "WriteDeviceParameter", "GetParameterValue", "SetParameterValue"});
    for (const FakeCall& f : d.fake->CallsOf("GetParameterField"))
      if (f.argument.lVal == 0x200000) calls.push_back("GetParameterField " + std::to_string(f.id) + " 2097152");
    EXPECT_EQ(calls, c.calls);
  }
}

// The parameter's record reaches the user interface as the DTM keeps it: the flag word alone
// (no comparison is made on the way), the limits, the type, the mode and the choices.
TEST(AccessTest, ParameterInformationComesFromTheDtmsRecord) {
  Dialog d;
  FakeParameter& damping = *d.fake->Parameter(kFakeDamping);
  damping.flags = 0x35;
  ULONG flags = 0;
  ASSERT_EQ(d.ui->GetParameterInfoValue(kTestDampingId, &flags), S_OK);
  EXPECT_EQ(flags, 0x35u);
  EXPECT_EQ(d.Calls({"GetParameterInfo", "GetParameterField", "ValidateParameter"}),
            std::vector<std::string>{"GetParameterInfo 1022"});

  vkr::Variant minimum, maximum;
  minimum.vt = VT_BSTR;  // an out value that held something is cleared, not leaked
  minimum.bstrVal = SysAllocString(u"old");
  ASSERT_EQ(d.ui->GetParameterInfoText(kTestDampingId, &minimum, &maximum), S_OK);
  EXPECT_TRUE(SameValue(minimum, damping.minimum));
  EXPECT_TRUE(SameValue(maximum, damping.maximum));
  ULONG type = 0;
  ASSERT_EQ(d.ui->GetParameterInfoField(kTestTagId, &type), S_OK);
  EXPECT_EQ(type, static_cast<ULONG>(VT_BSTR));

  EXPECT_EQ(d.ui->GetParameterInfoValue(kTestDampingId, nullptr), E_POINTER);
  EXPECT_EQ(d.ui->GetParameterInfoText(kTestDampingId, &minimum, nullptr), E_POINTER);
  EXPECT_EQ(d.ui->GetParameterInfoField(kTestDampingId, nullptr), E_POINTER);
  EXPECT_EQ(d.ui->GetParameterInfoValue(4711, &flags), E_INVALIDARG);

  // Modes and choices: a single choice, a bit set, and a plain value whose entry keeps its own.
  struct Mode {
    LONG entry;
    WORD mode;
    bool choices;
  } modes[] = {{kEntryPvUnit, 1, true}, {kEntryDeviceStatus, 2, true}, {kEntryDamping, 0, false}};
  for (const Mode& m : modes) {
    CActXParInfo& entry = d.ui->Entry(m.entry);
    VariantClear(&entry.m_vValue);
    entry.m_wMode = 9;
    ASSERT_EQ(d.ui->ReadParameterInfo(static_cast<ULONG>(m.entry)), S_OK) << m.entry;
    EXPECT_EQ(entry.m_wMode, m.mode) << m.entry;
    EXPECT_EQ(entry.m_vValue.vt, m.choices ? (VT_ARRAY | VT_BSTR) : VT_EMPTY) << m.entry;
  }
  EXPECT_EQ(d.ui->ReadParameterInfo(kTestEntryCount), E_INVALIDARG);
  d.fake->Withdraw(IovFdtParameterInfo::iid);
  EXPECT_EQ(d.ui->ReadParameterInfo(kEntryPvUnit), E_POINTER);
}

// A new update rate reaches the DTM, which asks the user interface (by the key it was started
// under) for its cyclic parameters and gets the new rate; the same rate again, an unknown id and
// a message that fails change nothing the DTM would not know.
TEST(AccessTest, UpdateRatesRoundTripThroughTheDtm) {
  Dialog d;
  auto updates = [&] {
    std::vector<SParamUpdateInfo> list;
    EXPECT_EQ(UnpackParamUpdateInfos(list, d.fake->LastUpdateList()), S_OK);
    std::vector<std::string> shown;
    for (const SParamUpdateInfo& u : list)
      shown.push_back(std::to_string(u.nParameterId) + ":" + std::to_string(u.nUpdateRate));
    return shown;
  };
  ASSERT_EQ(d.ui->ChangeUpdateRate(kTestDampingId, 500), S_OK);
  ASSERT_EQ(d.fake->CountOf("DtmMessage", 3), 1u);
  EXPECT_EQ(vkr::Bstr(d.fake->CallsOf("DtmMessage", 3)[0].argument.bstrVal).Str(), kTag);
  EXPECT_EQ(updates(), (std::vector<std::string>{"1022:500", "1048:1000"}));

  EXPECT_EQ(d.ui->ChangeUpdateRate(kTestDampingId, 500), S_OK);
  EXPECT_EQ(d.ui->ChangeUpdateRate(4711, 100), E_INVALIDARG);
  EXPECT_EQ(d.fake->CountOf("DtmMessage", 3), 1u);

  // The DTM did not hear of 250: the entry keeps 500, and asking again sends it.
  d.fake->FailCall("DtmMessage", E_FAIL, 1);
  EXPECT_EQ(d.ui->ChangeUpdateRate(kTestDampingId, 250), E_FAIL);
  EXPECT_EQ(d.ui->Entry(kEntryDamping).m_nUpdateRate, 500u);
  EXPECT_EQ(d.ui->ChangeUpdateRate(kTestDampingId, 250), S_OK);
  EXPECT_EQ(d.fake->CountOf("DtmMessage", 3), 3u);
  EXPECT_EQ(updates(), (std::vector<std::string>{"1022:250", "1048:1000"}));

  EXPECT_EQ(d.ui->ChangeUpdateRate(kTestDampingId, 0), S_OK);
  EXPECT_EQ(updates(), (std::vector<std::string>{"1048:1000"}));
}

// The fake holds to the real DTM's timing: what a write changes reaches the user interfaces only
// when the thread serves its queue, every set is told (also of an unchanged value), a refused value
// is told nothing, and online a device parameter's write comes back as the device's value.
TEST(FakeUiDtmTest, WritesReachUserInterfacesLaterAsTheRealDtmTellsThem) {
  auto fake = FakeUiDtm::Create();
  struct Case {
    const char* what;
    EDtmState state;
    ULONG id;
    vkr::Variant value;
    HRESULT expected;
    ULONG broadcast;  // 0: none
  };
  const Case cases[] = {
      {"unchanged value offline", dsCONFIGURED, kFakeUpperRange, vkr::Variant(R4(6.0f)), S_OK, kBroadcastValueChanged},
      {"refused value offline", dsCONFIGURED, kFakeDamping, vkr::Variant(R4(75.0f)), E_FAIL, 0},
      {"device parameter online", dsONLINE, kFakeDamping, vkr::Variant(R4(7.5f)), S_OK, kBroadcastDeviceValue},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fake->SetState(c.state);
    fake->ClearDelivered();
    VARIANT_BOOL done = VARIANT_FALSE;
    EXPECT_EQ(fake->WriteDeviceParameter(vkr::UI4(c.id), c.value, &done), c.expected);
    EXPECT_TRUE(fake->Delivered().empty()) << "told during the call";
    EXPECT_TRUE(fake->Deliver());
    bool told = false;
    for (const FakeBroadcast& b : fake->Delivered()) {
      ULONG id = 0;
      vkr::Variant value;
      if (b.command != c.broadcast || !UnpackParameterPair(b.argument, &id, &value)) continue;
      told = id == c.id && SameValue(value, c.value);
    }
    EXPECT_EQ(told, c.broadcast != 0);
  }
  EXPECT_FLOAT_EQ(fake->Parameter(kFakeDamping)->deviceValue.fltVal, 7.5f);
  EXPECT_FLOAT_EQ(fake->Parameter(kFakeDamping)->value.fltVal, 0.5f);
  EXPECT_EQ(fake->CallsOf("WriteDeviceParameter")[1].result, E_FAIL);
}

}  // namespace
}  // namespace vkr::test::ui
