// The frame's file storage of data sets: the property-bag file on its own, and a data set file
// loaded into the real DTM module's object as a frame does.
#include <gtest/gtest.h>

#include <filesystem>

#include "frame/FrameHost.h"
#include "frame/FrameStorage.h"
#include "tests/support/dtm_user_interface.h"
#include "tests/support/temp_files.h"
#include "tests/support/test_streams.h"

namespace {

using vkr::frame::FilePropertyBag;
using vkr::test::ByteWriter;
using vkr::test::ScopedEnv;
using vkr::test::ScopedRegistry;
using vkr::test::TempDir;

class FrameStorage : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    CreateDirectoryA("C:\\Frame", nullptr);
  }
  void TearDown() override {
    CoFreeUnusedLibraries();
    CoUninitialize();
  }
  // A file "C:\\Frame\\<name>" with these bytes, written through the platform's files.
  static void Put(const char* name, const std::string& bytes) {
    const std::string path = std::string("C:\\Frame\\") + name;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
  }
  static bool Exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }
  ScopedRegistry registry;
  TempDir drives;
  ScopedEnv root{"VKR_DRIVE_ROOT", drives.path()};
};

TEST_F(FrameStorage, PropertyBagFileRoundTrip) {
  vkr::ComPtr<vkr::ComObject<FilePropertyBag>> bag, again;
  ASSERT_EQ(vkr::MakeObject<FilePropertyBag>(&bag), S_OK);
  ASSERT_EQ(vkr::MakeObject<FilePropertyBag>(&again), S_OK);
  const BYTE bytes[] = {0, 1, 0xFE, 0x0A};
  vkr::Variant data;
  data.vt = VT_ARRAY | VT_UI1;
  data.parray = SafeArrayCreateVector(VT_UI1, 0, 4);
  void* p = nullptr;
  SafeArrayAccessData(data.parray, &p);
  memcpy(p, bytes, 4);
  SafeArrayUnaccessData(data.parray);
  ASSERT_EQ(bag->Write(u"DTM_DATA", &data), S_OK);
  vkr::Variant text;
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocString(u"tab\there, Grüße");
  ASSERT_EQ(bag->Write(u"Note", &text), S_OK);
  vkr::Variant number;
  number.vt = VT_I4;
  EXPECT_EQ(bag->Write(u"Number", &number), DISP_E_BADVARTYPE);
  ASSERT_EQ(bag->SaveToFile("C:\\Frame\\bag.txt"), S_OK);
  ASSERT_EQ(again->LoadFromFile("C:\\Frame\\bag.txt"), S_OK);
  vkr::Variant readBack;
  ASSERT_EQ(again->Read(u"DTM_DATA", &readBack, nullptr), S_OK);
  ASSERT_EQ(readBack.vt, VT_ARRAY | VT_UI1);
  ASSERT_EQ(readBack.parray->rgsabound[0].cElements, 4u);
  SafeArrayAccessData(readBack.parray, &p);
  EXPECT_EQ(memcmp(p, bytes, 4), 0);
  SafeArrayUnaccessData(readBack.parray);
  ASSERT_EQ(again->Read(u"Note", &readBack, nullptr), S_OK);
  EXPECT_EQ(vkr::Bstr(readBack.bstrVal).Str(), u"tab\there, Grüße");
  EXPECT_EQ(again->Read(u"Missing", &readBack, nullptr), E_INVALIDARG);
}

TEST_F(FrameStorage, MalformedPropertyBagFilesAreRefused) {
  vkr::ComPtr<vkr::ComObject<FilePropertyBag>> bag;
  ASSERT_EQ(vkr::MakeObject<FilePropertyBag>(&bag), S_OK);
  Put("good.txt", "A\t8\t41\n");
  ASSERT_EQ(bag->LoadFromFile("C:\\Frame\\good.txt"), S_OK);
  for (const char* bad : {"A\t8\t4\n", "A\t3\t41\n", "A\t8\t4g\n", "A 8 41\n", "A\t8\t41", "\t8\t41\n"}) {
    Put("bad.txt", bad);
    EXPECT_EQ(bag->LoadFromFile("C:\\Frame\\bad.txt"), E_FAIL) << bad;
    vkr::Variant v;
    EXPECT_EQ(bag->Read(u"A", &v, nullptr), S_OK) << bad;
  }
  EXPECT_TRUE(FAILED(bag->LoadFromFile("C:\\Frame\\none.txt")));
}

