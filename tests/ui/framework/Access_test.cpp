// Parameter access from user interfaces: the DTM calls of the user-interface base, against the
// fake DTM that behaves as the real one does.
#include <gtest/gtest.h>

#include <vector>

#include "platform/platform.h"
#include "tests/support/activex_defaults.h"
#include "tests/support/fake_ui_dtm.h"
#include "tests/support/stub_dispatch.h"

namespace vkr::test::ui {
namespace {

// A user interface that only records the commands it is handed.
class CommandRecorder : public vkr::Implements<IovFdtActiveX4> {
 public:
  VKR_TEST_DISPATCH
  VKR_ACTIVEX4_NOT_IMPLEMENTED
  HRESULT OnDtmStateChanged(ULONG state) override {
    states.push_back(state);
    return S_OK;
  }
  HRESULT ReportError(BSTR) override { return E_NOTIMPL; }
  HRESULT ReportErrorText(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT ExecuteCommand(VARIANT command, VARIANT argument) override {
    FakeBroadcast b;
    b.command = command.ulVal;
    VariantCopy(&b.argument, &argument);
    commands.push_back(std::move(b));
    return S_OK;
  }
  std::vector<FakeBroadcast> commands;
  std::vector<ULONG> states;
};

// The fake holds to the real DTM's timing: what a write changes reaches the user interfaces only
// when the thread serves its queue, every set is told (also of an unchanged value), a refused value
// is told nothing, and online a device parameter's write comes back as the device's value.
TEST(FakeUiDtmTest, WritesReachUserInterfacesLaterAsTheRealDtmTellsThem) {
  auto fake = FakeUiDtm::Create();
  vkr::ComPtr<vkr::ComObject<CommandRecorder>> ui;
  ASSERT_EQ(vkr::MakeObject<CommandRecorder>(&ui), S_OK);
  fake->Attach(static_cast<IovFdtActiveX4*>(ui.Get()));

  struct Case {
    const char* what;
    EDtmState state;
    ULONG id;
    vkr::Variant value;
    HRESULT expected;
    ULONG broadcast;  // 0: none
  };
  VARIANT offset = vkr::EmptyVariant();
  offset.vt = VT_I2;
  offset.iVal = 10;  // the stored value
  VARIANT tooLarge = vkr::EmptyVariant();
  tooLarge.vt = VT_R4;
  tooLarge.fltVal = 25.0f;
  VARIANT level = tooLarge;
  level.fltVal = 7.5f;
  const Case cases[] = {
      {"unchanged value offline", dsCONFIGURED, kFakeOffset, vkr::Variant(offset), S_OK, kBroadcastValueChanged},
      {"refused value offline", dsCONFIGURED, kFakeLevel, vkr::Variant(tooLarge), E_FAIL, 0},
      {"device parameter online", dsONLINE, kFakeLevel, vkr::Variant(level), S_OK, kBroadcastDeviceValue},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fake->SetState(c.state);
    ui->commands.clear();
    VARIANT_BOOL done = VARIANT_FALSE;
    EXPECT_EQ(fake->WriteDeviceParameter(vkr::UI4(c.id), c.value, &done), c.expected);
    EXPECT_TRUE(ui->commands.empty()) << "told during the call";
    EXPECT_TRUE(fake->Deliver());
    bool told = false;
    for (const FakeBroadcast& b : ui->commands) {
      ULONG id = 0;
      vkr::Variant value;
      if (b.command != c.broadcast || !UnpackParameterPair(b.argument, &id, &value)) continue;
      told = id == c.id && SameValue(value, c.value);
    }
    EXPECT_EQ(told, c.broadcast != 0);
  }
  EXPECT_FLOAT_EQ(fake->Parameter(kFakeLevel)->deviceValue.fltVal, 7.5f);
  EXPECT_FLOAT_EQ(fake->Parameter(kFakeLevel)->value.fltVal, 1.5f);
  ASSERT_EQ(fake->CountOf("WriteDeviceParameter"), 3u);
  EXPECT_EQ(fake->CallsOf("WriteDeviceParameter")[1].result, E_FAIL);

  fake->FailCall("WriteDeviceParameter", S_FALSE, 1);
  VARIANT_BOOL done = VARIANT_FALSE;
  EXPECT_EQ(fake->WriteDeviceParameter(vkr::UI4(kFakeLevel), level, &done), S_FALSE);
  EXPECT_EQ(fake->WriteDeviceParameter(vkr::UI4(kFakeLevel), level, &done), S_OK);
  fake->DetachAll();
}

}  // namespace
}  // namespace vkr::test::ui
