// Relations between parameters: the relation text, the tables, the batch and its replay order, the
// appliers of the kinds, revalidation, and the guard against relations that never settle. The
// device's own table defines no relations, so these run on synthetic ones.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "parameters/CovFDT_ParameterHandlerImpl.h"
#include "tests/support/parameter_records.h"
#include "tests/support/fake_parameter_site.h"

using namespace vkr::test;

namespace {

using Journal = std::vector<std::string>;

// A DTM whose relation hooks write to the site's journal ("hook K S->T fF") and answer as the test
// says. hookResult[kind] is the answer (S_OK when not set), hookValue[kind] the value handed out.
class CRelationDtm : public CFakeDtm {
 public:
  explicit CRelationDtm(FakeParameterSite* site) : CFakeDtm(site), m_site(site) {}

  std::map<int, HRESULT> hookResult;
  std::map<int, vkr::Variant> hookValue;
  BOOL decision = TRUE;
  // Runs inside the value hook (kind 5).
  std::function<void(IovFdtParameterHandler4*, ULONG, ULONG)> onValueHook;
  int valueHookCalls = 0;
  std::map<LONG, std::u16string> translations;
  bool answerService = true;

  HRESULT EvaluateEnableRelation(IovFdtParameterHandler4* s, ULONG a, ULONG b, ULONG f, BOOL* d) override {
    return Decide(2, s, a, b, f, d);
  }
  HRESULT EvaluateStateRelation(IovFdtParameterHandler4* s, ULONG a, ULONG b, ULONG f, BOOL* d) override {
    return Decide(3, s, a, b, f, d);
  }
  HRESULT EvaluateEnumerationRelation(IovFdtParameterHandler4* s, ULONG a, ULONG b, ULONG f, VARIANT* v) override {
    return Give(4, s, a, b, f, v);
  }
  HRESULT EvaluateValueRelation(IovFdtParameterHandler4* s, ULONG a, ULONG b, ULONG f, VARIANT* v) override {
    ++valueHookCalls;
    HRESULT hr = Give(5, s, a, b, f, v);
    if (onValueHook) onValueHook(s, a, b);
    return hr;
  }
  HRESULT EvaluateDefaultRelation(IovFdtParameterHandler4* s, ULONG a, ULONG b, ULONG f, VARIANT* v) override {
    return Give(6, s, a, b, f, v);
  }
  HRESULT EvaluateMaximumRelation(IovFdtParameterHandler4* s, ULONG a, ULONG b, ULONG f, VARIANT* v) override {
    return Give(7, s, a, b, f, v);
  }
  HRESULT EvaluateMinimumRelation(IovFdtParameterHandler4* s, ULONG a, ULONG b, ULONG f, VARIANT* v) override {
    return Give(8, s, a, b, f, v);
  }
  HRESULT EvaluateAuxiliaryRelation(IovFdtParameterHandler4* s, ULONG a, ULONG b, ULONG f, VARIANT* v) override {
    return Give(9, s, a, b, f, v);
  }
  HRESULT EvaluateUnitScalingRelation(IovFdtParameterHandler4* s, ULONG a, ULONG b, ULONG f, VARIANT* v) override {
    return Give(12, s, a, b, f, v);
  }
  HRESULT EvaluateMultiplierRelation(IovFdtParameterHandler4* s, ULONG a, ULONG b, ULONG f, VARIANT* v) override {
    return Give(13, s, a, b, f, v);
  }
  HRESULT EvaluateOffsetRelation(IovFdtParameterHandler4* s, ULONG a, ULONG b, ULONG f, VARIANT* v) override {
    return Give(14, s, a, b, f, v);
  }
  HRESULT TranslateEnumerationEntry(ULONG enumerationId, LONG value, BSTR* text) override {
    auto it = translations.find(value);
    if (enumerationId != 4 || it == translations.end()) return CFakeDtm::TranslateEnumerationEntry(enumerationId, value, text);
    *text = SysAllocString(it->second.c_str());
    return S_OK;
  }

