// The offline parameter control as a frame starts it: a start the control family refuses is
// reported as refused (not as the success of a later step), and the refused control leaves the
// DTM's data set as it was. The edit road itself runs end to end through the frame host
// (tests/frame/offline_param_road.sh).
#include <gtest/gtest.h>

#include <utility>

#include "frame/FrameDocuments.h"
#include "include/ProgramIds.h"
#include "tests/support/kept_picture.h"
#include "tests/support/live_page_host.h"
#include "tests/support/variant_values.h"
#include "ui/device/AdvancedPP.h"
#include "ui/device/DeviceUiIds.h"
#include "ui/device/OfflineParam.h"
#include "ui/device/kit/Kit.h"

namespace {

using namespace vkr::dui;
using vkr::test::FindItem;
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
  auto make = [] {
    vkr::ComPtr<IDtmActiveXControl> control;
    EXPECT_EQ(
        CoCreateInstance(CLSID_OfflineParam, nullptr, CLSCTX_INPROC_SERVER, IDtmActiveXControl::iid, control.PutVoid()),
        S_OK);
    return control;
  };
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
    ASSERT_EQ(handler->GetParameterValue(vkr::UI4(kParPvUnit), unitBefore.Put()), S_OK);
    const HRESULT dirtyBefore = persist->IsDirty();
    vkr::ComPtr<IDtmActiveXControl> control = make();
    ASSERT_TRUE(control);
    VARIANT_BOOL started = VARIANT_TRUE;
    const vkr::Bstr instance(c.instance), document(c.functionCall ? vkr::Bstr(c.functionCall) : call);
    const HRESULT hr = control->Init(instance.Get(), document.Get(), dtm.Get(), &started);
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_EQ(started, VARIANT_FALSE);
    vkr::Variant unitAfter;
    ASSERT_EQ(handler->GetParameterValue(vkr::UI4(kParPvUnit), unitAfter.Put()), S_OK);
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
  vkr::ComPtr<IDtmActiveXControl> control = make();
  ASSERT_TRUE(control);
  VARIANT_BOOL started = VARIANT_TRUE;
  EXPECT_EQ(control->Init(vkr::Bstr(u"x").Get(), call.Get(), nullptr, &started), E_POINTER);
  EXPECT_EQ(started, VARIANT_FALSE);
  EXPECT_EQ(control->Init(vkr::Bstr(u"x").Get(), call.Get(), dtm.Get(), nullptr), E_POINTER);
}

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
  HWND Item(int id) const { return FindItem(GetParent(FindItem(window_, kOfflineHiLevelEdit)), id); }
  std::string Text(int id) const { return vkr::ui::WindowText(Item(id)); }
  void Set(LONG id, const VARIANT& value) {
    ASSERT_EQ(handler_->SetParameterValue(vkr::UI4(static_cast<ULONG>(id)), value), S_OK);
  }
  void SetBytes(LONG id, std::vector<BYTE> bytes) {
    vkr::Variant value;
    ASSERT_EQ(vkr::dui::MakeByteArray(bytes, value.Put()), S_OK);
    Set(id, value);
  }
  // The data set's value as the type; VT_EMPTY when it does not convert.
  vkr::Variant As(LONG id, VARTYPE type) {
    vkr::Variant value, converted;
    EXPECT_EQ(handler_->GetParameterValue(vkr::UI4(static_cast<ULONG>(id)), value.Put()), S_OK);
    VariantChangeType(&converted, &value, 0, type);
    return converted;
  }
  LONG Number(LONG id) {
    const vkr::Variant v = As(id, VT_I4);
    return v.vt == VT_I4 ? v.lVal : -1;
  }
  float Float(LONG id) {
    const vkr::Variant v = As(id, VT_R4);
    return v.vt == VT_R4 ? v.fltVal : -1.0f;
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

// The control as it opens looks as kept (without a device, the current, PV and SV it was given no
// value of say so, and show no unit). The data of the commands the DTM last read (in the order
// an upload reads them) become the offline values, the distances kept in metres and shown in the
// unit beside them; the fail time of the command 135 data reaches its edit although the control's
// table does not hold its parameter.
TEST_F(OfflineParamOpen, CommandDataBecomeTheOfflineValues) {
  OpenControl();
  vkr::ui::PumpUntilIdle();
  vkr::test::ExpectLooksAsKept(window_, "offline_param");
  SetBytes(kParCommand1Complete, WithFloat({44}, 3.25f));
  SetBytes(kParCommand15Complete, WithFloat(WithFloat(WithFloat({0, 1, 44}, 9.5f), 0.75f), 2.0f));
  SetBytes(kParSpCmd1, {5, 2, 3, 4, 77});
  SetBytes(kParSpCmd2, WithFloat(WithFloat({25, 4}, 1.5f), -0.25f));
  const struct {
    int item;
    const char* text;
  } shown[] = {
      {kOfflineDisplayModeCombo, "Distance"},  {kOfflineTrackingCombo, "Fast"}, {kOfflineDielectricCombo, " < 20"},
      {kOfflineFailModeCombo, "4.00 mA"},      {kOfflineFailTimeEdit, "77"},    {kOfflineSensitivityEdit, "10.0"},
      {kOfflineAnalogModeCombo, "Park 4 mA"},  {kOfflineBlankingEdit, "1.500"}, {kOfflineOffsetEdit, "-0.250"},
      {kOfflineDisplayUnitCombo, "Feet (ft)"}, {kOfflinePvEdit, "3.250"},       {kOfflineHiLevelEdit, "9.500"},
      {kOfflineLowLevelEdit, "0.750"},         {kOfflineDampingEdit, "2.000"},  {kOfflineUnitLabels[0], "ft"},
  };
  for (const auto& s : shown)
    EXPECT_TRUE(WaitFor([&] { return Text(s.item) == s.text; }, 3000)) << s.item << ": \"" << Text(s.item) << "\"";
  const struct {
    LONG id;
    LONG value;
  } stored[] = {{kParDisplayModeOffline, 5}, {kParTrackingOffline, 2}, {kParDielectricOffline, 3},
                {kParFailSafeOffline, 4},    {kParFailTimeUser, 77},   {kParSensitivityOffline, 25},
                {kParAnalogModeOffline, 4},  {kParPvUnitOffline, 44},  {kParRangeUnit, 44}};
  for (const auto& s : stored) EXPECT_EQ(Number(s.id), s.value) << s.id;
  const auto metres = [](double feet) { return static_cast<float>(feet * 0.3048); };
  EXPECT_FLOAT_EQ(Float(kParUpperRangeOffline), metres(9.5));
  EXPECT_FLOAT_EQ(Float(kParLowerRangeOffline), metres(0.75));
  EXPECT_FLOAT_EQ(Float(kParDistanceOffsetOffline), metres(-0.25));
  // The same unit in later command 1 data is no news: the offline unit the user set stays, and
  // the distances are shown in it.
  Set(kParPvUnitOffline, vkr::test::UI1(45));
  SetBytes(kParCommand1Complete, WithFloat({44}, 3.5f));
  EXPECT_TRUE(WaitFor([&] { return Text(kOfflinePvEdit) == "3.500"; }, 3000));
  EXPECT_EQ(Number(kParPvUnitOffline), 45);
  EXPECT_EQ(Text(kOfflineDisplayUnitCombo), "Metres (m)");
  for (const auto& [item, text] : {std::pair{kOfflineHiLevelEdit, "2.896"}, {kOfflineLowLevelEdit, "0.229"},
                                   {kOfflineOffsetEdit, "-0.076"}, {kOfflineHiUnitLabel, "meters"},
                                   {kOfflineOffsetUnitLabel, "meters"}, {kOfflinePvUnitLabel, "ft"}})
    EXPECT_EQ(Text(item), text) << item;
  EXPECT_FLOAT_EQ(Float(kParUpperRangeOffline), metres(9.5));
  // PV and SV read by command 3 are labelled with the units that command gave them in.
  std::vector<BYTE> command3 = WithFloat({0x41, 0x40, 0, 0, 49}, 2500.0f);
  command3.push_back(45);
  SetBytes(kParCommand3Complete, WithFloat(command3, 3.5f));
  Set(kParPvValue, vkr::test::R4(2500.0f));
  Set(kParSvValue, vkr::test::R4(3.5f));
  EXPECT_TRUE(WaitFor([&] { return Text(kOfflinePvUnitLabel) == "mm"; }, 3000)) << Text(kOfflinePvUnitLabel);
  EXPECT_TRUE(WaitFor([&] { return Text(kOfflineSvUnitLabel) == "meters"; }, 3000)) << Text(kOfflineSvUnitLabel);
  EXPECT_EQ(Text(kOfflinePvEdit), "2500.000");
  EXPECT_EQ(Text(kOfflineSvEdit), "3.500");
}

// Short command data: only the fields wholly present are taken; the others keep their values.
TEST_F(OfflineParamOpen, ShortCommandDataUseOnlyWholeFields) {
  Set(kParBlankingOffline, vkr::test::R4(0.5f));
  Set(kParLowerRangeOffline, vkr::test::R4(0.25f));
  OpenControl();
  SetBytes(kParSpCmd2, {30, 5, 0x3F, 0x80});
  SetBytes(kParCommand15Complete, {0, 1, 44, 0x41, 0x20, 0x00, 0x00, 0x3F});
  SetBytes(kParSpCmd1, {4, 1});
  EXPECT_TRUE(WaitFor([&] { return Text(kOfflineSensitivityEdit) == "12.0"; }, 3000));
  // 10 ft, shown in the control's metres.
  EXPECT_TRUE(WaitFor([&] { return Text(kOfflineHiLevelEdit) == "3.048"; }, 3000));
  EXPECT_TRUE(WaitFor([&] { return Text(kOfflineTrackingCombo) == "Medium"; }, 3000));
  EXPECT_EQ(Text(kOfflineAnalogModeCombo), "Park 8 mA");
  EXPECT_EQ(Text(kOfflineDisplayModeCombo), "% Level");
  EXPECT_FLOAT_EQ(Float(kParBlankingOffline), 0.5f);
  EXPECT_EQ(Text(kOfflineBlankingEdit), "0.500");
  EXPECT_FLOAT_EQ(Float(kParLowerRangeOffline), 0.25f);
  EXPECT_EQ(Number(kParDielectricOffline), 0);  // as the data set held it
  EXPECT_EQ(Text(kOfflineFailTimeEdit), "3");   // the data set's offline fail time
}

// Codes the control's lists do not hold (in the data set's settings, which the control shows over
// the offline copies) leave their lists unselected; they are passed over on OK (nothing stored,
// nothing marked), so the user's other edits are stored and OK closes (its download declined).
TEST_F(OfflineParamOpen, CodesOutsideTheListsLeaveTheirPairsAlone) {
  Set(kParDisplayModeOffline, vkr::test::UI1(4));
  Set(kParFailSafeOffline, vkr::test::UI1(5));
  Set(kParAnalogModeOffline, vkr::test::UI1(6));
  Set(kParDisplayMode, vkr::test::UI1(0));
  Set(kParFailSafe, vkr::test::UI1(0));
  Set(kParAnalogMode, vkr::test::UI1(2));
  OpenControl();
  for (int combo : {kOfflineDisplayModeCombo, kOfflineFailModeCombo, kOfflineAnalogModeCombo})
    EXPECT_EQ(SendMessageA(Item(combo), CB_GETCURSEL, 0, 0), CB_ERR) << combo;
  TypeInto(kOfflineHiLevelEdit, "20.5");
  // The data set alone: the download the OK offers is declined.
  session_->Frame()->questionAnswers = {"buttonNo"};
  ClickOk();
  EXPECT_FALSE(IsOpen());
  EXPECT_FLOAT_EQ(Float(kParUpperRangeOffline), 20.5f);
  EXPECT_EQ(Number(kParDisplayMode), 0);
  EXPECT_EQ(Number(kParFailSafe), 0);
  EXPECT_EQ(Number(kParAnalogMode), 2);
  EXPECT_EQ(Number(kParDisplayModeOffline), 4);
}

}  // namespace
