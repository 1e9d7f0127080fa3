// The translation file as a frame meets it: the registered module, created by its ProgID, given its
// environment and device type; whatever is wrong with the file, the DTM initialises, keeps its
// English texts, announces the languages it can use, and tells the frame once what is wrong, in
// words a user can act on, while nothing reaches stderr.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>

#include "frame/FrameDocuments.h"
#include "frame/FrameContainer.h"
#include "frame/FrameHost.h"
#include "tests/support/temp_files.h"
#include "tests/support/threading.h"

namespace {

using vkr::test::ScopedEnv;
using vkr::test::ScopedRegistry;
using vkr::test::TempDir;

using vkr::frame::kFrameVersion;
using vkr::frame::kDeviceType;
using vkr::frame::kUserInformation;
constexpr char kFileName[] = "VornExampleDtmTranslation.xml";

std::string Languages(const char* entries) {
  return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<localization><general><languages>") + entries +
         "</languages></general><ToolkitMessages><Message id=\"2004\"><locale code=\"de-de\">Entsperren "
         "fehlgeschlagen</locale></Message></ToolkitMessages></localization>\n";
}

// What stderr received while it was redirected to a file.
class CapturedStderr {
 public:
  CapturedStderr() : m_file(m_dir / "stderr") {
    std::fflush(stderr);
    m_saved = ::dup(2);
    std::FILE* f = std::fopen(m_file.c_str(), "w");
    ::dup2(::fileno(f), 2);
    std::fclose(f);
  }
  ~CapturedStderr() { Restore(); }
  std::string Text() {
    Restore();
    return vkr::test::ReadFileText(m_file);
  }