// The module's DTM, created by its ProgID as a frame creates it.
class ModuleStorage : public FrameStorage {
 protected:
  void SetUp() override {
    FrameStorage::SetUp();
    ASSERT_EQ(vkr::frame::RunModuleRegistration(VKR_MODULE_PATH, true), S_OK);
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(u"Vorn.ExampleDtm", &clsid), S_OK);
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IPersistStreamInit, dtm.PutVoid()), S_OK);
  }
  void TearDown() override {
    dtm = nullptr;
    FrameStorage::TearDown();
  }
  EDtmState State() { return vkr::test::ui::DtmState(dtm.Get()); }
  static std::string DataSet(ULONG trailer = 0x0A00) {
    ByteWriter w;
    w.Text(u"VKR").Bstr(u"2.1.1").Bstr(u"{00000000-0000-0000-0000-000000000000}").I4(0).UI4(1).U32(trailer);
    return std::string(w.bytes.begin(), w.bytes.end());
  }
  vkr::ComPtr<IPersistStreamInit> dtm;
};

// The project file's container: every single-byte flip and every cut of a wrapped stream is found
// damaged, while a file without the container is handed on whole as an older stream.
TEST(DataSetContainer, EveryFlipAndCutIsFoundAndOlderFilesPassWhole) {
  std::string stream;
  for (int i = 0; i < 300; ++i) stream += static_cast<char>(i * 37);
  const std::string file = vkr::frame::WrapDataSet(stream);
  std::string out;
  ASSERT_EQ(vkr::frame::UnwrapDataSet(file, &out), S_OK);
  EXPECT_EQ(out, stream);
  for (std::size_t at = 0; at < file.size(); ++at)
    for (int bit = 0; bit < 8; ++bit) {
      std::string damaged = file;
      damaged[at] = static_cast<char>(damaged[at] ^ (1 << bit));
      ASSERT_EQ(vkr::frame::UnwrapDataSet(damaged, &out), vkr::frame::kDamagedDataSet) << at << " bit " << bit;
    }
  for (std::size_t length = 0; length < file.size(); ++length)
    ASSERT_EQ(vkr::frame::UnwrapDataSet(file.substr(0, length), &out), vkr::frame::kDamagedDataSet) << length;
  EXPECT_EQ(vkr::frame::UnwrapDataSet(file + '\0', &out), vkr::frame::kDamagedDataSet);
  EXPECT_EQ(vkr::frame::UnwrapDataSet(stream, &out), S_FALSE);
  EXPECT_EQ(out, stream);
}

// A replacement that fails between writing the new file and renaming it leaves the old file as it
// was and nothing beside it.
TEST_F(FrameStorage, AReplacementCutOffBeforeItsRenameLeavesTheOldFile) {
  Put("file.txt", "old");
  vkr::frame::FailReplaceForTesting(1);
  EXPECT_TRUE(FAILED(vkr::frame::ReplaceFile("C:\\Frame\\file.txt", "new bytes")));
  EXPECT_EQ(vkr::test::ReadFileText(drives / "c/Frame/file.txt"), "old");
  EXPECT_EQ(vkr::frame::ReplaceFile("C:\\Frame\\file.txt", "new bytes"), S_OK);
  EXPECT_EQ(vkr::test::ReadFileText(drives / "c/Frame/file.txt"), "new bytes");
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(drives / "c/Frame")) files += entry.is_regular_file();
  EXPECT_EQ(files, 1u);
  EXPECT_EQ(vkr::frame::CheckReplaceable("C:\\Frame\\file.txt"), S_OK);
  EXPECT_TRUE(FAILED(vkr::frame::CheckReplaceable("C:\\Frame")));
  EXPECT_TRUE(FAILED(vkr::frame::CheckReplaceable("C:\\Frame\\none\\file.txt")));
}

