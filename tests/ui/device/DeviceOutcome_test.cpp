// What the user is told of a device access that did not happen: the DTM's error texts classified,
// and the sentences built from them.
#include "ui/device/kit/DeviceOutcome.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace vkr::dui;

std::string Narrow(const std::u16string& text) { return vkr::Utf16ToUtf8(text); }

// Every kind of failure text the DTM reports, and what the user reads of a write of Hi Level
// (command 35) that ended so.
TEST(DeviceOutcome, EveryFailureTextTellsWhatDidNotHappenAndWhy) {
  struct Row {
    const char16_t* text;
    EDeviceOutcome kind;
    int code;
    const char* told;
  };
  const Row rows[] = {
      {u"error: device status = 0x40 command response = 0x09", EDeviceOutcome::Refused, 9,
       "Hi Level was not written: the device refused it (Lower range value too high)."},
      {u"error: command response = 0x02", EDeviceOutcome::Refused, 2,
       "Hi Level was not written: the device refused it (Invalid selection)."},
      {u"error: command response = 0x41", EDeviceOutcome::Refused, 0x41,
       "Hi Level was not written: the device refused it (response code 65)."},
      {u"error: device status = 0x00 command response = 0x20", EDeviceOutcome::Busy, 32,
       "Hi Level was not written: the device is busy."},
      {u"error: communication status = 0x88", EDeviceOutcome::Lost, -1,
       "Hi Level was not written: the device's answer was lost."},
      {u"unknownError, descriptor: the answer was lost", EDeviceOutcome::Lost, -1,
       "Hi Level was not written: the device's answer was lost."},
      {u"busy", EDeviceOutcome::Busy, -1, "Hi Level was not written: the device is busy."},
      {u"noConnection, descriptor: the link to the device is lost", EDeviceOutcome::LinkGone, -1,
       "Hi Level was not written: the connection to the device is lost."},
      {u"Error: no answer in time", EDeviceOutcome::NoAnswer, -1,
       "Hi Level was not written: the device did not answer."},
      {u"timeout", EDeviceOutcome::NoAnswer, -1, "Hi Level was not written: the device did not answer."},
      {u"something else", EDeviceOutcome::Lost, -1, "Hi Level was not written: the device's answer was lost."},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(Narrow(row.text));
    const SDeviceOutcome outcome = ClassifyFailureText(row.text);
    EXPECT_EQ(outcome.kind, row.kind);
    EXPECT_EQ(outcome.responseCode, row.code);
    EXPECT_EQ(Narrow(NotWrittenText({u"Hi Level"}, outcome, 35)), row.told);
  }
}

// The sentences for one name and several, a read, a procedure, an invalid entry.
TEST(DeviceOutcome, SentencesNameEveryThingNotDone) {
  SDeviceOutcome silent;
  silent.kind = EDeviceOutcome::NoAnswer;
  SDeviceOutcome refused;
  refused.kind = EDeviceOutcome::Refused;
  refused.responseCode = 7;
  SDeviceOutcome offline;
  offline.kind = EDeviceOutcome::Offline;
  SDeviceOutcome notTaken;
  notTaken.kind = EDeviceOutcome::NotTaken;
  const std::pair<std::u16string, const char*> rows[] = {
      {NotWrittenText({u"Low Level", u"Hi Level"}, refused),
       "Low Level and Hi Level were not written: the device refused them (In write protect mode)."},
      {NotWrittenText({u"A", u"B", u"C"}, offline), "A, B and C were not written: no device is connected."},
      {NotReadText({u"Additional Device Status"}, silent),
       "Additional Device Status could not be read: the device did not answer."},
      {NotDoneText(u"Master Reset", notTaken), "Master Reset failed: the request did not reach the device."},
      {InvalidEntryText({u"Hi Level"}), "Hi Level was not written: its entry is not valid."},
      {InvalidEntryText({u"Hi Level", u"Damping"}),
       "Hi Level and Damping were not written: their entries are not valid."},
      {kNothingWrittenOffline, "Nothing was written: no device is connected."},
  };
  for (const auto& [text, expected] : rows) EXPECT_EQ(Narrow(text), expected);
}

}  // namespace