 protected:
  HRESULT QueryExtraInterface(REFIID riid, void** ppv) override {
    if (!answerService && riid == IovFdtParameterHandler4::iid) {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    return CFakeDtm::QueryExtraInterface(riid, ppv);
  }

 private:
  void Log(int kind, ULONG a, ULONG b, ULONG f) {
    m_site->Log("hook " + std::to_string(kind) + " " + std::to_string(a) + "->" + std::to_string(b) + " f" +
                std::to_string(f));
  }
  HRESULT Answer(int kind) {
    auto it = hookResult.find(kind);
    return it == hookResult.end() ? S_OK : it->second;
  }
  HRESULT Decide(int kind, IovFdtParameterHandler4* s, ULONG a, ULONG b, ULONG f, BOOL* d) {
    EXPECT_NE(s, nullptr);
    Log(kind, a, b, f);
    *d = decision;
    return Answer(kind);
  }
  HRESULT Give(int kind, IovFdtParameterHandler4* s, ULONG a, ULONG b, ULONG f, VARIANT* v) {
    EXPECT_NE(s, nullptr);
    Log(kind, a, b, f);
    auto it = hookValue.find(kind);
    if (it != hookValue.end()) VariantCopy(v, &it->second);
    return Answer(kind);
  }
  FakeParameterSite* m_site;
};

// Parameters:
//   1  source, VT_R8 0..100, value 1
//   2  target, VT_R8 0..10, value 5
//   3  target, VT_R8 0..10, value 5
//   4  enumeration {0;Off, 1;On} of VT_I4, value 1
//   5  VT_R8 0..10 whose auxiliary VARIANT is the text "mm"
//   6  device parameter (addressed, readable), VT_UI1
class RelationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The private properties are XML documents.
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    ASSERT_EQ(vkr::MakeObject<CRelationDtm>(&dtm, &site), S_OK);
    h = dtm.Get();
    vkr::Variant lo = R8(0), hi = R8(100), ten = R8(10);
    ASSERT_EQ(h->AddParInfo(Record(1, VT_R8, R8(1), &lo, &hi, PFL_DEFAULT, 0, u"Source")), S_OK);
    ASSERT_EQ(h->AddParInfo(Record(2, VT_R8, R8(5), &lo, &ten, PFL_DEFAULT, 0, u"Two")), S_OK);
    ASSERT_EQ(h->AddParInfo(Record(3, VT_R8, R8(5), &lo, &ten, PFL_DEFAULT, 0, u"Three")), S_OK);
    ParInfo p4 = Record(4, VT_I4, I4(1), nullptr, nullptr, PFL_DEFAULT, 0, u"Switch");
    p4.m_nKind = PK_ENUMERATION;
    p4.m_vEnumList = EnumListOf({u"0;Off", u"1;On"});
    ASSERT_EQ(h->AddParInfo(p4), S_OK);
    ParInfo p5 = Record(5, VT_R8, R8(5), &lo, &ten, PFL_DEFAULT, 0, u"Five");
    p5.m_vFurther = Text(u"mm");
    ASSERT_EQ(h->AddParInfo(p5), S_OK);
    ASSERT_EQ(h->AddParInfo(Record(6, VT_UI1, UI1(1), nullptr, nullptr, PFL_DEFAULT, 1, u"Device")), S_OK);
    site.Clear();
  }
  void TearDown() override {
    dtm = nullptr;
    CoUninitialize();
  }

  HRESULT Parse(ULONG source, const char16_t* text, BOOL registerOnly = FALSE, ULONG flags = 0) {
    vkr::Bstr t(text);
    return h->ParseRelations(source, t.Get(), registerOnly, flags);
  }
  void SetRelation(ULONG id, const char16_t* text) {
    ParInfo r;
    r.m_vRelation = Text(text);
    ASSERT_EQ(h->SetParInfoFields(id, PIF_RELATION, r), S_OK);
  }
  // The journal without the save-delay and the other entries a test is not about.
  Journal Hooks() const {
    Journal out;
    for (const std::string& e : site.journal)
      if (e.rfind("hook", 0) == 0 || e.rfind("broadcast 0x271", 0) == 0 || e.rfind("read", 0) == 0) out.push_back(e);
    return out;
  }
  ULONG Flags(ULONG id) {
    ParInfo r;
    EXPECT_EQ(h->GetParInfoFields(id, PIF_FLAGS, &r), S_OK);
    return r.m_dwFlags;
  }
  ParInfo Fields(ULONG id, ULONG mask) {
    ParInfo r;
    EXPECT_EQ(h->GetParInfoFields(id, mask, &r), S_OK);
    return r;
  }