// Of two commands that read one file (or found none), only the first replaces it: the second is
// refused and the first's bytes stay. A new file a running replacement still holds is not taken for
// a leftover; one nobody holds is.
TEST_F(FrameStorage, AFileChangedSinceItWasReadIsNotReplaced) {
  using vkr::frame::KnownFile;
  const std::string path = "C:\\Frame\\known.txt";
  for (const bool there : {true, false}) {
    SCOPED_TRACE(there ? "a file that was there" : "a file that was not there");
    DeleteFileA(path.c_str());
    if (there) Put("known.txt", "loaded");
    KnownFile first(path), second(path);
    ASSERT_EQ(first.Read(), S_OK);
    ASSERT_EQ(second.Read(), S_OK);
    EXPECT_EQ(first.Present(), there);
    EXPECT_EQ(first.Replace("first"), S_OK);
    EXPECT_EQ(first.Replace("first again"), S_OK);  // what it saved itself it may replace
    EXPECT_EQ(second.Replace("second"), vkr::frame::kChangedMeanwhile);
    EXPECT_EQ(vkr::test::ReadFileText(drives / "c/Frame/known.txt"), "first again");
    KnownFile third(path);
    ASSERT_EQ(third.Read(), S_OK);
    EXPECT_EQ(third.Replace("third"), S_OK);
  }
  const std::string held = path + ".new.{00000000-0000-0000-0000-00000000000A}";
  const std::string left = path + ".new.{00000000-0000-0000-0000-00000000000B}";
  Put("known.txt.new.{00000000-0000-0000-0000-00000000000B}", "cut off");
  HANDLE running = CreateFileA(held.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  OVERLAPPED whole{};
  ASSERT_TRUE(LockFileEx(running, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole));
  KnownFile next(path);
  ASSERT_EQ(next.Read(), S_OK);
  EXPECT_TRUE(Exists(held.c_str()));
  EXPECT_FALSE(Exists(left.c_str()));
  CloseHandle(running);
  vkr::frame::RemoveLeftovers(path);
  EXPECT_FALSE(Exists(held.c_str()));
}

// Work done while a file is unchanged holds the file's lock: no other replacement comes between
// its check and its end. A file changed since it was read runs no work; a check made in the
// replacement's own step stops it when it fails. Room held by a check stays taken until let go.
TEST_F(FrameStorage, WorkWhileAFileIsUnchangedIsOneStepWithItsCheck) {
  using vkr::frame::KnownFile;
  const std::string path = "C:\\Frame\\record.txt";
  Put("record.txt", "verdict equal\n");
  KnownFile mine(path), other(path);
  ASSERT_EQ(mine.Read(), S_OK);
  ASSERT_EQ(other.Read(), S_OK);
  bool ran = false;
  EXPECT_EQ(mine.WhileUnchanged([&] {
    ran = true;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    OVERLAPPED whole{};
    EXPECT_FALSE(LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole))
        << "another replacement could come between the check and the work";
    CloseHandle(file);
    return S_FALSE;
  }), S_FALSE);
  EXPECT_TRUE(ran);
  // A check in the replacement's step that fails leaves the file; one that holds lets it go on.
  EXPECT_EQ(other.Replace("verdict none\n", nullptr, [] { return E_ABORT; }), E_ABORT);
  EXPECT_EQ(vkr::test::ReadFileText(drives / "c/Frame/record.txt"), "verdict equal\n");
  EXPECT_EQ(other.Replace("verdict none\n", nullptr, [] { return S_OK; }), S_OK);
  ran = false;
  EXPECT_EQ(mine.WhileUnchanged([&] {
    ran = true;
    return S_OK;
  }), vkr::frame::kChangedMeanwhile);
  EXPECT_FALSE(ran);
  // A file this process holds already is not locked again through another of its names (it would
  // wait for itself): refused at once, the file as it was.
  ASSERT_EQ(mine.Read(), S_OK);
  std::filesystem::create_hard_link(drives / "c/Frame/record.txt", drives / "c/Frame/second.txt");
  std::filesystem::create_symlink("record.txt", drives / "c/Frame/link.txt");
  for (const char* name : {"C:\\Frame\\record.txt", "C:\\Frame\\second.txt", "C:\\Frame\\link.txt"}) {
    KnownFile again(name);
    ASSERT_EQ(again.Read(), S_OK) << name;
    EXPECT_EQ(mine.WhileUnchanged([&] { return again.Replace("verdict equal\n"); }), vkr::frame::kHeldByThisCommand)
        << name;
    EXPECT_EQ(vkr::test::ReadFileText(drives / "c/Frame/record.txt"), "verdict none\n") << name;
  }
  const auto newFiles = [&] {
    std::size_t n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(drives / "c/Frame"))
      n += entry.path().filename().string().find(".new.") != std::string::npos;
    return n;
  };
  {
    vkr::frame::RoomHeld room;
    EXPECT_EQ(vkr::frame::CheckReplaceable(path.c_str(), 8192, &room), S_OK);
    EXPECT_EQ(vkr::frame::CheckReplaceable("C:\\Frame\\project.txt", 4096, &room), S_OK);
    EXPECT_EQ(newFiles(), 2u);
  }
  EXPECT_EQ(newFiles(), 0u);
}

