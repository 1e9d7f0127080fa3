// The stand-in frame's container and its lifecycle run against the real module: what the frame
// answers, what it records, and that it refuses state documents its schema set does not accept.
#include <gtest/gtest.h>

#include "frame/FrameContainer.h"
#include "frame/FrameHost.h"
#include "frame/LifecycleHost.h"
#include "tests/support/temp_files.h"

namespace {

using vkr::frame::FrameContainer;

class FrameContainerTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    ASSERT_EQ(vkr::MakeObject<FrameContainer>(&frame), S_OK);
  }
  void TearDown() override {
    frame = nullptr;
    CoFreeUnusedLibraries();
    CoUninitialize();
  }
  vkr::ComPtr<vkr::ComObject<FrameContainer>> frame;
};

constexpr char16_t kHead[] =
    u"<?xml version=\"1.0\"?>\n<FDT xmlns=\"x-schema:DTMStateSchema.xml\" "
    u"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">\n<DtmStateTransition>";

TEST_F(FrameContainerTest, StateDocumentsAreCheckedAgainstTheSchemaSet) {
  struct Case {
    const char16_t* body;
    bool valid;
  };
  const Case cases[] = {
      {u"<PreviousState fdt:dtmStateMachine=\"goingOnline\" />\n<CurrentState fdt:dtmStateMachine=\"online\" />\n "
       u"</DtmStateTransition>\n</FDT>",
       true},
      {u"<PreviousState fdt:dtmStateMachine=\"goingOnline\" />\n<CurrentState fdt:dtmStateMachine=\"online\" />\n"
       u"<fdt:CommunicationError tag=\"T &amp; 1\" communicationError=\"noConnection\" descriptor=\"d\"  />"
       u"</DtmStateTransition>\n</FDT>",
       true},
      {u"<PreviousState fdt:dtmStateMachine=\"configured\" />\n<CurrentState fdt:dtmStateMachine=\"online\" />\n "
       u"</DtmStateTransition>\n</FDT>",
       false},
      {u"<CurrentState fdt:dtmStateMachine=\"online\" />\n </DtmStateTransition>\n</FDT>", false},
      {u"<PreviousState fdt:dtmStateMachine=\"online\" />\n<CurrentState fdt:dtmStateMachine=\"online\" />", false},
  };
  for (const Case& c : cases) {
    vkr::Bstr document(std::u16string(kHead) + c.body);
    const std::string name = vkr::Utf16ToUtf8(c.body);
    frame->invalidDocuments.clear();
    vkr::Bstr tag(u"T");
    EXPECT_EQ(frame->OnStateChanged(tag, document), c.valid ? S_OK : E_INVALIDARG) << name;
    EXPECT_EQ(frame->invalidDocuments.empty(), c.valid) << name;
  }
  EXPECT_EQ(frame->OnStateChanged(nullptr, nullptr), E_INVALIDARG);
}

std::u16string UserMessage(const std::u16string& buttons, const std::u16string& defaultButton) {
  return u"<?xml version=\"1.0\"?> <FDT \txmlns=\"x-schema:FDTUserMessageSchema.xml\" "
         u"\txmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"> \t<FDTUserMessage \t\tmessageType=\"messageQuestion\" "
         u"\t\tmessageButtons=\"" +
         buttons + u"\" \t\tmessageDefault=\"" + defaultButton +
         u"\" \t\ttitle=\"Release DTM\"> \t\t\t<TextLine fdt:string=\"Discard &amp; go?\"/> \t</FDTUserMessage> </FDT>";
}

