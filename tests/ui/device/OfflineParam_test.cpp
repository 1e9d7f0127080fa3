// The offline parameter control as a frame starts it: a start the control family refuses is
// reported as refused (not as the success of a later step), and the refused control leaves the
// DTM's data set as it was. The edit road itself runs end to end through the frame host
// (tests/frame/offline_param_road.sh).
#include <gtest/gtest.h>

#include "frame/FrameDocuments.h"
#include "include/ProgramIds.h"
#include "tests/support/live_page_host.h"
#include "ui/device/DeviceUiIds.h"
#include "ui/device/OfflineParam.h"

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
