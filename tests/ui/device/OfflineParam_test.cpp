// The offline parameter control as a frame starts it: a start the control family refuses is
// reported as refused (not as the success of a later step), and the refused control leaves the
// DTM's data set as it was. The edit road itself runs end to end through the frame host
// (tests/frame/offline_param_road.sh).
#include <gtest/gtest.h>

#include "frame/FrameDocuments.h"
#include "include/ProgramIds.h"
#include "tests/support/kept_picture.h"
#include "tests/support/live_page_host.h"
#include "ui/device/AdvancedPP.h"
#include "ui/device/DeviceUiIds.h"
#include "ui/device/OfflineParam.h"
#include "ui/device/kit/Kit.h"

namespace {

using vkr::test::Query;

class OfflineParamStart : public vkr::test::LivePageHostTest {
 protected:
  void SetUp() override { StartSession(); }
};

TEST_F(OfflineParamStart, RefusedStartIsReportedAndStoresNothing) {
  auto dtm = Query<IDtm>(session_->Dtm());
  auto persist = Query<IPersistStreamInit>(session_->Dtm());
  auto handler = Query<IovFdtParameterHandler4>(session_->Dtm());
  ASSERT_TRUE(dtm && persist && handler);
  const vkr::Bstr call(vkr::frame::FunctionCallDocument(5));
  struct Case {
    const char* what;
    const char16_t* instance;
    const char16_t* functionCall;  // null: the DTM's call document of function 5
  } cases[] = {
      {"empty instance id", u"", nullptr},
      {"call document that does not load", u"offline-1", u"<FDT"},
      {"call without a function id", u"offline-2", u"<FDT/>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    vkr::Variant unitBefore;
    ASSERT_EQ(handler->GetParameterValue(vkr::UI4(vkr::dui::kParPvUnit), unitBefore.Put()), S_OK);
    const HRESULT dirtyBefore = persist->IsDirty();
    vkr::ComPtr<IDtmActiveXControl> control;
    ASSERT_EQ(CoCreateInstance(CLSID_OfflineParam, nullptr, CLSCTX_INPROC_SERVER, IDtmActiveXControl::iid,
                               control.PutVoid()),
              S_OK);
    VARIANT_BOOL started = VARIANT_TRUE;
    const vkr::Bstr instance(c.instance), document(c.functionCall ? vkr::Bstr(c.functionCall) : call);
    const HRESULT hr = control->Init(instance.Get(), document.Get(), dtm.Get(), &started);
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_EQ(started, VARIANT_FALSE);
    vkr::Variant unitAfter;
    ASSERT_EQ(handler->GetParameterValue(vkr::UI4(vkr::dui::kParPvUnit), unitAfter.Put()), S_OK);
    // The spoiled start would have copied the controls' (empty) unit into the DTM.
    EXPECT_EQ(unitAfter.vt, unitBefore.vt);
    if (unitAfter.vt == VT_UI1 && unitBefore.vt == VT_UI1) {
      EXPECT_EQ(unitAfter.bVal, unitBefore.bVal);
    }
    EXPECT_EQ(persist->IsDirty(), dirtyBefore);
    VARIANT_BOOL released = VARIANT_FALSE;
    EXPECT_EQ(control->PrepareToRelease(&released), S_OK);
    EXPECT_EQ(released, VARIANT_TRUE);
  }
  // Null arguments are refused before anything else.
  vkr::ComPtr<IDtmActiveXControl> control;
  ASSERT_EQ(CoCreateInstance(CLSID_OfflineParam, nullptr, CLSCTX_INPROC_SERVER, IDtmActiveXControl::iid,
                             control.PutVoid()),
            S_OK);
  VARIANT_BOOL started = VARIANT_TRUE;
  EXPECT_EQ(control->Init(vkr::Bstr(u"x").Get(), call.Get(), nullptr, &started), E_POINTER);
  EXPECT_EQ(started, VARIANT_FALSE);
  EXPECT_EQ(control->Init(vkr::Bstr(u"x").Get(), call.Get(), dtm.Get(), nullptr), E_POINTER);
}

}  // namespace

namespace {

using vkr::test::FindItem;
using namespace vkr::dui;

// The control opened by the frame for function 5 with no device on the channel, as the frame host
// opens it offline.
class OfflineParamOpen : public vkr::test::LivePageHostTest {
 protected:
  void SetUp() override {
    StartSession();
    session_->Channel()->devices.clear();
    handler_ = Query<IovFdtParameterHandler4>(session_->Dtm());
    ASSERT_TRUE(handler_);
  }
  void TearDown() override {
    if (!invokeId_.empty()) session_->Frame()->activeX.CloseAll();
    vkr::test::LivePageHostTest::TearDown();
  }
  void OpenControl() {
    VARIANT_BOOL opened = VARIANT_FALSE;
    ASSERT_EQ(session_->Frame()->OpenActiveXControl(vkr::Bstr(u"VKR-1"), vkr::Bstr(vkr::frame::FunctionCallDocument(5)),
                                                    &opened),
              S_OK);
    ASSERT_EQ(opened, VARIANT_TRUE);
    vkr::ui::PumpUntilIdle();
    window_ = session_->Frame()->activeX.OpenControls().back().window;
    invokeId_ = session_->Frame()->activeX.OpenControls().back().invokeId;
  }
  bool IsOpen() const {
    for (const auto& open : session_->Frame()->activeX.OpenControls())
      if (open.invokeId == invokeId_) return true;
    return false;
  }
  HWND Item(int id) const { return FindItem(GetParent(FindItem(window_, vkr::dui::kOfflineHiLevelEdit)), id); }
  std::string Text(int id) const { return vkr::ui::WindowText(Item(id)); }
  void Set(LONG id, VARIANT value) { ASSERT_EQ(handler_->SetParameterValue(vkr::UI4(static_cast<ULONG>(id)), value), S_OK); }
  void SetBytes(LONG id, std::vector<BYTE> bytes) {
    vkr::Variant value;
    ASSERT_EQ(vkr::dui::MakeByteArray(bytes, value.Put()), S_OK);
    Set(id, value);
  }
  LONG Number(LONG id) {
    vkr::Variant value, number;
    EXPECT_EQ(handler_->GetParameterValue(vkr::UI4(static_cast<ULONG>(id)), value.Put()), S_OK);
    if (FAILED(VariantChangeType(&number, &value, 0, VT_I4))) return -1;
    return number.lVal;
  }
  float Float(LONG id) {
    vkr::Variant value, number;
    EXPECT_EQ(handler_->GetParameterValue(vkr::UI4(static_cast<ULONG>(id)), value.Put()), S_OK);
    if (FAILED(VariantChangeType(&number, &value, 0, VT_R4))) return -1.0f;
    return number.fltVal;
  }
  // Replaces an edit's text as a person does: click, select all, type.
  void TypeInto(int id, const std::string& text) {
    ASSERT_TRUE(vkr::ui::Click(Item(id)));
    SendMessageA(Item(id), EM_SETSEL, 0, -1);
    ASSERT_TRUE(vkr::ui::TypeText(Item(id), text));
    vkr::ui::PumpUntilIdle();
  }
  void ClickOk() {
    ASSERT_TRUE(vkr::ui::Click(Item(IDOK)));
    WaitFor([&] { return !IsOpen(); }, 2000);
  }
  static VARIANT R4(float f) {
    VARIANT v = vkr::EmptyVariant();
    v.vt = VT_R4;
    v.fltVal = f;
    return v;
  }
  static VARIANT UI1(BYTE b) {
    VARIANT v = vkr::EmptyVariant();
    v.vt = VT_UI1;
    v.bVal = b;
    return v;
  }