 private:
  void Restore() {
    if (m_saved < 0) return;
    std::fflush(stderr);
    ::dup2(m_saved, 2);
    ::close(m_saved);
    m_saved = -1;
  }
  TempDir m_dir;
  std::string m_file;
  int m_saved = -1;
};

class TranslationFile : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    ASSERT_EQ(vkr::frame::RunModuleRegistration(VKR_MODULE_PATH, true), S_OK);
  }
  void TearDown() override {
    CoFreeUnusedLibraries();
    CoUninitialize();
  }
  void SetTranslationPath(const std::string& directory) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vorntec\\VKR Series DTM\\Files", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, "TranslationPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(directory.c_str()),
                   static_cast<DWORD>(directory.size() + 1));
    RegCloseKey(key);
  }

  // What a frame sees of one DTM taken to its initialised state and released again.
  struct Seen {
    VARIANT_BOOL initialized = VARIANT_FALSE;
    std::vector<std::string> errors;  // the DTM's messages to the frame
    std::string information;          // its DTM information document
  };
  Seen Initialize() {
    Seen seen;
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(u"Vorn.ExampleDtm", &clsid), S_OK);
    vkr::ComPtr<IUnknown> dtm;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, dtm.PutVoid()), S_OK);
    if (!dtm) return seen;
    vkr::ComPtr<IDtm> idtm;
    vkr::ComPtr<IDtm2> idtm2;
    vkr::ComPtr<IPersistStreamInit> persist;
    vkr::ComPtr<IDtmInformation> information;
    dtm->QueryInterface(IDtm::iid, idtm.PutVoid());
    dtm->QueryInterface(IDtm2::iid, idtm2.PutVoid());
    dtm->QueryInterface(IPersistStreamInit::iid, persist.PutVoid());
    dtm->QueryInterface(IDtmInformation::iid, information.PutVoid());
    vkr::ComPtr<vkr::ComObject<vkr::frame::FrameContainer>> frame;
    EXPECT_EQ(vkr::MakeObject<vkr::frame::FrameContainer>(&frame), S_OK);
    VARIANT_BOOL result = VARIANT_FALSE;
    vkr::Bstr tag(u"T-1"), version(kFrameVersion), deviceType(kDeviceType), document;
    EXPECT_EQ(persist->InitNew(), S_OK);
    EXPECT_EQ(idtm2->Environment2(tag, frame.Get(), version, &result), S_OK);
    EXPECT_EQ(idtm->InitNew(deviceType, &seen.initialized), S_OK);
    EXPECT_EQ(information->GetInformation(nullptr, document.Put()), S_OK);
    seen.information = vkr::Utf16ToUtf8(document.View());
    // The messages come through the DTM's thread: give them time to arrive.
    vkr::test::PumpUntil([&] { return !frame->notifications.empty(); }, 1500);
    vkr::Bstr user(kUserInformation);
    EXPECT_EQ(idtm->Config(user, &result), S_OK);
    EXPECT_EQ(idtm->PrepareToDelete(&result), S_OK);
    EXPECT_EQ(idtm->PrepareToRelease(&result), S_OK);
    EXPECT_EQ(result, VARIANT_TRUE);
    for (const std::string& note : frame->notifications)
      if (note.rfind("error T-1: ", 0) == 0) seen.errors.push_back(note.substr(11));
    EXPECT_TRUE(frame->invalidDocuments.empty());
    return seen;
  }

  ScopedRegistry registry;
  TempDir drives;
  ScopedEnv root{"VKR_DRIVE_ROOT", drives.path()};
  TempDir texts;
};

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST_F(TranslationFile, WhateverIsWrongTheDtmInitialisesAndSaysOnceWhatToFix) {
  struct Case {
    const char* name;
    std::function<void(const std::string& file)> make;
    const char* translationPath;  // relative to `texts`; nullptr: `texts` itself
    std::vector<std::string> messageParts;  // empty: no message at all
    const char* languages;                   // the languageId attributes announced, in order
  };
  const std::string unusable = "is not a language id (a number from 0 to 4294967295); the language is left out";
  const Case cases[] = {
      {"good", [](const std::string& f) { vkr::test::WriteFileText(f, Languages("<language lcid=\"1033\" code=\"en-us\"/><language lcid=\"1031\" code=\"de-de\"/>")); },
       nullptr, {}, "1033 1031"},
      {"bad language entries",
       [](const std::string& f) {
         vkr::test::WriteFileText(f, Languages("<language lcid=\"abc\" code=\"x\"/><language lcid=\"1033\" code=\"en-us\"/>"
                                               "<language lcid=\"-5\" code=\"y\"/><language lcid=\"99999999999\" code=\"z\"/>"
                                               "<language lcid=\"1031\" code=\"de-de\"/>"));
       },
       nullptr,
       {"Invalid translation file:\r\nlanguage 1: lcid=\"abc\" " + unusable,
        "\r\nlanguage 3: lcid=\"-5\" " + unusable, "\r\nlanguage 4: lcid=\"99999999999\" " + unusable},
       "1033 1031"},
      {"empty", [](const std::string& f) { vkr::test::WriteFileText(f, ""); }, nullptr,
       {std::string("Invalid translation file:\r\n"), std::string(kFileName) + ": the file is empty"}, "1031 1033"},
      {"a directory", [](const std::string& f) { std::filesystem::create_directory(f); }, nullptr,
       {std::string(kFileName) + ": this is a directory, not a file"}, "1031 1033"},
      {"missing, in a relative directory", [](const std::string&) {}, ".\\nowhere\\.\\",
       {"/nowhere\\" + std::string(kFileName) + ": the file does not exist"}, "1031 1033"},
      {"not in its encoding",
       [](const std::string& f) {
         vkr::test::WriteFileText(f, "<?xml version=\"1.0\" encoding=\"windows-1252\"?><localization>\x81</localization>");
       },
       nullptr,
       {"Invalid translation file:\r\nError 0x", "The text does not match its encoding",
        "\r\nin " + texts.path() + "\\" + kFileName},
       "1031 1033"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(texts / kFileName);
    c.make(texts / kFileName);
    SetTranslationPath(c.translationPath ? c.translationPath : texts.path());
    Seen seen;
    std::string stderrText;
    {
      CapturedStderr captured;
      seen = Initialize();
      stderrText = captured.Text();
    }
    EXPECT_EQ(seen.initialized, VARIANT_TRUE);
    EXPECT_EQ(stderrText, "");
    if (c.messageParts.empty()) {
      EXPECT_TRUE(seen.errors.empty()) << testing::PrintToString(seen.errors);
    } else {
      EXPECT_EQ(seen.errors.size(), 1u) << testing::PrintToString(seen.errors);
      const std::string message = seen.errors.empty() ? std::string() : seen.errors[0];
      for (const std::string& part : c.messageParts) EXPECT_NE(message.find(part), std::string::npos) << message;
      EXPECT_EQ(message.find("Extra content"), std::string::npos) << message;
      EXPECT_EQ(message.find("\\.\\"), std::string::npos) << message;
      EXPECT_EQ(message.find("/./"), std::string::npos) << message;
    }
    // The languages announced: the file's usable ones, or the built-in list without a file.
    std::string announced;
    for (std::size_t at = seen.information.find("languageId=\""); at != std::string::npos;
         at = seen.information.find("languageId=\"", at + 1)) {
      const std::size_t start = at + 12;
      announced += (announced.empty() ? "" : " ") + seen.information.substr(start, seen.information.find('"', start) - start);
    }
    EXPECT_EQ(announced, c.languages);
    EXPECT_EQ(Count(seen.information, "<fdt:SupportedLanguages"), 1u);
  }
}

}  // namespace