  FakeParameterSite site;
  vkr::ComPtr<vkr::ComObject<CRelationDtm>> dtm;
  CRelationDtm* h = nullptr;
};

TEST_F(RelationTest, TheTextIsReadUpToItsParenthesis) {
  struct Case {
    const char16_t* text;
    Journal applied;
  };
  const Case cases[] = {
      {u"relation(6,2)", {"hook 6 1->2 f0"}},
      {u"relation(6,2,7,3)", {"hook 6 1->2 f0", "hook 7 1->3 f0"}},
      // C library number rules: blanks, a sign, digits; the rest of a piece is not read.
      {u"relation( 6 , +2 ,7x,3z)", {"hook 6 1->2 f0", "hook 7 1->3 f0"}},
      // A kind without target ends the list.
      {u"relation(6)", {}},
      {u"relation(6,2,7)", {"hook 6 1->2 f0"}},
      {u"relation()", {}},
      // Kinds outside 1 to 14, and a kind that is no number (0), are passed over.
      {u"relation(0,2,15,2,-6,2,6,3)", {"hook 6 1->3 f0"}},
      // Nothing after the ")" is read, not even another relation.
      {u"relation(6,2) relation(7,3)", {"hook 6 1->2 f0"}},
      {u"relation(6,2)7,3", {"hook 6 1->2 f0"}},
      // A list without its ")" ends with the text.
      {u"relation(6,2,7,3", {"hook 6 1->2 f0", "hook 7 1->3 f0"}},
      {u"update(2) relation(11,3)", {"broadcast 0x271A 3"}},
  };
  for (const Case& c : cases) {
    site.Clear();
    EXPECT_EQ(Parse(1, c.text), S_OK) << Utf8(c.text);
    EXPECT_EQ(Hooks(), c.applied) << Utf8(c.text);
    // Every evaluation delays the save request, and ends the delay again.
    ASSERT_GE(site.journal.size(), 2u) << Utf8(c.text);
    EXPECT_EQ(site.journal.front(), "delay open") << Utf8(c.text);
    EXPECT_EQ(site.journal.back(), "delay close") << Utf8(c.text);
  }
}

TEST_F(RelationTest, TextsThatAreNoRelationAreRefusedWithoutDelay) {
  for (const char16_t* text : {u"", u"update(2)", u"relation", u"relation[6,2]", u"Relation(6,2)"}) {
    site.Clear();
    EXPECT_EQ(Parse(1, text), E_INVALIDARG) << Utf8(text);
    EXPECT_TRUE(site.journal.empty()) << Utf8(text) << ": " << site.Joined();
  }
  EXPECT_EQ(h->ParseRelations(1, nullptr, FALSE, 0), E_INVALIDARG);
}

TEST_F(RelationTest, SwitchesTurnRelationsAndTheDelayOff) {
  h->m_bRelationsOff = true;
  EXPECT_EQ(Parse(1, u"relation(6,2)"), S_OK);
  EXPECT_EQ(Parse(1, u"no relation at all"), S_OK);
  EXPECT_TRUE(site.journal.empty());
  h->m_bRelationsOff = false;
  h->m_bSaveDelayOff = true;
  EXPECT_EQ(Parse(1, u"relation(6,2)"), S_OK);
  EXPECT_EQ(site.journal, (Journal{"hook 6 1->2 f0"})) << site.Joined();
}

TEST_F(RelationTest, RegisteringAppliesANewRelationOnce) {
  EXPECT_EQ(Parse(1, u"relation(6,2)", TRUE, 1), S_OK);
  EXPECT_EQ(Hooks(), (Journal{"hook 6 1->2 f1"}));
  site.Clear();
  // Already in table 6: not applied again, from any source.
  EXPECT_EQ(Parse(1, u"relation(6,2)", TRUE, 1), S_OK);
  EXPECT_EQ(Parse(3, u"relation(6,2,6,3)", TRUE, 2), S_OK);
  EXPECT_EQ(Hooks(), (Journal{"hook 6 3->3 f2"}));
  site.Clear();
  // Evaluating without registering applies every time.
  EXPECT_EQ(Parse(1, u"relation(6,2)"), S_OK);
  EXPECT_EQ(Parse(1, u"relation(6,2)"), S_OK);
  EXPECT_EQ(Hooks(), (Journal{"hook 6 1->2 f0", "hook 6 1->2 f0"}));
  site.Clear();
  // Table 10 holds one entry in all.
  EXPECT_EQ(Parse(1, u"relation(10,2,10,3)", TRUE), S_OK);
  EXPECT_EQ(Parse(2, u"relation(10,5)", TRUE), S_OK);
  EXPECT_EQ(Hooks(), (Journal{"broadcast 0x271B 2"}));
}

