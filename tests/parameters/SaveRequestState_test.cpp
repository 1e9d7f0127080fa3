// Delayed save requests and the modified flag of the data set.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "parameters/SaveRequestState.h"
#include "tests/support/variant_values.h"

namespace {

using Journal = std::vector<std::string>;

class FakeSaveSite : public ISaveRequestSite {
 public:
  EDtmState state = dsCONFIGURED;
  bool hasTag = true, hasContainer = true;
  std::u16string parameters = u"<PARAMETERS/>";
  HRESULT saveResult = S_OK;
  Journal journal;

  EDtmState GetDtmState() override { return state; }
  HRESULT GetSystemTag(BSTR* tag) override {
    if (!hasTag) return E_FAIL;
    *tag = SysAllocString(u"TT-7");
    return S_OK;
  }
  bool HasFrameContainer() override { return hasContainer; }
  HRESULT SaveRequest(BSTR tag) override {
    journal.push_back("save " + vkr::test::Utf8(tag));
    return saveResult;
  }
  HRESULT GetParameterDocumentText(BSTR* text) override {
    *text = SysAllocString(parameters.c_str());
    return S_OK;
  }
  HRESULT PostParameterChanged(BSTR document) override {
    journal.push_back("changed " + vkr::test::Utf8(document));
    return S_OK;
  }
};

TEST(SaveRequestState, OneRequestWhenTheOutermostDelayEnds) {
  FakeSaveSite site;
  CSaveRequestState s;
  ASSERT_EQ(s.DelaySaveRequest(TRUE, &site), S_OK);
  ASSERT_EQ(s.DelaySaveRequest(TRUE, &site), S_OK);
  ASSERT_EQ(s.SetDataSetModified(TRUE, &site), S_OK);  // delayed
  ASSERT_EQ(s.DelaySaveRequest(FALSE, &site), S_OK);
  EXPECT_TRUE(site.journal.empty());
  EXPECT_TRUE(s.IsDelayed());
  ASSERT_EQ(s.DelaySaveRequest(FALSE, &site), S_OK);
  EXPECT_EQ(site.journal, (Journal{"save TT-7"}));
  EXPECT_FALSE(s.IsDelayed());
  // Closing more often than opened stays at no delay and asks nothing.
  ASSERT_EQ(s.DelaySaveRequest(FALSE, &site), S_OK);
  EXPECT_EQ(s.DelayCount(), 0u);
  EXPECT_EQ(site.journal.size(), 1u);
}

TEST(SaveRequestState, NoRequestWithoutAChangeOrOutsideTheStates) {
  struct Case {
    const char* what;
    bool modified;
    EDtmState stateAtEnd;
    bool hasTag;
    HRESULT answer;
    Journal journal;
  };
  const Case cases[] = {
      {"nothing changed", false, dsCONFIGURED, true, S_OK, {}},
      {"changed, initialised", true, dsINITIALIZED, true, S_OK, {"save TT-7"}},
      {"changed, online", true, dsONLINE, true, S_OK, {"save TT-7"}},
      {"changed, environment set", true, dsENVIRONMENTSET, true, S_OK, {}},
      {"changed, no system tag", true, dsCONFIGURED, false, S_FALSE, {}},
  };
  for (const Case& c : cases) {
    FakeSaveSite site;
    CSaveRequestState s;
    ASSERT_EQ(s.DelaySaveRequest(TRUE, &site), S_OK);
    if (c.modified) {
      ASSERT_EQ(s.SetDataSetModified(TRUE, &site), S_OK) << c.what;
    }
    site.state = c.stateAtEnd;
    site.hasTag = c.hasTag;
    EXPECT_EQ(s.DelaySaveRequest(FALSE, &site), c.answer) << c.what;
    EXPECT_EQ(site.journal, c.journal) << c.what;
  }
}

TEST(SaveRequestState, SettingTheFlagAsksTheFrameAtOnce) {
  FakeSaveSite site;
  CSaveRequestState s;
  site.state = dsINITIALIZED;  // not yet 8..12 and not modified: nothing at all
  ASSERT_EQ(s.SetDataSetModified(TRUE, &site), S_OK);
  EXPECT_FALSE(s.IsModified());
  EXPECT_TRUE(site.journal.empty());
  site.state = dsCONFIGURED;
  ASSERT_EQ(s.SetDataSetModified(TRUE, &site), S_OK);
  EXPECT_TRUE(s.IsModified());
  EXPECT_EQ(site.journal, (Journal{"save TT-7"}));
  // A frame that refuses is answered through.
  site.saveResult = E_ACCESSDENIED;
  EXPECT_EQ(s.SetDataSetModified(TRUE, &site), E_ACCESSDENIED);
  // Without a container there is nobody to ask.
  site.journal.clear();
  site.hasContainer = false;
  ASSERT_EQ(s.SetDataSetModified(TRUE, &site), S_OK);
  EXPECT_TRUE(site.journal.empty());
  // Without the system tag: S_FALSE, the flag taken all the same.
  site.hasTag = false;
  EXPECT_EQ(s.SetDataSetModified(FALSE, &site), S_FALSE);
  EXPECT_FALSE(s.IsModified());
  EXPECT_EQ(s.SetDataSetModified(TRUE, nullptr), E_POINTER);
}

TEST(SaveRequestState, ClearingTheFlagTellsTheChangedParameters) {
  FakeSaveSite site;
  CSaveRequestState s;
  ASSERT_EQ(s.SetDataSetModified(TRUE, &site), S_OK);
  site.journal.clear();
  ASSERT_EQ(s.SetDataSetModified(FALSE, &site), S_OK);
  EXPECT_EQ(site.journal, (Journal{"changed <?xml version=\"1.0\"?> \r\n<OnParameterChangedDocument> \r\n\t"
                                   "<PARAMETERS/> \r\n</OnParameterChangedDocument> \r\n"}));
  // Nothing to tell, or nobody to tell it to.
  site.journal.clear();
  site.parameters.clear();
  ASSERT_EQ(s.SetDataSetModified(FALSE, &site), S_OK);
  site.parameters = u"<PARAMETERS/>";
  site.hasContainer = false;
  ASSERT_EQ(s.SetDataSetModified(FALSE, &site), S_OK);
  EXPECT_TRUE(site.journal.empty());
}

}  // namespace
