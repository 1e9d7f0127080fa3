// The property-page layer through a page site and the fake DTM: start, release, the page's
// operations, its map and its keyboard rules.
#include <gtest/gtest.h>

#include "tests/support/fake_ui_dtm.h"
#include "tests/support/page_site_harness.h"
#include "tests/support/test_property_page.h"

namespace {

using vkr::test::kTestRangePageClsid;
using vkr::test::kTestSettingsPageClsid;

class PropertyPage : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
  void TearDown() override { CoUninitialize(); }
};

TEST_F(PropertyPage, BothTestPagesAreCreatableByClassAndAnswerThePageInterfaces) {
  vkr::test::TestPropertyPageClasses classes;
  ASSERT_EQ(classes.Register(), S_OK);
  for (const CLSID& clsid : {kTestSettingsPageClsid, kTestRangePageClsid}) {
    vkr::ComPtr<IPropertyPage> page;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IPropertyPage::iid, page.PutVoid()), S_OK);
    vkr::ComPtr<IovFdtPropertyPageControl> control;
    EXPECT_EQ(page->QueryInterface(IovFdtPropertyPageControl::iid, control.PutVoid()), S_OK);
    vkr::ComPtr<IovFdtActiveX4> base;
    EXPECT_EQ(page->QueryInterface(IovFdtActiveX4::iid, base.PutVoid()), S_OK);
    vkr::ComPtr<IovFdtTranslationEvent> translation;
    EXPECT_EQ(page->QueryInterface(IovFdtTranslationEvent::iid, translation.PutVoid()), S_OK);
  }
}

}  // namespace