TEST_F(RelationTest, BuildingRegistersEveryRecordsRelations) {
  SetRelation(1, u"relation(6,2,2,3)");
  SetRelation(4, u"update(6) relation(6,2,7,3)");  // 6->2 stands in table 6 already
  SetRelation(5, u"no relations here");
  EXPECT_EQ(h->BuildRelations(1), S_OK);
  EXPECT_EQ(Hooks(), (Journal{"hook 6 1->2 f1", "hook 2 1->3 f1", "hook 7 4->3 f1"}));
  site.Clear();
  // A second build empties the tables first, so everything applies again.
  EXPECT_EQ(h->BuildRelations(2), S_OK);
  EXPECT_EQ(Hooks().size(), 3u);
}

TEST_F(RelationTest, RelationBuildingRegistersAndTheEndAppliesInReplayOrder) {
  SetRelation(1, u"relation(13,2,6,2,14,3)");
  SetRelation(2, u"relation(11,3,1,6)");
  h->m_bRebuildingRelations = true;
  EXPECT_EQ(h->BuildRelations(1), S_OK);
  EXPECT_TRUE(Hooks().empty()) << site.Joined();
  // Still building: the close waits.
  EXPECT_EQ(h->ApplyRelations(FALSE), S_OK);
  EXPECT_TRUE(Hooks().empty()) << site.Joined();
  h->m_bRebuildingRelations = false;
  EXPECT_EQ(h->ApplyRelations(FALSE), S_OK);
  // Kinds 1..12 in order, then 14 before 13; kind 1 reads nothing while offline.
  EXPECT_EQ(Hooks(), (Journal{"hook 6 1->2 f1", "broadcast 0x271A 3", "hook 14 1->3 f1", "hook 13 1->2 f1"}));
  site.Clear();
  EXPECT_EQ(h->ApplyRelations(FALSE), S_OK);  // applied once only
  EXPECT_TRUE(Hooks().empty());
}

TEST_F(RelationTest, ABatchAppliesEachRelationOnceWhenTheOutermostCloses) {
  SetRelation(1, u"relation(6,2,14,3,13,2)");
  SetRelation(2, u"relation(6,2)");
  ASSERT_EQ(h->ApplyRelations(TRUE), S_OK);
  ASSERT_EQ(h->SetParameterValue(UI4(1), R8(2)), S_OK);
  ASSERT_EQ(h->SetParameterValue(UI4(1), R8(3)), S_OK);
  ASSERT_EQ(h->SetParameterValue(UI4(2), R8(4)), S_OK);  // 6->2 again, from another source
  EXPECT_TRUE(Hooks().empty()) << site.Joined();
  ASSERT_EQ(h->ApplyRelations(FALSE), S_OK);
  // The argument of a value set is 1.
  EXPECT_EQ(Hooks(), (Journal{"hook 6 1->2 f1", "hook 14 1->3 f1", "hook 13 1->2 f1"}));
  // A single value set is a batch of its own: kind 14 before 13 there too, while an evaluation
  // outside any batch keeps the text's order.
  site.Clear();
  SetRelation(1, u"relation(13,2,14,3)");
  ASSERT_EQ(h->SetParameterValue(UI4(1), R8(7)), S_OK);
  EXPECT_EQ(Hooks(), (Journal{"hook 14 1->3 f1", "hook 13 1->2 f1"}));
  site.Clear();
  ASSERT_EQ(h->EvaluateRelationsFor(1, 2, 1), S_OK);
  EXPECT_EQ(Hooks(), (Journal{"hook 13 1->2 f1", "hook 14 1->3 f1"}));
}