// A project that was not there when a command began, but that another command creates between this
// save's check and its rename, is refused and keeps the other command's bytes.
TEST_F(FrameStorage, AFileCreatedBeforeTheRenameIsNotOverwritten) {
  vkr::frame::KnownFile late("C:\\Frame\\late.txt");
  ASSERT_EQ(late.Read(), S_OK);
  ASSERT_FALSE(late.Present());
  vkr::frame::BeforeRenameForTesting([] { Put("late.txt", "the other command's"); });
  EXPECT_EQ(late.Replace("mine"), vkr::frame::kChangedMeanwhile);
  EXPECT_EQ(vkr::test::ReadFileText(drives / "c/Frame/late.txt"), "the other command's");
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(drives / "c/Frame")) files += entry.is_regular_file();
  EXPECT_EQ(files, 1u) << "the refused new file stayed beside it";
}

TEST_F(ModuleStorage, ADataSetFileLoadsIntoTheDtm) {
  Put("set.dat", DataSet());
  ASSERT_EQ(vkr::frame::LoadStreamFile(dtm.Get(), "C:\\Frame\\set.dat"), S_OK);
  EXPECT_EQ(State(), dsLOADED);
  EXPECT_EQ(dtm->IsDirty(), S_FALSE);
}

TEST_F(ModuleStorage, ADamagedFileIsRefusedAndTheDtmStaysNew) {
  Put("bad.dat", DataSet(0x0A01));
  EXPECT_EQ(vkr::frame::LoadStreamFile(dtm.Get(), "C:\\Frame\\bad.dat"), E_FAIL);
  EXPECT_EQ(State(), dsCREATED);
  EXPECT_TRUE(FAILED(vkr::frame::LoadStreamFile(dtm.Get(), "C:\\Frame\\missing.dat")));
}

TEST_F(ModuleStorage, APropertyBagFileLoadsIntoTheDtm) {
  std::string hex;
  for (unsigned char c : DataSet()) {
    static const char* digits = "0123456789ABCDEF";
    hex += digits[c >> 4];
    hex += digits[c & 0xF];
  }
  hex.resize(hex.size() - 8);  // the bag holds the data set without the stream form's trailer
  Put("bag.txt", "DTM_DATA\t8209\t" + hex + "\n");
  vkr::ComPtr<vkr::ComObject<FilePropertyBag>> bag;
  ASSERT_EQ(vkr::MakeObject<FilePropertyBag>(&bag), S_OK);
  ASSERT_EQ(bag->LoadFromFile("C:\\Frame\\bag.txt"), S_OK);
  vkr::ComPtr<IPersistPropertyBag> persist;
  ASSERT_EQ(dtm->QueryInterface(IID_IPersistPropertyBag, persist.PutVoid()), S_OK);
  EXPECT_EQ(persist->Load(bag.Get(), nullptr), S_OK);
  EXPECT_EQ(State(), dsLOADED);
}

TEST_F(ModuleStorage, ADtmThatCannotSaveLeavesNoFile) {
  // A new DTM is not configured: it refuses to save, and the frame writes nothing.
  EXPECT_EQ(vkr::frame::SaveStreamFile(dtm.Get(), "C:\\Frame\\out.dat"), E_FAIL);
  EXPECT_FALSE(Exists("C:\\Frame\\out.dat"));
}

}  // namespace
