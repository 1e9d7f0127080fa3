// Parameter access from user interfaces: the DTM calls of the user-interface base, against the
// fake DTM that behaves as the real one does.
#include <gtest/gtest.h>

#include <vector>

#include "platform/platform.h"
#include "tests/support/fake_ui_dtm.h"

namespace vkr::test::ui {
namespace {

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
  VARIANT offset = vkr::EmptyVariant();
  offset.vt = VT_R4;
  offset.fltVal = 6.0f;  // the stored value
  VARIANT tooLarge = vkr::EmptyVariant();
  tooLarge.vt = VT_R4;
  tooLarge.fltVal = 75.0f;
  VARIANT level = tooLarge;
  level.fltVal = 7.5f;
  const Case cases[] = {
      {"unchanged value offline", dsCONFIGURED, kFakeUpperRange, vkr::Variant(offset), S_OK, kBroadcastValueChanged},
      {"refused value offline", dsCONFIGURED, kFakeDamping, vkr::Variant(tooLarge), E_FAIL, 0},
      {"device parameter online", dsONLINE, kFakeDamping, vkr::Variant(level), S_OK, kBroadcastDeviceValue},
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
  ASSERT_EQ(fake->CountOf("WriteDeviceParameter"), 3u);
  EXPECT_EQ(fake->CallsOf("WriteDeviceParameter")[1].result, E_FAIL);

  fake->FailCall("WriteDeviceParameter", S_FALSE, 1);
  VARIANT_BOOL done = VARIANT_FALSE;
  EXPECT_EQ(fake->WriteDeviceParameter(vkr::UI4(kFakeDamping), level, &done), S_FALSE);
  EXPECT_EQ(fake->WriteDeviceParameter(vkr::UI4(kFakeDamping), level, &done), S_OK);
}

}  // namespace
}  // namespace vkr::test::ui
