// What became of a device access a page or control started, in one place: the transaction through
// the DTM's parameter handler, the outcome's kind (done, refused by the device with its response
// code, no answer, busy, the answer lost, the link gone, the request not taken, no device
// connected), and the user's text of it ("X was not written: ...", "X could not be read: ...").
//
// A failed access reaches the user interfaces as the DTM's broadcast of the failure (the parameter
// and the error text, see ui/framework/DeviceAccessLog.h); a blocking write or read here reads that
// log after it returns, a page that waits for a read's answer asks it for the failure since its
// mark (DeviceFailureSince) or decodes the broadcast itself (DecodeDeviceFailure).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "include/ParameterHandlerInterfaces.h"
#include "platform/platform.h"

namespace vkr::dui {

enum class EDeviceOutcome {
  Done,      // the device answered and did it
  Refused,   // the device answered with an error response code (responseCode)
  NotTaken,  // the frame's channel did not take the request: it never reached the device
  NoAnswer,  // the request went out and no answer came in time
  Busy,      // the device (or the channel) was busy and did not run it
  Lost,      // the answer did not arrive whole (a communication error)
  LinkGone,  // the connection to the device is gone
  Offline,   // no device is connected: nothing was sent
};

struct SDeviceOutcome {
  EDeviceOutcome kind = EDeviceOutcome::Done;
  int responseCode = -1;  // the device's command response code, when it answered one
  BYTE warning = 0;       // Done: the warning the device answered with (0: none)
  bool Ok() const { return kind == EDeviceOutcome::Done; }
};

// The outcome an error text of the DTM names: "error: [device status = 0xSS] command response =
// 0xCC" (code 32: busy), "... communication status = 0xCC" (lost), a communication error's word
// ("busy", "noConnection", "timeout", others: lost), "Error: no answer in time". Anything else:
// lost.
SDeviceOutcome ClassifyFailureText(std::u16string_view text);
// A HART command response code with its meaning for the command ("0x09 (lower range value too
// high)"); "response code N" for one out of a byte's range.
std::u16string ResponseCodeText(BYTE command, int code);
// Why it did not happen, as the end of a sentence: "the device refused it: 0x02 (invalid selection)",
// "the device did not answer", "the device is busy", "the device's answer was lost", "the
// connection to the device is lost", "the request did not reach the device", "no device is
// connected". `them` words it for several things. Empty for Done.
std::u16string OutcomeReason(const SDeviceOutcome& outcome, BYTE command = 0, bool them = false);

// "A", "A and B", "A, B and C".
std::u16string JoinNames(const std::vector<std::u16string>& names);
// "A was not written: <reason>." / "A and B were not written: <reason>."
std::u16string NotWrittenText(const std::vector<std::u16string>& names, const SDeviceOutcome& outcome,
                              BYTE command = 0);
// A write the device took with a warning: "A was written; the device warns: 0x08 (set to nearest
// possible value)." (several: "A and B were written; ...").
std::u16string WarnedText(const std::vector<std::u16string>& names, BYTE command, BYTE code);
// "A could not be read: <reason>."
std::u16string NotReadText(const std::vector<std::u16string>& names, const SDeviceOutcome& outcome, BYTE command = 0);
// "A could not be shown: the device's value is not a finite number." (several: "A and B could
// not be shown: the device's values are not finite numbers.").
std::u16string NotShownText(const std::vector<std::u16string>& names);
// "<what> failed: <reason>." for a procedure (Master Reset, Self Test, ...).
std::u16string NotDoneText(std::u16string_view what, const SDeviceOutcome& outcome, BYTE command = 0);
// A write that would carry fields the device never gave: "<written> was not written: it goes to
// the device with <unread>, which could not be read." (several: "were", "they go"); without
// `written`: "<unread> were not written: they could not be read."
std::u16string CarriesUnreadText(const std::vector<std::u16string>& written, const std::vector<std::u16string>& unread);
// A download that did not go through: "The download did not go through: <failed> <what the
// device now holds>", where `failed` is a sentence of what failed and why, `written` names every
// setting the download wrote before it stopped (the user's changes or not: "The device was not
// changed" without any) and `notHeld` the user's changes the device does not hold (", not the
// changes A; they stay in the data set").
std::u16string DownloadFailureText(std::u16string_view failed, const std::vector<std::u16string>& written,
                                   const std::vector<std::u16string>& notHeld);
// Send offline with nothing the user typed.
inline constexpr char16_t kNothingWrittenOffline[] = u"Nothing was written: no device is connected.";
// Send while a read of the page is on the channel.
inline constexpr char16_t kNothingWrittenWhileReading[] =
    u"Nothing was written: the page is still reading the device. Send again once its values are in.";
// "A was not written: its entry is not valid." (several: "their entries are not valid").
std::u16string InvalidEntryText(const std::vector<std::u16string>& names);
// Why a Send went no further, as the end of a sentence: "A holds an entry that is not valid"
// (several: "A and B hold entries that are not valid").
std::u16string HoldsInvalidText(const std::vector<std::u16string>& names);
// "the Send stopped at A" (several: "at A and B"): their writes did not happen.
std::u16string StoppedAtText(const std::vector<std::u16string>& names);
// An entry a Send did not come to: "A was not sent: <why>." (several: "A and B were not sent").
std::u16string NotSentText(const std::vector<std::u16string>& names, std::u16string_view why);
// "A was written." (several: "A and B were written.").
std::u16string WrittenText(const std::vector<std::u16string>& names);

// The failure of the parameter the DTM told after the mark (DeviceFailureMark before the access).
unsigned long long DeviceFailureMark();
std::optional<SDeviceOutcome> DeviceFailureSince(unsigned long long mark, LONG parameterId);
// The outcome of an access made some other way (the framework's checked write, a transaction of
// the page's own): its result, whether it was done, and the failure the DTM told for the
// parameter after the mark taken before it.
SDeviceOutcome OutcomeAfter(HRESULT hr, bool done, unsigned long long mark, LONG parameterId);
// The outcome of a transaction of the HART service (IovFdtHartServiceInterface::Transaction): its
// result, the command response code the device answered and the service's error text; a warning
// of `command` (HART's classes: 8, 14, 24-27, 30, 31, 96-111) is Done.
SDeviceOutcome ServiceOutcome(HRESULT hr, BYTE responseCode, std::u16string_view errorText, BYTE command);
// The broadcast of a failed access (kBroadcastDeviceAccessFailed) as parameter and outcome; false
// for any other command.
bool DecodeDeviceFailure(const VARIANT& command, const VARIANT& argument, LONG* parameterId, SDeviceOutcome* outcome);

// Whether the DTM is online (its state 12); false without a DTM.
bool DtmIsOnline(IUnknown* dtm);

// One device access of a page or control through the DTM's parameter handler, waiting for the
// device's answer. Offline nothing is sent (Offline). The outcome comes from the call's result and
// the failure the DTM told for the parameter meanwhile; a write done with a warning carries it.
SDeviceOutcome WriteDeviceValue(IovFdtParameterHandler4* handler, LONG parameterId, const VARIANT& value);
SDeviceOutcome ReadDeviceValue(IovFdtParameterHandler4* handler, LONG parameterId);
// A write whose answer comes later (the answer's parameters, or a failure: the broadcast): Done
// when the request went out.
SDeviceOutcome StartDeviceWrite(IovFdtParameterHandler4* handler, LONG parameterId, const VARIANT& value);
// A read whose answer comes later (the page's SetControlValueById, or a failure: the broadcast):
// Done when the request went out.
SDeviceOutcome StartDeviceRead(IovFdtParameterHandler4* handler, LONG parameterId);

}  // namespace vkr::dui