TEST_F(FrameContainerTest, UserMessagesAreAnsweredFromTheScriptOrWithTheFirstButton) {
  struct Case {
    const char16_t* buttons;
    const char* scripted;  // "" for none
    const char* answer;
  };
  const Case cases[] = {{u"buttonsYesNo", "", "buttonYes"},
                        {u"buttonsYesNo", "buttonNo", "buttonNo"},
                        {u"buttonsOkCancel", "", "buttonOk"},
                        {u"buttonsAbortRetryIgnore", "", "buttonAbort"},
                        {u"buttonsRetryCancel", "", "buttonRetry"},
                        {u"buttonsYesNoCancel", "buttonCancel", "buttonCancel"}};
  vkr::Bstr tag(u"T");
  for (const Case& c : cases) {
    if (*c.scripted) frame->userAnswers.push_back(c.scripted);
    vkr::Bstr message(UserMessage(c.buttons, u"buttonNo")), reply;
    const std::string name = vkr::Utf16ToUtf8(c.buttons);
    ASSERT_EQ(frame->UserDialog(tag, message, reply.Put()), S_OK) << name;
    EXPECT_NE(vkr::Utf16ToUtf8(reply.View()).find(std::string("resultMessage=\"") + c.answer + "\""), std::string::npos)
        << name << ": " << vkr::Utf16ToUtf8(reply.View());
    EXPECT_EQ(frame->userMessages.back(),
              "message messageQuestion " + name + " Release DTM: Discard & go? -> " + c.answer);
  }
  // A document outside the schema is refused and recorded.
  vkr::Bstr wrong(UserMessage(u"buttonsMaybe", u"buttonNo")), reply;
  EXPECT_EQ(frame->UserDialog(tag, wrong, reply.Put()), E_INVALIDARG);
  EXPECT_EQ(frame->invalidDocuments.size(), 1u);
  frame->invalidDocuments.clear();
  EXPECT_EQ(frame->UserDialog(tag, wrong, nullptr), E_POINTER);
}

// The user's answers to the questions, in order: a message with an OK button only takes it and
// uses none; an answer that is not one of its question's buttons is noted and the question gets
// its first button; the answers left over stay for questions to come.
TEST_F(FrameContainerTest, QuestionAnswersGoToTheQuestionsInOrder) {
  frame->questionAnswers = {"buttonNo", "buttonRetry", "buttonCancel", "buttonIgnore", "buttonYes"};
  struct Case {
    const char16_t* buttons;
    const char* answer;
  };
  const Case cases[] = {{u"buttonsOk", "buttonOk"},           {u"buttonsYesNo", "buttonNo"},
                        {u"buttonsOk", "buttonOk"},           {u"buttonsOkCancel", "buttonOk"},
                        {u"buttonsRetryCancel", "buttonCancel"}, {u"buttonsAbortRetryIgnore", "buttonIgnore"}};
  vkr::Bstr tag(u"T");
  for (const Case& c : cases) {
    vkr::Bstr message(UserMessage(c.buttons, u"buttonNo")), reply;
    ASSERT_EQ(frame->UserDialog(tag, message, reply.Put()), S_OK);
    EXPECT_NE(vkr::Utf16ToUtf8(reply.View()).find(std::string("resultMessage=\"") + c.answer + "\""), std::string::npos)
        << vkr::Utf16ToUtf8(c.buttons) << ": " << vkr::Utf16ToUtf8(reply.View());
  }
  EXPECT_EQ(frame->unfitAnswers, std::vector<std::string>{"Retry to \"Discard & go?\" (OkCancel)"});
  EXPECT_EQ(frame->questionAnswers, std::deque<std::string>{"buttonYes"});
}

TEST_F(FrameContainerTest, TheLockIsGrantedOrRefusedAsTold) {
  vkr::Bstr tag(u"T");
  VARIANT_BOOL answer = VARIANT_FALSE;
  ASSERT_EQ(frame->LockDataSet(tag, &answer), S_OK);
  EXPECT_EQ(answer, VARIANT_TRUE);
  EXPECT_TRUE(frame->locked);
  frame->grantUnlock = false;
  ASSERT_EQ(frame->UnlockDataSet(tag, &answer), S_OK);
  EXPECT_EQ(answer, VARIANT_FALSE);
  EXPECT_TRUE(frame->locked);
  EXPECT_EQ(frame->notifications, (std::vector<std::string>{"lock T", "unlock T refused"}));
  EXPECT_EQ(frame->LockDataSet(tag, nullptr), E_POINTER);
  vkr::Bstr path;
  ASSERT_EQ(frame->GetXmlSchemaPath(path.Put()), S_OK);
  EXPECT_EQ(vkr::Utf16ToUtf8(path.View()), vkr::frame::SchemaDirectory());
}

