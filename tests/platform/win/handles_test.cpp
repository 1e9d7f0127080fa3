// The handle table: 32-bit ids, never reused; stale and foreign ids fail and touch nothing.
#include <gtest/gtest.h>

#include <set>

#include "platform/platform.h"
#include "platform/win/handles.h"

namespace {

HANDLE NewEvent(BOOL manual = TRUE, BOOL initial = FALSE) { return CreateEventW(nullptr, manual, initial, nullptr); }

TEST(Handles, IdsAreThirtyTwoBitAndNeverReused) {
  std::set<std::uintptr_t> seen;
  for (int i = 0; i < 200; ++i) {
    HANDLE h = NewEvent();
    ASSERT_NE(h, nullptr);
    auto v = reinterpret_cast<std::uintptr_t>(h);
    EXPECT_LE(v, 0xFFFFFFFFu);
    EXPECT_TRUE(seen.insert(v).second) << "id " << v << " handed out twice";
    // Closing before the next creation would let a reusing table hand the same id out again.
    ASSERT_TRUE(CloseHandle(h));
  }
}

TEST(Handles, AStaleIdFailsAndLeavesTheNewerObjectAlone) {
  HANDLE stale = NewEvent();
  ASSERT_TRUE(CloseHandle(stale));
  HANDLE fresh = NewEvent();
  ASSERT_NE(fresh, stale);

  SetLastError(0);
  EXPECT_FALSE(SetEvent(stale));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(WaitForSingleObject(fresh, 0), WAIT_TIMEOUT) << "signalling the stale id reached another event";

  ASSERT_TRUE(SetEvent(fresh));
  EXPECT_FALSE(ResetEvent(stale));
  EXPECT_EQ(WaitForSingleObject(fresh, 0), WAIT_OBJECT_0) << "resetting the stale id reached another event";
  EXPECT_EQ(WaitForSingleObject(stale, 0), WAIT_FAILED);
  EXPECT_FALSE(CloseHandle(stale));
  EXPECT_TRUE(CloseHandle(fresh));
}

TEST(Handles, ValuesThatAreNoLiveHandleAreRefused) {
  const struct {
    const char* what;
    HANDLE h;
  } cases[] = {
      {"null", nullptr},
      {"INVALID_HANDLE_VALUE", INVALID_HANDLE_VALUE},
      {"a small number", reinterpret_cast<HANDLE>(std::uintptr_t{5})},
      {"an id not handed out yet", reinterpret_cast<HANDLE>(std::uintptr_t{0xFFFFFF00})},
      {"a pointer beyond 32 bits", reinterpret_cast<HANDLE>(std::uintptr_t{0x1234567800000100})},
  };
  for (const auto& c : cases) {
    SetLastError(0);
    EXPECT_FALSE(SetEvent(c.h)) << c.what;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE)) << c.what;
    EXPECT_FALSE(ResetEvent(c.h)) << c.what;
    EXPECT_EQ(WaitForSingleObject(c.h, 0), WAIT_FAILED) << c.what;
    EXPECT_FALSE(CloseHandle(c.h)) << c.what;
  }
}

DWORD ReturnSeven(LPVOID) { return 7; }

TEST(Handles, AHandleOfAnotherKindIsRefused) {
  HANDLE thread = CreateThread(nullptr, 0, &ReturnSeven, nullptr, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  HANDLE event = NewEvent();
  EXPECT_FALSE(SetEvent(thread));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  DWORD code = 0;
  EXPECT_FALSE(GetExitCodeThread(event, &code));
  EXPECT_FALSE(TerminateThread(event, 1));
  ASSERT_EQ(WaitForSingleObject(thread, 30000), WAIT_OBJECT_0);
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 7u);
  CloseHandle(thread);
  CloseHandle(event);
}

// Other kinds (files, searches) live in the same table; a search is closed by its own call.
struct FakeSearch : vkr::platform::HandleObject {
  vkr::platform::HandleKind Kind() const override { return vkr::platform::HandleKind::Find; }
};

TEST(Handles, CloseHandleRefusesASearchAndLeavesItOpen) {
  using namespace vkr::platform;
  HANDLE search = InsertHandleObject(std::make_shared<FakeSearch>());
  ASSERT_NE(search, nullptr);
  SetLastError(0);
  EXPECT_FALSE(CloseHandle(search));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_NE(LookupHandleObject(search), nullptr);
  EXPECT_EQ(RemoveHandleObject(search, HandleKind::File), nullptr) << "removed as the wrong kind";
  EXPECT_NE(RemoveHandleObject(search, HandleKind::Find), nullptr);
  EXPECT_EQ(LookupHandleObject(search), nullptr);
  EXPECT_EQ(InsertHandleObject(nullptr), nullptr);
}

TEST(Handles, SurviveARoundTripThroughThirtyTwoBits) {
  HANDLE h = NewEvent();
  const ULONG asVariantValue = static_cast<ULONG>(reinterpret_cast<std::uintptr_t>(h));
  HANDLE back = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(asVariantValue));
  EXPECT_TRUE(SetEvent(back));
  EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_OBJECT_0);
  CloseHandle(h);
}

TEST(Handles, ClosingGivesTheTableEntryBack) {
  const std::size_t before = vkr::platform::LiveHandleCount();
  HANDLE a = NewEvent();
  HANDLE b = NewEvent();
  EXPECT_EQ(vkr::platform::LiveHandleCount(), before + 2);
  CloseHandle(a);
  CloseHandle(b);
  EXPECT_EQ(vkr::platform::LiveHandleCount(), before);
}

}  // namespace