TEST_F(RelationTest, ASecondKind10InABatchIsDropped) {
  SetRelation(1, u"relation(10,2)");
  SetRelation(3, u"relation(10,5)");
  ASSERT_EQ(h->ApplyRelations(TRUE), S_OK);
  ASSERT_EQ(h->SetParameterValue(UI4(1), R8(2)), S_OK);
  ASSERT_EQ(h->SetParameterValue(UI4(3), R8(2)), S_OK);
  ASSERT_EQ(h->ApplyRelations(FALSE), S_OK);
  EXPECT_EQ(Hooks(), (Journal{"broadcast 0x271B 2"}));
}

TEST_F(RelationTest, ClosingABatchThatWasNeverOpenedChangesNothing) {
  SetRelation(1, u"relation(6,2)");
  EXPECT_EQ(h->ApplyRelations(FALSE), S_OK);
  EXPECT_EQ(h->ApplyRelations(FALSE), S_OK);
  EXPECT_TRUE(site.journal.empty());
  // The counter did not go below zero: one open and one close make a whole batch.
  ASSERT_EQ(h->ApplyRelations(TRUE), S_OK);
  ASSERT_EQ(h->SetParameterValue(UI4(1), R8(2)), S_OK);
  EXPECT_TRUE(Hooks().empty());
  ASSERT_EQ(h->ApplyRelations(FALSE), S_OK);
  EXPECT_EQ(Hooks(), (Journal{"hook 6 1->2 f1"}));
}

