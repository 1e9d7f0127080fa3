// The failure log of device accesses: which access a failure belongs to (the parameter, and a
// failure noted after the access began), one failure told to several user interfaces noted once,
// and what is not a failure left alone.
#include "ui/framework/DeviceAccessLog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "include/DtmMessages.h"

namespace vkr::ui {
namespace {

// The DTM numbers of the failures of this file: far from any a DTM gives in the same process.
ULONG NextDtmNumber() {
  static std::atomic<ULONG> next{0x7F000000};
  return next++;
}

VARIANT Broadcast() { return vkr::UI4(kBroadcastDeviceAccessFailed); }

// The broadcast's argument {parameter id, error text, the DTM's number of the failure}.
vkr::Variant Failure(LONG id, const std::u16string& text, ULONG dtmNumber) {
  vkr::Variant argument;
  argument.vt = VT_ARRAY | VT_VARIANT;
  argument.parray = SafeArrayCreateVector(VT_VARIANT, 0, 3);
  vkr::Variant parts[3];
  parts[0] = vkr::Variant(vkr::UI4(static_cast<ULONG>(id)));
  parts[1].vt = VT_BSTR;
  parts[1].bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  parts[2] = vkr::Variant(vkr::UI4(dtmNumber));
  for (LONG i = 0; i < 3; ++i) SafeArrayPutElement(argument.parray, &i, &parts[i]);
  return argument;
}

bool Note(LONG id, const std::u16string& text, ULONG dtmNumber) {
  return NoteDeviceAccessFailure(Broadcast(), Failure(id, text, dtmNumber));
}

std::optional<std::u16string> Since(unsigned long long mark, LONG id) {
  const std::optional<SDeviceAccessFailure> failure = DeviceAccessFailureSince(mark, id);
  if (!failure) return std::nullopt;
  return failure->text;
}

// Parameter ids of this file, apart from the DTM's.
constexpr LONG kA = 990001;
constexpr LONG kB = 990002;

// An access marks the log when it begins and asks it for its parameter's failure when it ends.
// Each row: the failures noted before the mark, those noted after it, and what the access of kA
// learns (nothing: std::nullopt).
struct SRow {
  const char* what;
  std::vector<std::pair<LONG, std::u16string>> before;
  std::vector<std::pair<LONG, std::u16string>> after;
  std::optional<std::u16string> learnt;
};

TEST(DeviceAccessLog, AnAccessLearnsOnlyItsOwnParametersFailureAfterItBegan) {
  const std::vector<SRow> rows = {
      {"a failure before the access began", {{kA, u"earlier"}}, {}, std::nullopt},
      {"the failure just before the mark", {{kB, u"other"}, {kA, u"just before"}}, {}, std::nullopt},
      {"another parameter's failure", {}, {{kB, u"of B"}}, std::nullopt},
      {"its own failure", {}, {{kA, u"of A"}}, u"of A"},
      {"its own among others", {{kA, u"earlier"}}, {{kB, u"of B"}, {kA, u"of A"}, {kB, u"of B again"}}, u"of A"},
      {"its last failure", {}, {{kA, u"first"}, {kA, u"second"}}, u"second"},
  };
  for (const SRow& row : rows) {
    SCOPED_TRACE(row.what);
    for (const auto& [id, text] : row.before) ASSERT_TRUE(Note(id, text, NextDtmNumber()));
    const unsigned long long mark = DeviceAccessMark();
    for (const auto& [id, text] : row.after) ASSERT_TRUE(Note(id, text, NextDtmNumber()));
    EXPECT_EQ(Since(mark, kA), row.learnt);
    EXPECT_EQ(DeviceAccessMark(), mark + row.after.size()) << "each failure after the mark is noted once";
  }
}

// The DTM tells one failure to every user interface it has open; each notes it, the log keeps it
// once. What is no failure broadcast is not taken; a broadcast that carries no failure is taken
// and noted nowhere.
TEST(DeviceAccessLog, OneFailureToldToSeveralIsNotedOnceAndOtherWordsAreLeftAlone) {
  const ULONG number = NextDtmNumber();
  unsigned long long mark = DeviceAccessMark();
  for (int ui = 0; ui < 3; ++ui) ASSERT_TRUE(Note(kA, u"told to three", number));
  EXPECT_EQ(DeviceAccessMark(), mark + 1);
  EXPECT_EQ(Since(mark, kA), std::optional<std::u16string>(u"told to three"));

  mark = DeviceAccessMark();
  EXPECT_FALSE(NoteDeviceAccessFailure(vkr::UI4(kBroadcastDeviceAccessFailed + 1), Failure(kA, u"x", NextDtmNumber())));
  EXPECT_TRUE(NoteDeviceAccessFailure(Broadcast(), vkr::UI4(7)));
  vkr::Variant cut;
  cut.vt = VT_ARRAY | VT_VARIANT;
  cut.parray = SafeArrayCreateVector(VT_VARIANT, 0, 2);
  EXPECT_TRUE(NoteDeviceAccessFailure(Broadcast(), cut));
  EXPECT_EQ(DeviceAccessMark(), mark);
  EXPECT_EQ(Since(mark, kA), std::nullopt);
}

// The log keeps the last failures only: an access that waited past many others learns nothing
// of one that has gone, and the newest is always there.
TEST(DeviceAccessLog, KeepsTheLastFailures) {
  const unsigned long long mark = DeviceAccessMark();
  ASSERT_TRUE(Note(kA, u"long ago", NextDtmNumber()));
  for (int i = 0; i < 200; ++i) ASSERT_TRUE(Note(kB, u"many", NextDtmNumber()));
  EXPECT_EQ(Since(mark, kA), std::nullopt);
  EXPECT_EQ(Since(mark, kB), std::optional<std::u16string>(u"many"));
}

}  // namespace
}  // namespace vkr::ui
