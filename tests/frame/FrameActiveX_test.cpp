// The frame's hosting of a DTM's user interfaces through IFdtActiveXHost: the class the DTM
// names, Init with a fresh invoke id, PrepareToRelease before closing, closing from inside the
// control's own close request, keys through the host loop's filter chain, and user actions while
// a question is open.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/ActiveXHost.h"
#include "frame/FrameContainer.h"
#include "frame/controls/OutsideControls.h"
#include "frame/controls/TestControl.h"
#include "platform/platform.h"
#include "tests/support/stub_dispatch.h"

namespace {

using vkr::ComPtr;
using vkr::frame::FrameTestControl;

// A DTM that names the frame's test control for function 7 and no user interface otherwise.
class FakeDtm : public vkr::Implements<IDtm, IDtmActiveXInformation> {
 public:
  VKR_TEST_DISPATCH
  std::vector<std::string> asked;
  HRESULT GetActiveXGuid(BSTR functionCall, BSTR* classId) override {
    *classId = nullptr;
    const std::u16string call(functionCall, SysStringLen(functionCall));
    asked.push_back(vkr::Utf16ToUtf8(call));
    if (call.find(u"functionId=\"7\"") == std::u16string::npos) return S_FALSE;
    OLECHAR text[40] = {};
    StringFromGUID2(vkr::frame::CLSID_FrameTestControl, text, 40);
    *classId = SysAllocString(text);
    return S_OK;
  }
  HRESULT GetActiveXProgId(BSTR, BSTR* progId) override {
    *progId = nullptr;
    return S_FALSE;
  }
  HRESULT Environment(BSTR, IFdtContainer*, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT InitNew(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT Config(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT SetCommunication(IFdtCommunication*, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT PrepareToRelease(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT PrepareToReleaseCommunication(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT ReleaseCommunication(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT PrepareToDelete(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT SetLanguage(LCID, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT GetFunctions(BSTR, BSTR*) override { return E_NOTIMPL; }
  HRESULT InvokeFunctionRequest(BSTR, BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT PrivateDialogEnabled(VARIANT_BOOL, VARIANT_BOOL*) override { return E_NOTIMPL; }
};

class FrameActiveX : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    ASSERT_EQ(vkr::frame::RegisterOutsideControls(), S_OK);
    FrameTestControl::liveCount = 0;
    ASSERT_EQ(vkr::MakeObject<vkr::frame::FrameContainer>(&frame), S_OK);
    ASSERT_EQ(vkr::MakeObject<FakeDtm>(&dtm), S_OK);
    frame->dtm = static_cast<IDtm*>(dtm.Get());
    ASSERT_EQ(frame->QueryInterface(IFdtActiveXHost::iid, host.PutVoid()), S_OK);
  }
  void TearDown() override {
    // Safe after a SetUp that stopped early.
    if (frame) {
      frame->activeX.CloseAll();
      frame->dtm = nullptr;
    }
    vkr::ui::PumpUntilIdle();
    host = nullptr;
    frame = nullptr;
    dtm = nullptr;
    EXPECT_EQ(FrameTestControl::liveCount, 0);
    vkr::frame::RevokeOutsideControls();
    CoUninitialize();
  }

  // Opens function `id`; the test control, or null.
  FrameTestControl* Open(LONG id, HRESULT expected = S_OK) {
    VARIANT_BOOL opened = VARIANT_FALSE;
    const vkr::Bstr call(vkr::frame::FunctionCallDocument(id));
    EXPECT_EQ(host->OpenActiveXControl(vkr::Bstr(u"tag"), call, &opened), expected);
    if (!opened || frame->activeX.OpenControls().empty()) return nullptr;
    return vkr::frame::AsFrameTestControl(frame->activeX.OpenControls().back().control.Get());
  }
  std::string LastInvokeId() const { return frame->activeX.OpenControls().back().invokeId; }

  ComPtr<vkr::ComObject<vkr::frame::FrameContainer>> frame;
  ComPtr<vkr::ComObject<FakeDtm>> dtm;
  ComPtr<IFdtActiveXHost> host;
};

TEST_F(FrameActiveX, OpensTheDtmsClassActivatedInPlaceAndInitsItWithAFreshInvokeId) {
  FrameTestControl* control = Open(7);
  ASSERT_NE(control, nullptr);
  const std::string first = LastInvokeId();
  EXPECT_EQ(first.size(), 36u) << "a GUID without braces";
  EXPECT_EQ(vkr::Utf16ToUtf8(control->invokeId), first);
  EXPECT_EQ(control->functionCall, vkr::frame::FunctionCallDocument(7));
  EXPECT_TRUE(dtm.IsSameObject(control->dtm.Get()));
  // Initialised, sited and in place before Init.
  EXPECT_EQ(control->Calls(), (std::vector<std::string>{"InitNew", "Init active"}));
  EXPECT_EQ(dtm->asked, (std::vector<std::string>{vkr::Utf16ToUtf8(vkr::frame::FunctionCallDocument(7))}));
  // The frame window takes the control's own size (200 x 80 dialog units).
  RECT r{};
  GetWindowRect(frame->activeX.OpenControls().back().window, &r);
  EXPECT_EQ(r.right - r.left, 300);
  EXPECT_EQ(r.bottom - r.top, 130);
  EXPECT_TRUE(IsWindowVisible(control->m_hWnd));

  FrameTestControl* second = Open(7);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(LastInvokeId(), first);
  EXPECT_EQ(frame->activeX.OpenControls().size(), 2u);

  // A function without a user interface opens nothing.
  EXPECT_EQ(Open(3, S_FALSE), nullptr);
  EXPECT_EQ(frame->activeX.OpenControls().size(), 2u);
  // The DTM's own request takes the same road.
  EXPECT_EQ(frame->OpenActiveXControlRequest(vkr::Bstr(u"tag"), vkr::Bstr(vkr::frame::FunctionCallDocument(7))), S_OK);
  EXPECT_EQ(frame->activeX.OpenControls().size(), 3u);
}

TEST_F(FrameActiveX, CloseAsksPrepareToReleaseFirstAndFalseKeepsTheControlOpen) {
  FrameTestControl* control = Open(7);
  ASSERT_NE(control, nullptr);
  const vkr::Bstr id(vkr::Utf8ToUtf16(LastInvokeId()));
  HWND window = frame->activeX.OpenControls().back().window;
  HWND inner = control->m_hWnd;

  control->mayRelease = false;
  VARIANT_BOOL closed = VARIANT_TRUE;
  EXPECT_EQ(host->CloseActiveXControl(id, &closed), S_OK);
  EXPECT_FALSE(closed);
  EXPECT_EQ(control->Calls().back(), "PrepareToRelease active -> 0") << "asked while still in place";
  EXPECT_TRUE(IsWindow(window));
  EXPECT_TRUE(control->m_bInPlaceActive);
  EXPECT_EQ(frame->activeX.OpenControls().size(), 1u);

  control->mayRelease = true;
  EXPECT_EQ(host->CloseActiveXControl(id, &closed), S_OK);
  EXPECT_TRUE(closed);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_FALSE(IsWindow(inner));
  EXPECT_TRUE(frame->activeX.OpenControls().empty());
  EXPECT_EQ(FrameTestControl::liveCount, 0) << "the frame let the control go";
  EXPECT_EQ(host->CloseActiveXControl(id, &closed), E_INVALIDARG);
  EXPECT_EQ(frame->activeX.record,
            (std::vector<std::string>{frame->activeX.record[0], "init " + vkr::Utf16ToUtf8(id.View()) + " -> 1",
                                      "prepare " + vkr::Utf16ToUtf8(id.View()) + " -> 0",
                                      "prepare " + vkr::Utf16ToUtf8(id.View()) + " -> 1",
                                      "closed " + vkr::Utf16ToUtf8(id.View())}));
}

TEST_F(FrameActiveX, ClosingFromInsideTheControlsOwnCloseRequestIsSafe) {
  // Once through the frame's host interface, once through the DTM's request to its container.
  for (bool byRequest : {false, true}) {
    SCOPED_TRACE(byRequest ? "CloseActiveXControlRequest" : "CloseActiveXControl");
    FrameTestControl* control = Open(7);
    ASSERT_NE(control, nullptr);
    const vkr::Bstr id(vkr::Utf8ToUtf16(LastInvokeId()));
    VARIANT_BOOL closed = VARIANT_FALSE;
    HRESULT result = E_FAIL;
    control->onCloseRequest = [&] {
      result = byRequest ? frame->CloseActiveXControlRequest(id) : host->CloseActiveXControl(id, &closed);
    };
    HWND inner = control->m_hWnd;
    // The control's close button posts the close request to its own window.
    ASSERT_TRUE(PostMessageW(inner, vkr::frame::kCloseRequestMessage, 0, 0));
    control = nullptr;  // the frame holds the only reference now
    vkr::ui::PumpUntilIdle();
    EXPECT_EQ(result, S_OK);
    if (!byRequest) {
      EXPECT_TRUE(closed);
    }
    EXPECT_FALSE(IsWindow(inner));
    EXPECT_TRUE(frame->activeX.OpenControls().empty());
    EXPECT_EQ(FrameTestControl::liveCount, 0);
  }
}

TEST_F(FrameActiveX, KeysForAnOpenControlGoThroughItsAcceleratorsInTheHostLoop) {
  FrameTestControl* control = Open(7);
  ASSERT_NE(control, nullptr);
  HWND edit = GetDlgItem(control->m_hWnd, 100);
  ASSERT_NE(edit, nullptr);
  SetFocus(edit);
  ASSERT_TRUE(vkr::ui::PressKey(VK_TAB));
  EXPECT_EQ(GetFocus(), GetDlgItem(control->m_hWnd, 101)) << "the control's dialog manager moved the focus";
  const std::vector<std::string> calls = control->Calls();
  EXPECT_NE(std::find(calls.begin(), calls.end(), "TranslateAccelerator 256 9"), calls.end());
}

TEST_F(FrameActiveX, AScriptedAnswerCanActWhileTheQuestionIsOpen) {
  FrameTestControl* control = Open(7);
  ASSERT_NE(control, nullptr);
  const vkr::Bstr id(vkr::Utf8ToUtf16(LastInvokeId()));
  size_t messagesWhileAsking = 99;
  frame->userAnswers.push_back("buttonNo");
  frame->whileAsking.push_back([&] {
    messagesWhileAsking = frame->userMessages.size();
    VARIANT_BOOL closed = VARIANT_FALSE;
    host->CloseActiveXControl(id, &closed);
  });
  const vkr::Bstr message(
      u"<FDT xmlns=\"x-schema:FDTUserMessageSchema.xml\" xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">"
      u"<FDTUserMessage messageType=\"messageQuestion\" messageButtons=\"buttonsYesNo\" "
      u"messageDefault=\"buttonYes\" title=\"Close\">"
      u"<TextLine fdt:string=\"Close it?\"/></FDTUserMessage></FDT>");
  vkr::Bstr reply;
  ASSERT_EQ(frame->UserDialog(vkr::Bstr(u"tag"), message, reply.Put()), S_OK) << frame->invalidDocuments.size();
  EXPECT_EQ(messagesWhileAsking, 0u) << "the action ran before the answer";
  EXPECT_TRUE(frame->activeX.OpenControls().empty());
  EXPECT_NE(reply.Str().find(u"buttonNo"), std::u16string::npos);
}

}  // namespace
