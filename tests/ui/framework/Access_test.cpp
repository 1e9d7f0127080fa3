// Parameter access from user interfaces: the DTM calls of the user-interface base, against the
// fake DTM that behaves as the real one does, through the test dialog.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "parameters/CovVAPacker.h"
#include "ui/framework/BaseActiveX.h"
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
    for (const std::u16string& e : ui->errors) all.append(all.empty() ? "" : "|").append(vkr::Utf16ToUtf8(e));
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

// Applying: the audit trail is switched on around the writes and off after the last one (a failed
// write ends the writes before that); each changed entry goes to the device or into the data set
// as the dialog type, the entry's option and the parameter's kind say; pending invalid input stops
// everything.
TEST(AccessTest, ApplyingWritesEachChangedEntryWhereItBelongs) {
  struct Case {
    const char* what;
    ULONG dialogType;
    ULONG dampingOption;
    std::function<void(Dialog&)> arrange;
    HRESULT expected;
    std::vector<std::string> calls;
  };
  auto none = [](Dialog&) {};
  const Case cases[] = {
      {"online: the device parameter to the device, the data-set one into the data set", 0x4 | 0x8, 0, none, S_OK,
       {"DtmMessage 52 -1", "WriteDeviceParameterEx 1022", "ValidateAndSetParameter 1026", "DtmMessage 52 0"}},
      {"offline: both into the data set", 0x2 | 0x8, 0, none, S_OK,
       {"DtmMessage 52 -1", "ValidateAndSetParameter 1022", "ValidateAndSetParameter 1026", "DtmMessage 52 0"}},
      {"online with the store-in-DTM option", 0x1 | 0x8, 0x100, none, S_OK,
       {"DtmMessage 52 -1", "ValidateAndSetParameter 1022", "ValidateAndSetParameter 1026", "DtmMessage 52 0"}},
      {"a failed write ends the writes and leaves the audit trail unclosed", 0x4 | 0x8, 0,
       [](Dialog& d) { d.fake->FailCall("WriteDeviceParameterEx", E_ACCESSDENIED); }, E_ACCESSDENIED,
       {"DtmMessage 52 -1", "WriteDeviceParameterEx 1022"}},
      // OK and Apply must not report it as done: the control stays open and changed.
      {"a write the device did not take fails like a failed one", 0x4 | 0x8, 0,
       [](Dialog& d) { d.fake->FailCall("WriteDeviceParameterEx", S_FALSE); }, E_FAIL,
       {"DtmMessage 52 -1", "WriteDeviceParameterEx 1022"}},
      {"nothing changed", 0x4 | 0x8, 0,
       [](Dialog& d) {
         d.ui->Entry(kEntryDamping).m_nState &= ~0x2UL;
         d.ui->Entry(kEntryUpperRange).m_nState &= ~0x2UL;
       },
       S_OK, {"DtmMessage 52 -1", "DtmMessage 52 0"}},
      {"invalid input pending", 0x4 | 0x8, 0, [](Dialog& d) { d.ui->Entry(kEntryUpperRange).m_nState |= 0x4; },
       E_FAIL, {}},
      {"no information interface", 0x4 | 0x8, 0, [](Dialog& d) { d.fake->Withdraw(IovFdtParameterInfo::iid); },
       E_POINTER, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Dialog d(c.dialogType, dsONLINE);
    d.Type(kTestDampingEdit, "2.50");
    d.Type(kTestUpperRangeEdit, "7.000");
    d.ui->Entry(kEntryDamping).m_nCtrlKind |= c.dampingOption;
    // No field has the focus: leaving one would write it by itself.
    SetFocus(d.host->Item(kTestRefreshButton));
    vkr::ui::PumpUntilIdle();
    for (LONG entry : {kEntryDamping, kEntryUpperRange}) d.ui->Entry(entry).m_nState = 0x71 | 0x2;
    c.arrange(d);
    d.Forget();
    d.ui->applyButtonChanges.clear();
    EXPECT_EQ(d.ui->ApplyParameterChanges(), c.expected);
    std::vector<std::string> calls;
    for (const FakeCall& f : d.fake->Calls()) {
      if (f.op == "DtmMessage") calls.push_back("DtmMessage " + std::to_string(f.id) + " " + std::to_string(f.argument.iVal));
      if (f.op == "WriteDeviceParameterEx" || f.op == "WriteDeviceParameter" || f.op == "ValidateAndSetParameter")
        calls.push_back(f.op + " " + std::to_string(f.id));
    }
    EXPECT_EQ(calls, c.calls);
    // Only a complete apply leaves the apply button off.
    EXPECT_EQ(d.ui->applyButtonChanges, c.expected == S_OK ? std::vector<BOOL>{FALSE} : std::vector<BOOL>{});
    if (c.expected == E_FAIL && c.calls.empty()) {
      EXPECT_EQ(GetFocus(), d.host->Item(kTestUpperRangeEdit));
    }
  }
}

// The marks of one entry: invalid as the DTM's validation says (a validation that cannot run
// counts as refusal), changed against the device's value in an online dialog (numbers compared as
// they show) and against the data set otherwise; the answer is the entry's validity.
TEST(AccessTest, AnEntrysMarksFollowValidationAndTheComparisonValue) {
  struct Case {
    const char* what;
    ULONG dialogType;
    const char* typed;
    std::function<void(Dialog&)> arrange;
    VARIANT_BOOL valid;
    ULONG marks;  // changed 2, invalid 4
  };
  auto none = [](Dialog&) {};
  const Case cases[] = {
      {"online, differs from the device", 0x4 | 0x8, "2.50", none, VARIANT_TRUE, 0x2},
      {"online, what the device holds", 0x4 | 0x8, "3.25",
       [](Dialog& d) { d.fake->SetDeviceValue(kFakeDamping, R4(3.25f)); }, VARIANT_TRUE, 0},
      {"online, equal at the shown precision", 0x4 | 0x8, "3.25",
       [](Dialog& d) { d.fake->SetDeviceValue(kFakeDamping, R4(3.250001f)); }, VARIANT_TRUE, 0},
      {"out of range", 0x4 | 0x8, "75", none, VARIANT_FALSE, 0x4 | 0x2},
      {"not a number", 0x4 | 0x8, "abc", none, VARIANT_FALSE, 0x4},
      {"validation fails", 0x4 | 0x8, "2.50", [](Dialog& d) { d.fake->FailCall("ValidateParameter", E_FAIL); },
       VARIANT_FALSE, 0x4 | 0x2},
      {"no validation at the DTM", 0x4 | 0x8, "2.50",
       [](Dialog& d) { d.fake->Withdraw(IovFdtParameterValidation::iid); }, VARIANT_FALSE, 0x4 | 0x2},
      {"offline, differs from the data set", 0x2 | 0x8, "2.50", none, VARIANT_TRUE, 0x2},
      {"offline, the data set's value", 0x2 | 0x8, "0.50", none, VARIANT_TRUE, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Dialog d(c.dialogType, dsONLINE);
    c.arrange(d);
    d.ui->Entry(kEntryDamping).m_nState = 0x71;
    d.Type(kTestDampingEdit, c.typed);
    VARIANT_BOOL valid = 7;
    EXPECT_EQ(d.ui->FormatParameterText(kTestDampingId, &valid), S_OK);
    EXPECT_EQ(valid, c.valid);
    EXPECT_EQ(d.ui->Entry(kEntryDamping).m_nState & 0x6, c.marks);
  }

  Dialog d(0x4 | 0x8, dsONLINE);
  VARIANT_BOOL valid = VARIANT_TRUE;
  EXPECT_EQ(d.ui->FormatParameterText(4711, &valid), E_INVALIDARG);
  EXPECT_EQ(valid, VARIANT_FALSE);
  // A hidden entry is not checked at all.
  d.ui->Entry(kEntryDamping).m_nState = 0x71 | 0x8;
  d.Forget();
  valid = VARIANT_TRUE;
  EXPECT_EQ(d.ui->GetParameterText(kTestDampingId, &valid), S_OK);
  EXPECT_EQ(valid, VARIANT_FALSE);
  EXPECT_TRUE(d.fake->Calls().empty());
  // The forms by index: only entries of their mode.
  EXPECT_EQ(d.ui->GetParameterTextOfMode1(kEntryDamping, &valid), E_INVALIDARG);
  EXPECT_EQ(d.ui->GetParameterTextOfMode1(kEntryPvUnit, &valid), S_OK);
  EXPECT_EQ(d.ui->GetParameterTextOfMode2(kEntryDeviceStatus, &valid), S_OK);
  EXPECT_EQ(d.ui->GetParameterTextOfMode2(kEntryPvUnit, &valid), E_INVALIDARG);
  EXPECT_EQ(d.ui->GetParameterTextByIndex(kTestEntryCount, &valid), E_INVALIDARG);
  EXPECT_EQ(d.ui->GetParameterTextByIndex(kEntryDamping, nullptr), E_POINTER);
}

// The parameter-group display's events: each kind takes only its own data; an edit of a changed
// entry dirties the page, a new value is shown in the entry's field.
TEST(AccessTest, DisplayControlEventsReachTheirEntry) {
  auto pair = [](VARIANT first, VARIANT second) {
    vkr::Variant packed;
    PackParameterEvent(0, second, &packed);
    LONG at = 0;
    SafeArrayPutElement(packed.parray, &at, &first);
    return packed;
  };
  vkr::Variant nullArray;
  nullArray.vt = VT_ARRAY | VT_VARIANT;
  struct Case {
    const char* what;
    LONG control;
    LONG kind;
    vkr::Variant data;
    HRESULT expected;
  };
  const Case cases[] = {
      {"selection by id", kTestDampingEdit, 2, vkr::Variant(vkr::UI4(kTestDampingId)), S_OK},
      {"selection of several", kTestDampingEdit, 2, pair(vkr::UI4(1), vkr::UI4(2)), S_OK},
      {"selection of another type", kTestDampingEdit, 2, vkr::Variant(vkr::I4(1)), E_UNEXPECTED},
      {"edit", kTestDampingEdit, 3, vkr::Variant(vkr::UI4(kTestDampingId)), S_OK},
      {"edit of another control", 999, 3, vkr::Variant(vkr::UI4(kTestDampingId)), E_FAIL},
      {"edit by another type", kTestDampingEdit, 3, vkr::Variant(vkr::I4(kTestDampingId)), E_UNEXPECTED},
      {"new value", kTestDampingEdit, 4, pair(vkr::UI4(kTestDampingId), R4(3.25f)), S_OK},
      {"new value of another control", 999, 4, pair(vkr::UI4(kTestDampingId), R4(3.25f)), E_FAIL},
      {"new value with a signed id", kTestDampingEdit, 4, pair(vkr::I4(kTestDampingId), R4(3.25f)), E_UNEXPECTED},
      {"new value without array", kTestDampingEdit, 4, nullArray, E_POINTER},
      {"new value of another type", kTestDampingEdit, 4, vkr::Variant(vkr::UI4(kTestDampingId)), E_UNEXPECTED},
      {"another kind", 999, 9, vkr::Variant(), S_OK},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Dialog d(0x2 | 0x8);
    d.Type(kTestDampingEdit, "2.50");
    d.ui->Entry(kEntryDamping).m_nState = 0x71;
    d.ui->SetDirty(FALSE);
    EXPECT_EQ(d.ui->OnParamGroupDisplayEvent(c.control, c.kind, c.data, vkr::EmptyVariant()), c.expected);
    const bool handled = c.expected == S_OK && (c.kind == 3 || c.kind == 4);
    // The typed 2.50 differs from the data set's 0.5: the edit is a change.
    EXPECT_EQ(d.ui->m_bDirty, handled ? TRUE : FALSE);
    EXPECT_EQ(d.host->Text(kTestDampingEdit), c.kind == 4 && handled ? "3.25" : "2.50");
  }
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
