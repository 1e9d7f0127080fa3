// One classification of HART's command response codes: the DTM and the frame's channel both call
// a code a warning exactly where HART's response code classes do, for every command and code.
#include <gtest/gtest.h>

#include <set>

#include "communication/HartResponseTexts.h"
#include "frame/FrameChannel.h"

namespace {

// HART's warnings (the device did what was asked and says something about it). Every other code
// but 0 is an error; 128 and above never come as a response code (the byte is the communication
// status then) and are errors here.
const std::set<int> kHartWarnings = {8,   14,  24,  25,  26,  27,  30,  31,  96,  97,  98,  99,  100,
                                     101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 111};

TEST(ResponseCodeClasses, TheDtmAndTheFramesChannelCallTheSameCodesWarningsAsHartDoes) {
  for (int code = 0; code <= 255; ++code) {
    const bool warning = kHartWarnings.count(code) != 0;
    EXPECT_EQ(vkr::frame::IsWarningResponse(static_cast<std::uint8_t>(code)), warning) << "frame, code " << code;
    // A command's own meaning of a code keeps HART's class.
    for (int command = 0; command <= 255; ++command)
      if (vkr::hart::IsWarning(static_cast<BYTE>(command), static_cast<BYTE>(code)) != warning)
        ADD_FAILURE() << "DTM, command " << command << ", code " << code << ": warning should be " << warning;
  }
}

// A warning is never told bare: every command's every warning code has a meaning, and an error
// code HART gives no meaning keeps none (it is told by its number alone).
TEST(ResponseCodeClasses, EveryWarningOfEveryCommandHasAMeaning) {
  for (int command = 0; command <= 255; ++command)
    for (int code = 1; code <= 255; ++code) {
      const std::u16string text = vkr::hart::ResponseCodeText(static_cast<BYTE>(command), static_cast<BYTE>(code));
      if (kHartWarnings.count(code) != 0 && text.empty())
        ADD_FAILURE() << "command " << command << ", warning " << code << " has no meaning";
      if (kHartWarnings.count(code) == 0 && (text == u"warning" || text == u"device-specific warning"))
        ADD_FAILURE() << "command " << command << ", error " << code << " is named a warning";
    }
  EXPECT_EQ(vkr::hart::DescribeResponseCode(34, 8), u"0x08 (set to nearest possible value)");
  EXPECT_EQ(vkr::hart::DescribeResponseCode(35, 14), u"0x0E (span too small, the device's accuracy may be impaired)");
  EXPECT_EQ(vkr::hart::DescribeResponseCode(138, 0x60), u"0x60 (device-specific warning)");
  EXPECT_EQ(vkr::hart::DescribeResponseCode(6, 0x1F), u"0x1F (warning)");
}

}  // namespace

// A notice's warned writes told warning by warning: each warning once, after every write it
// answered in the order they came, the sentence in the plural for several; the notice's other
// words and writes apart from the run untouched.
TEST(ResponseCodeClasses, EachWarningOfANoticeIsToldOnceWithTheWritesItAnswered) {
  const std::u16string w8 = u"the device warns: 0x08 (set to nearest possible value)";
  const std::u16string w14 = u"the device warns: 0x0E (span too small)";
  const struct {
    std::u16string notice, told;
  } cases[] = {
      {u"Went: \"A\" was written; " + w8 + u".", u"Went: \"A\" was written; " + w8 + u"."},
      {u"Went: \"A\" was written; " + w8 + u"; \"B\" and \"C\" were written; " + w8 + u"; \"D\" was written; " + w8 + u".",
       u"Went: \"A\", \"B\", \"C\" and \"D\" were written; " + w8 + u"."},
      {u"Went: \"A\" was written; " + w8 + u"; \"B\" was written; " + w14 + u"; \"C\" was written; " + w8 + u".",
       u"Went: \"A\" and \"C\" were written; " + w8 + u"; \"B\" was written; " + w14 + u"."},
      {u"Stopped: \"X\" was not written. The rest stays. \"A\" was written; " + w8 + u"; \"A\" was written; " + w8 + u".",
       u"Stopped: \"X\" was not written. The rest stays. \"A\" was written; " + w8 + u"."},
      {u"Nothing was warned.", u"Nothing was warned."},
  };
  for (const auto& c : cases) {
    const std::u16string told = vkr::hart::GroupWarnedWrites(c.notice);
    EXPECT_EQ(std::string(told.begin(), told.end()), std::string(c.told.begin(), c.told.end()));
  }
}