  vkr::ComPtr<IovFdtParameterHandler4> handler_;
  HWND window_ = nullptr;
  std::string invokeId_;
};

std::vector<BYTE> WithFloat(std::vector<BYTE> bytes, float value) {
  BYTE four[4];
  vkr::dui::FloatToBigEndian(value, four);
  bytes.insert(bytes.end(), four, four + 4);
  return bytes;
}

// The data of the commands the DTM last read become the offline values; the fail time of the
// command 135 data reaches its edit although the control's table does not hold its parameter.
TEST_F(OfflineParamOpen, CommandDataBecomeTheOfflineValues) {
  OpenControl();
  SetBytes(kParSpCmd1, {5, 2, 3, 4, 77});
  SetBytes(kParSpCmd2, WithFloat(WithFloat({25, 4}, 1.5f), -0.25f));
  SetBytes(kParCommand1Complete, WithFloat({44}, 3.25f));
  SetBytes(kParCommand15Complete, WithFloat(WithFloat(WithFloat({0, 1, 44}, 9.5f), 0.75f), 2.0f));
  const struct {
    int item;
    const char* text;
  } shown[] = {
      {vkr::dui::kOfflineDisplayModeCombo, "Distance"},   {vkr::dui::kOfflineTrackingCombo, "Fast"},
      {vkr::dui::kOfflineDielectricCombo, " < 20"},       {vkr::dui::kOfflineFailModeCombo, "4.00 mA"},
      {vkr::dui::kOfflineFailTimeEdit, "77"},             {vkr::dui::kOfflineSensitivityEdit, "10.0"},
      {vkr::dui::kOfflineAnalogModeCombo, "Park 4 mA"},   {vkr::dui::kOfflineBlankingEdit, "1.500"},
      {vkr::dui::kOfflineOffsetEdit, "-0.250"},           {vkr::dui::kOfflineDisplayUnitCombo, "Feet (ft)"},
      {vkr::dui::kOfflinePvEdit, "3.250"},                {vkr::dui::kOfflineHiLevelEdit, "9.500"},
      {vkr::dui::kOfflineLowLevelEdit, "0.750"},          {vkr::dui::kOfflineDampingEdit, "2.000"},
      {vkr::dui::kOfflineUnitLabels[0], "ft"},
  };
  for (const auto& s : shown)
    EXPECT_TRUE(WaitFor([&] { return Text(s.item) == s.text; }, 3000)) << s.item << ": \"" << Text(s.item) << "\"";
  const struct {
    LONG id;
    LONG value;
  } stored[] = {{vkr::dui::kParDisplayModeOffline, 5}, {vkr::dui::kParTrackingOffline, 2},
                {vkr::dui::kParDielectricOffline, 3},  {vkr::dui::kParFailSafeOffline, 4},
                {kParFailTimeUser, 77},                {vkr::dui::kParSensitivityOffline, 25},
                {vkr::dui::kParAnalogModeOffline, 4},  {vkr::dui::kParPvUnitOffline, 44},
                {kParRangeUnit, 44}};
  for (const auto& s : stored) EXPECT_EQ(Number(s.id), s.value) << s.id;
  // The same unit in later command 1 data is no news: the offline unit the user set stays.
  Set(vkr::dui::kParPvUnitOffline, UI1(45));
  SetBytes(kParCommand1Complete, WithFloat({44}, 3.5f));
  EXPECT_TRUE(WaitFor([&] { return Text(vkr::dui::kOfflinePvEdit) == "3.500"; }, 3000));
  EXPECT_EQ(Number(vkr::dui::kParPvUnitOffline), 45);
  EXPECT_EQ(Text(vkr::dui::kOfflineDisplayUnitCombo), "Metres (m)");
  EXPECT_FLOAT_EQ(Float(vkr::dui::kParUpperRangeOffline), 9.5f);
  EXPECT_FLOAT_EQ(Float(vkr::dui::kParLowerRangeOffline), 0.75f);
  EXPECT_FLOAT_EQ(Float(vkr::dui::kParDistanceOffsetOffline), -0.25f);
}

// Short command data: only the fields wholly present are taken; the others keep their values.
TEST_F(OfflineParamOpen, ShortCommandDataUseOnlyWholeFields) {
  Set(vkr::dui::kParBlankingOffline, R4(0.5f));
  Set(vkr::dui::kParLowerRangeOffline, R4(0.25f));
  OpenControl();
  SetBytes(kParSpCmd2, {30, 5, 0x3F, 0x80});
  SetBytes(kParCommand15Complete, {0, 1, 44, 0x41, 0x20, 0x00, 0x00, 0x3F});
  SetBytes(kParSpCmd1, {4, 1});
  EXPECT_TRUE(WaitFor([&] { return Text(vkr::dui::kOfflineSensitivityEdit) == "12.0"; }, 3000));
  EXPECT_TRUE(WaitFor([&] { return Text(vkr::dui::kOfflineHiLevelEdit) == "10.000"; }, 3000));
  EXPECT_TRUE(WaitFor([&] { return Text(vkr::dui::kOfflineTrackingCombo) == "Medium"; }, 3000));
  EXPECT_EQ(Text(vkr::dui::kOfflineAnalogModeCombo), "Park 8 mA");
  EXPECT_EQ(Text(vkr::dui::kOfflineDisplayModeCombo), "% Level");
  EXPECT_FLOAT_EQ(Float(vkr::dui::kParBlankingOffline), 0.5f);
  EXPECT_EQ(Text(vkr::dui::kOfflineBlankingEdit), "0.500");
  EXPECT_FLOAT_EQ(Float(vkr::dui::kParLowerRangeOffline), 0.25f);
  EXPECT_EQ(Number(vkr::dui::kParDielectricOffline), 0);  // as the data set held it
  EXPECT_EQ(Text(vkr::dui::kOfflineFailTimeEdit), "3");   // the data set's offline fail time
}

// Codes the control's lists do not hold leave their lists unselected; their pairs are passed over
// on OK (nothing stored, nothing marked), so the user's other edits are stored and OK closes.
TEST_F(OfflineParamOpen, CodesOutsideTheListsLeaveTheirPairsAlone) {
  Set(vkr::dui::kParDisplayModeOffline, UI1(0));
  Set(vkr::dui::kParFailSafeOffline, UI1(0));
  Set(vkr::dui::kParAnalogModeOffline, UI1(2));
  Set(kParDisplayMode, UI1(4));
  Set(kParFailSafe, UI1(5));
  Set(vkr::dui::kParAnalogMode, UI1(6));
  OpenControl();
  for (int combo : {vkr::dui::kOfflineDisplayModeCombo, vkr::dui::kOfflineFailModeCombo, vkr::dui::kOfflineAnalogModeCombo})
    EXPECT_EQ(SendMessageA(Item(combo), CB_GETCURSEL, 0, 0), CB_ERR) << combo;
  TypeInto(vkr::dui::kOfflineHiLevelEdit, "20.5");
  ClickOk();
  EXPECT_FALSE(IsOpen());
  EXPECT_FLOAT_EQ(Float(vkr::dui::kParUpperRangeOffline), 20.5f);
  EXPECT_EQ(Number(kParDisplayMode), 4);
  EXPECT_EQ(Number(kParFailSafe), 5);
  EXPECT_EQ(Number(vkr::dui::kParAnalogMode), 6);
  EXPECT_EQ(Number(vkr::dui::kParDisplayModeOffline), 0);
}

TEST_F(OfflineParamOpen, LooksAsKept) {
  OpenControl();
  vkr::ui::PumpUntilIdle();
  vkr::test::ExpectLooksAsKept(window_, "offline_param");
}

}  // namespace