TEST_F(FrameContainerTest, AnFdt12FrameDoesNotAnswerTheStateEvents) {
  vkr::ComPtr<IFrameDtmStateEvents> events;
  EXPECT_EQ(frame->QueryInterface(IFrameDtmStateEvents::iid, events.PutVoid()), S_OK);
  events = nullptr;
  frame->offerStateEvents = false;
  EXPECT_EQ(frame->QueryInterface(IFrameDtmStateEvents::iid, events.PutVoid()), E_NOINTERFACE);
  vkr::ComPtr<IDtmEvents> dtmEvents;
  EXPECT_EQ(frame->QueryInterface(IDtmEvents::iid, dtmEvents.PutVoid()), S_OK);
}

TEST_F(FrameContainerTest, TheLifecycleRunReleasesTheDtmWhereverItStopped) {
  vkr::test::ScopedRegistry registry;
  vkr::test::TempDir drives;
  vkr::test::ScopedEnv root{"VKR_DRIVE_ROOT", drives.path()};
  ASSERT_EQ(vkr::frame::RunModuleRegistration(VKR_MODULE_PATH, true), S_OK);
  std::vector<std::string> lines;
  const HRESULT hr = vkr::frame::RunLifecycle(u"Vorn.ExampleDtm", &lines);
  std::string all;
  for (const std::string& l : lines) all += l + "\n";
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), "CoCreateInstance: 0x00000000 (S_OK), state 1 (dsCREATED)") << all;
  EXPECT_NE(all.find("\nreleased\n"), std::string::npos) << all;
  EXPECT_EQ(all.find("INVALID"), std::string::npos) << all;
  // A configured DTM is given the frame's channel, and the channel refused nothing it sent.
  if (all.find("IDtm::Config: 0x00000000 (S_OK), result TRUE") != std::string::npos) {
    EXPECT_NE(all.find("IDtm::SetCommunication: "), std::string::npos) << all;
  }
  EXPECT_EQ(all.find("channel: REFUSED"), std::string::npos) << all;
  // All the way through only when every step said yes.
  if (hr == S_OK) {
    EXPECT_NE(all.find("state 3 (dsPREPAREDTORELEASE)"), std::string::npos) << all;
  } else {
    EXPECT_NE(all.find(vkr::frame::ResultText(hr)), std::string::npos) << all;
  }
  EXPECT_NE(vkr::frame::RunLifecycle(u"No.SuchDtm", &lines), S_OK);
  EXPECT_EQ(vkr::frame::RunLifecycle(nullptr, &lines), E_POINTER);
  ASSERT_EQ(vkr::frame::RunModuleRegistration(VKR_MODULE_PATH, false), S_OK);
}

}  // namespace

TEST_F(FrameContainerTest, BothFramesGetAValidInformationDocument) {
  vkr::test::ScopedRegistry registry;
  vkr::test::TempDir drives;
  vkr::test::ScopedEnv root{"VKR_DRIVE_ROOT", drives.path()};
  ASSERT_EQ(vkr::frame::RunModuleRegistration(VKR_MODULE_PATH, true), S_OK);
  std::vector<std::string> lines;
  const HRESULT hr = vkr::frame::RunInformation(u"Vorn.ExampleDtm", &lines);
  std::string all;
  for (const std::string& l : lines) all += l + "\n";
  EXPECT_EQ(hr, S_OK) << all;
  // Two documents, both valid; each names its FDT version, only the FDT 1.2.1 one with its
  // release, and only that one its device-type id.
  const std::size_t first = all.find("\nvalid\n");
  ASSERT_NE(first, std::string::npos) << all;
  EXPECT_NE(all.find("\nvalid\n", first + 1), std::string::npos) << all;
  EXPECT_EQ(all.find("NOT VALID"), std::string::npos) << all;
  const std::size_t second = all.find("FDT 1.2.1 frame");
  ASSERT_NE(second, std::string::npos) << all;
  EXPECT_NE(all.substr(0, second).find("<FDTVersion major=\"1\" minor=\"2\"/>"), std::string::npos) << all;
  EXPECT_EQ(all.substr(0, second).find("dtmDevTypeID="), std::string::npos) << all;
  EXPECT_NE(all.find("<FDTVersion major=\"1\" minor=\"2\" release=\"1\"/>", second), std::string::npos) << all;
  EXPECT_NE(all.find("dtmDevTypeID=", second), std::string::npos) << all;
  EXPECT_EQ(vkr::frame::RunInformation(nullptr, &lines), E_POINTER);
  ASSERT_EQ(vkr::frame::RunModuleRegistration(VKR_MODULE_PATH, false), S_OK);
}