TEST_F(RelationTest, AFailedValueSetStillClosesItsBatch) {
  SetRelation(1, u"relation(6,2)");
  ASSERT_EQ(h->ApplyRelations(TRUE), S_OK);
  ASSERT_EQ(h->SetParameterValue(UI4(1), R8(2)), S_OK);
  EXPECT_EQ(h->SetParameterValue(UI4(1), Text(u"not a number")), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(h->SetParameterValue(UI4(99), R8(1)), E_INVALIDARG);
  EXPECT_TRUE(Hooks().empty());
  ASSERT_EQ(h->ApplyRelations(FALSE), S_OK);
  EXPECT_EQ(Hooks(), (Journal{"hook 6 1->2 f1"}));
  // SetValueWithRelations: the same batch, without the user's mark.
  site.Clear();
  EXPECT_EQ(h->SetValueWithRelations(1, R8(9)), S_OK);
  EXPECT_EQ(Hooks(), (Journal{"hook 6 1->2 f1"}));
  ASSERT_EQ(h->SetValueWithRelations(3, R8(1)), S_OK);
  EXPECT_FALSE(Flags(3) & PFL_EXPORT);
  EXPECT_EQ(h->SetValueWithRelations(1, Text(u"x")), DISP_E_TYPEMISMATCH);
}

TEST_F(RelationTest, ARelationSetOffDuringTheReplayAppliesAtOnce) {
  SetRelation(1, u"relation(5,3,6,2)");
  SetRelation(3, u"relation(11,4)");
  h->onValueHook = [](IovFdtParameterHandler4* service, ULONG, ULONG target) {
    // The value relation sets its target's value; the target's own relation opens a batch, which
    // does nothing during the replay, so it applies inside this hook.
    EXPECT_EQ(service->SetParameterValue(UI4(target), R8(8)), S_OK);
  };
  ASSERT_EQ(h->SetParameterValue(UI4(1), R8(2)), S_OK);
  EXPECT_EQ(Hooks(), (Journal{"hook 5 1->3 f1", "broadcast 0x271A 4", "hook 6 1->2 f1"}));
}

TEST_F(RelationTest, ARelationThatKeepsTriggeringItselfIsStopped) {
  // Each application raises the source's own value, whose relation applies again.
  SetRelation(1, u"relation(5,1)");
  h->onValueHook = [](IovFdtParameterHandler4* service, ULONG, ULONG target) {
    vkr::Variant v;
    ASSERT_EQ(service->GetParameterValue(UI4(target), &v), S_OK);
    service->SetParameterValue(UI4(target), R8(v.dblVal + 1));
  };
  EXPECT_EQ(h->SetParameterValue(UI4(1), R8(2)), S_OK);
  // One application per level of the guard, not one per change forever.
  EXPECT_EQ(h->valueHookCalls, 16);
  // The handler is usable afterwards: relations apply again.
  h->onValueHook = nullptr;
  h->valueHookCalls = 0;
  ASSERT_EQ(h->SetParameterValue(UI4(1), R8(50)), S_OK);
  EXPECT_EQ(h->valueHookCalls, 1);
}

TEST_F(RelationTest, EnableAndStateDecideFlags) {
  h->decision = FALSE;
  ASSERT_EQ(Parse(1, u"relation(2,2)"), S_OK);
  EXPECT_TRUE(Flags(2) & PFL_DISABLED);
  EXPECT_TRUE(site.Has("broadcast 0x270A 2")) << site.Joined();
  h->decision = TRUE;
  ASSERT_EQ(Parse(1, u"relation(2,2)"), S_OK);
  EXPECT_FALSE(Flags(2) & PFL_DISABLED);
  // Kind 3 looks at bit 0x2 of the decision.
  h->decision = 1;
  ASSERT_EQ(Parse(1, u"relation(3,2)"), S_OK);
  EXPECT_FALSE(Flags(2) & PFL_SETTABLE);
  h->decision = 2;
  ASSERT_EQ(Parse(1, u"relation(3,2)"), S_OK);
  EXPECT_TRUE(Flags(2) & PFL_SETTABLE);
  // A hook that decides nothing (S_FALSE) changes nothing.
  const ULONG before = Flags(2);
  h->decision = FALSE;
  h->hookResult[2] = S_FALSE;
  h->hookResult[3] = S_FALSE;
  ASSERT_EQ(Parse(1, u"relation(2,2,3,2)"), S_OK);
  EXPECT_EQ(Flags(2), before);
}

TEST_F(RelationTest, LimitsAndDefaultComeFromTheHooksAndRevalidate) {
  h->hookValue[7] = R8(4);  // maximum below the value 5
  ASSERT_EQ(Parse(1, u"relation(7,2)", FALSE, 1), S_OK);
  EXPECT_EQ(Fields(2, PIF_MAX).m_vMax.dblVal, 4.0);
  EXPECT_TRUE(Flags(2) & PFL_INVALID);
  EXPECT_TRUE(site.Has("broadcast 0x2701 2 =5.000000")) << site.Joined();
  h->hookValue[7] = R8(6);
  h->hookValue[8] = R8(1);
  h->hookValue[6] = R8(2);
  site.Clear();
  ASSERT_EQ(Parse(1, u"relation(7,2,8,2,6,2)", FALSE, 2), S_OK);
  EXPECT_FALSE(Flags(2) & PFL_INVALID);
  ParInfo r = Fields(2, PIF_MIN | PIF_DEFAULT);
  EXPECT_EQ(r.m_vMin.dblVal, 1.0);
  EXPECT_EQ(r.m_vDefault.dblVal, 2.0);
  // Flags 2 announce a device value; 0 announce nothing.
  EXPECT_TRUE(site.Has("broadcast 0x270D 2 =5.000000")) << site.Joined();
  EXPECT_FALSE(site.Has("broadcast 0x2701 2 =5.000000")) << site.Joined();
  site.Clear();
  ASSERT_EQ(Parse(1, u"relation(6,2)", FALSE, 0), S_OK);
  EXPECT_EQ(site.journal, (Journal{"delay open", "hook 6 1->2 f0", "delay close"})) << site.Joined();
}

TEST_F(RelationTest, AnEnumerationRelationReplacesAndTranslatesTheTexts) {
  h->hookValue[4] = EnumListOf({u"0;Off", u"2;Auto"});
  h->translations[2] = u"Automatik";
  ASSERT_EQ(Parse(1, u"relation(4,4)"), S_OK);
  ParInfo r = Fields(4, PIF_ENUM_LIST);
  ASSERT_EQ(r.m_vEnumList.vt, VT_ARRAY | VT_BSTR);
  vkr::Variant list = r.m_vEnumList;
  LONG i = 0;
  BSTR first = nullptr, second = nullptr;
  SafeArrayGetElement(list.parray, &i, &first);
  i = 1;
  SafeArrayGetElement(list.parray, &i, &second);
  EXPECT_EQ(Utf8(first), "0;Off");  // no translation: its own text
  EXPECT_EQ(Utf8(second), "2;Automatik");
  SysFreeString(first);
  SysFreeString(second);
  // The value 1 is no entry any more.
  EXPECT_TRUE(Flags(4) & PFL_INVALID);
  EXPECT_TRUE(site.Has("broadcast 0x2712 4")) << site.Joined();
  // An empty answer changes nothing.
  site.Clear();
  h->hookValue[4] = vkr::Variant();
  ASSERT_EQ(Parse(1, u"relation(4,4)"), S_OK);
  EXPECT_FALSE(site.Has("broadcast 0x2712 4"));
}

TEST_F(RelationTest, TheAuxiliaryRelationNeedsAText) {
  // Parameter 2's auxiliary VARIANT is empty: no hook, revalidation and a value broadcast.
  ASSERT_EQ(Parse(1, u"relation(9,2)", FALSE, 2), S_OK);
  EXPECT_EQ(Hooks(), Journal{});
  EXPECT_TRUE(site.Has("broadcast 0x2701 2 =5.000000")) << site.Joined();
  // Parameter 5's is a text: the hook gives the new one.
  h->hookValue[9] = Text(u"cm");
  ASSERT_EQ(Parse(1, u"relation(9,5)"), S_OK);
  EXPECT_EQ(TextOf(Fields(5, PIF_FURTHER).m_vFurther), u"cm");
}

TEST_F(RelationTest, ScalingOffsetAndMultiplierArePrivateProperties) {
  h->hookValue[12] = R4(2.5f);
  h->hookValue[13] = I4(3);
  h->hookValue[14] = R8(-1.25);
  ASSERT_EQ(Parse(1, u"relation(12,2,13,2,14,2)"), S_OK);
  vkr::Variant v;
  ASSERT_EQ(h->GetParameterField(UI4(2), Text(u"UnitScaling"), &v), S_OK);
  EXPECT_EQ(v.vt, VT_R4);
  EXPECT_EQ(v.fltVal, 2.5f);
  ASSERT_EQ(h->GetParameterField(UI4(2), Text(u"Multiplier"), &v), S_OK);
  EXPECT_EQ(v.vt, VT_I4);
  EXPECT_EQ(v.lVal, 3);
  ASSERT_EQ(h->GetParameterField(UI4(2), Text(u"Offset"), &v), S_OK);
  EXPECT_EQ(v.vt, VT_R8);
  EXPECT_EQ(v.dblVal, -1.25);
  // Written again: one property with the new value, in the type it has.
  h->hookValue[14] = I4(4);
  ASSERT_EQ(Parse(1, u"relation(14,2)"), S_OK);
  ASSERT_EQ(h->GetParameterField(UI4(2), Text(u"Offset"), &v), S_OK);
  EXPECT_EQ(v.vt, VT_R8);
  EXPECT_EQ(v.dblVal, 4.0);
  const std::string text = Utf8(Fields(2, PIF_PRIVATE_PROPERTIES).m_vPrivateProperties.bstrVal);
  EXPECT_EQ(text.find("Offset"), text.rfind("Offset")) << text;
}

TEST_F(RelationTest, TheReadRelationReadsOnlineOnly) {
  ASSERT_EQ(Parse(1, u"relation(1,6)"), S_OK);
  EXPECT_TRUE(Hooks().empty());
  site.state = dsONLINE;
  ASSERT_EQ(Parse(1, u"relation(1,6)"), S_OK);
  EXPECT_EQ(Hooks(), (Journal{"read 6"}));
  site.Clear();
  h->m_bDeviceReadsOff = true;
  ASSERT_EQ(Parse(1, u"relation(1,6)"), S_OK);
  EXPECT_TRUE(Hooks().empty());
}

TEST_F(RelationTest, FailuresAreRememberedAndTheOtherPairsGoOn) {
  h->hookResult[6] = E_ACCESSDENIED;
  h->hookValue[7] = R8(9);
  EXPECT_EQ(Parse(1, u"relation(6,2,7,3,11,99)"), E_ACCESSDENIED);
  EXPECT_EQ(Hooks(), (Journal{"hook 6 1->2 f0", "hook 7 1->3 f0", "broadcast 0x271A 99"}));
  EXPECT_EQ(Fields(3, PIF_MAX).m_vMax.dblVal, 9.0);
  // A target that does not exist fails its pair only.
  site.Clear();
  EXPECT_EQ(Parse(1, u"relation(7,99,7,2)"), E_INVALIDARG);
  EXPECT_EQ(Fields(2, PIF_MAX).m_vMax.dblVal, 9.0);
  EXPECT_EQ(site.journal.back(), "delay close");
}

TEST_F(RelationTest, WithoutTheServiceHooksCannotRun) {
  h->answerService = false;
  EXPECT_EQ(Parse(1, u"relation(6,2)"), E_POINTER);
  EXPECT_EQ(Parse(1, u"relation(9,5)"), E_NOINTERFACE);
  // Kinds without a hook do not need it, nor does kind 9 on a non-text.
  EXPECT_EQ(Parse(1, u"relation(10,2,11,2,9,2)"), S_OK);
  EXPECT_TRUE(Hooks().size() == 2u) << site.Joined();
}

TEST_F(RelationTest, TheDefaultHooksDoNothing) {
  site.Clear();
  vkr::ComPtr<vkr::ComObject<CFakeDtm>> plain;
  ASSERT_EQ(vkr::MakeObject<CFakeDtm>(&plain, static_cast<IovFdtParameterHandlerSite*>(&site)), S_OK);
  vkr::Variant lo = R8(0), hi = R8(10);
  ASSERT_EQ(plain->AddParInfo(Record(2, VT_R8, R8(5), &lo, &hi)), S_OK);
  const ULONG before = [&] {
    ParInfo r;
    plain->GetParInfoFields(2, PIF_FLAGS, &r);
    return r.m_dwFlags;
  }();
  vkr::Bstr decide(u"relation(2,2,3,2)"), values(u"relation(4,2,5,2,6,2,7,2,8,2,12,2,13,2,14,2)");
  EXPECT_EQ(plain->ParseRelations(1, decide.Get(), FALSE, 0), S_OK);
  EXPECT_EQ(plain->ParseRelations(1, values.Get(), FALSE, 0), E_NOTIMPL);
  ParInfo r;
  ASSERT_EQ(plain->GetParInfoFields(2, PIF_ALL, &r), S_OK);
  EXPECT_EQ(r.m_dwFlags, before);
  EXPECT_EQ(r.m_vMax.dblVal, 10.0);
  EXPECT_EQ(r.m_vPrivateProperties.vt, VT_EMPTY);
  EXPECT_EQ(plain->TranslateEnumerationTexts(2), E_INVALIDARG);  // no enumeration list
}

TEST_F(RelationTest, RevalidationFollowsTheValue) {
  ASSERT_EQ(h->SetValueById(2, R8(50)), S_OK);  // out of 0..10, stored without a check
  EXPECT_FALSE(Flags(2) & PFL_INVALID);
  ASSERT_EQ(h->RevalidateParameter(UI4(2), PFL_INVALID), S_OK);
  EXPECT_TRUE(Flags(2) & PFL_INVALID);
  EXPECT_TRUE(site.journal.empty()) << site.Joined();  // no broadcast
  ASSERT_EQ(h->SetValueById(2, R8(5)), S_OK);
  ASSERT_EQ(h->RevalidateParameter(UI4(2), PFL_INVALID), S_OK);
  EXPECT_FALSE(Flags(2) & PFL_INVALID);
  EXPECT_EQ(h->RevalidateParameter(UI4(99), PFL_INVALID), E_INVALIDARG);
  EXPECT_EQ(h->RevalidateParameter(Text(u"two"), PFL_INVALID), DISP_E_TYPEMISMATCH);
}

TEST_F(RelationTest, TargetNotificationsByFlags) {
  EXPECT_EQ(h->NotifyRelationTarget(UI4(2), R8(1), 0), S_OK);
  EXPECT_TRUE(site.journal.empty());
  site.broadcastResult = E_ACCESSDENIED;
  EXPECT_EQ(h->NotifyRelationTarget(UI4(2), R8(1), 3), E_ACCESSDENIED);
  EXPECT_EQ(site.journal, (Journal{"broadcast 0x2701 2 =1.000000", "broadcast 0x270D 2 =1.000000"}));
}

}  // namespace
