// The outcome of a page's or control's device access (see DeviceOutcome.h).
#include "ui/device/kit/DeviceOutcome.h"

#include "communication/HartResponseTexts.h"
#include "include/DtmInterfaces.h"
#include "include/DtmMessages.h"
#include "ui/device/DeviceUiIds.h"
#include "ui/framework/DeviceAccessLog.h"

namespace vkr::dui {

namespace {

bool Contains(std::u16string_view text, std::u16string_view part) {
  return text.find(part) != std::u16string_view::npos;
}

// The number after "<key> = 0x" in the text; -1 without one.
int HexAfter(std::u16string_view text, std::u16string_view key) {
  const size_t at = text.find(key);
  if (at == std::u16string_view::npos) return -1;
  size_t i = at + key.size();
  while (i < text.size() && (text[i] == u' ' || text[i] == u'=')) ++i;
  if (i + 1 < text.size() && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X')) i += 2;
  int value = -1;
  for (; i < text.size(); ++i) {
    const char16_t c = text[i];
    const int digit = c >= u'0' && c <= u'9'   ? c - u'0'
                      : c >= u'a' && c <= u'f' ? c - u'a' + 10
                      : c >= u'A' && c <= u'F' ? c - u'A' + 10
                                               : -1;
    if (digit < 0) break;
    value = (value < 0 ? 0 : value * 16) + digit;
  }
  return value;
}

std::u16string Widen(const char* text) {
  std::u16string wide;
  for (const char* c = text; *c; ++c) wide += static_cast<char16_t>(*c);
  return wide;
}

SDeviceOutcome Of(EDeviceOutcome kind, int code = -1) {
  SDeviceOutcome outcome;
  outcome.kind = kind;
  outcome.responseCode = code;
  return outcome;
}

SDeviceOutcome AfterCall(HRESULT hr, VARIANT_BOOL done, unsigned long long mark, LONG id) {
  return OutcomeAfter(hr, done != VARIANT_FALSE, mark, id);
}

}  // namespace

SDeviceOutcome OutcomeAfter(HRESULT hr, bool done, unsigned long long mark, LONG parameterId) {
  if (SUCCEEDED(hr) && hr != S_FALSE && done) return Of(EDeviceOutcome::Done);
  if (const std::optional<SDeviceOutcome> told = DeviceFailureSince(mark, parameterId)) return *told;
  // No answer in the time: the wait was given up.
  if (hr == E_ABORT) return Of(EDeviceOutcome::NoAnswer);
  // Nothing told of it: the channel did not take the request (refused by the frame, or its
  // connection gone), so it never reached the device.
  return Of(EDeviceOutcome::NotTaken);
}

SDeviceOutcome ClassifyFailureText(std::u16string_view text) {
  const int response = HexAfter(text, u"command response");
  if (response == 32) return Of(EDeviceOutcome::Busy, response);
  if (response > 0) return Of(EDeviceOutcome::Refused, response);
  if (HexAfter(text, u"communication status") > 0) return Of(EDeviceOutcome::Lost);
  if (Contains(text, u"no answer in time") || Contains(text, u"timeout")) return Of(EDeviceOutcome::NoAnswer);
  if (Contains(text, u"request was not taken")) return Of(EDeviceOutcome::NotTaken);
  if (Contains(text, u"noConnection")) return Of(EDeviceOutcome::LinkGone);
  if (text.substr(0, 4) == u"busy" || Contains(text, u": busy")) return Of(EDeviceOutcome::Busy);
  return Of(EDeviceOutcome::Lost);
}

std::u16string ResponseCodeText(BYTE command, int code) {
  // One table of what the codes mean, shared with the DTM's own error texts.
  if (code > 0 && code < 256) return vkr::hart::DescribeResponseCode(command, static_cast<BYTE>(code));
  return u"response code " + Widen(std::to_string(code).c_str());
}

std::u16string OutcomeReason(const SDeviceOutcome& outcome, BYTE command, bool them) {
  const std::u16string it = them ? u"them" : u"it";
  switch (outcome.kind) {
    case EDeviceOutcome::Done: return {};
    case EDeviceOutcome::Refused:
      return u"the device refused " + it +
             (outcome.responseCode > 0 ? u": " + ResponseCodeText(command, outcome.responseCode) : u"");
    case EDeviceOutcome::NotTaken: return u"the request did not reach the device";
    case EDeviceOutcome::NoAnswer: return u"the device did not answer";
    case EDeviceOutcome::Busy: return u"the device is busy";
    case EDeviceOutcome::Lost: return u"the device's answer was lost";
    case EDeviceOutcome::LinkGone: return u"the connection to the device is lost";
    case EDeviceOutcome::Offline: return u"no device is connected";
  }
  return {};
}

std::u16string JoinNames(const std::vector<std::u16string>& names) {
  std::u16string text;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += i + 1 == names.size() ? u" and " : u", ";
    // A name that opens a sentence ("The sensor limit") goes on in it in lower case.
    if (i > 0 && names[i].starts_with(u"The "))
      text += u"the" + names[i].substr(3);
    else
      text += names[i];
  }
  return text;
}

std::u16string NotWrittenText(const std::vector<std::u16string>& names, const SDeviceOutcome& outcome, BYTE command) {
  const bool several = names.size() > 1;
  return JoinNames(names) + (several ? u" were" : u" was") + u" not written: " +
         OutcomeReason(outcome, command, several) + u".";
}

std::u16string WarnedText(const std::vector<std::u16string>& names, BYTE command, BYTE code) {
  return JoinNames(names) + (names.size() > 1 ? u" were" : u" was") + u" written; the device warns: " +
         vkr::hart::DescribeResponseCode(command, code) + u".";
}

std::u16string NotReadText(const std::vector<std::u16string>& names, const SDeviceOutcome& outcome, BYTE command) {
  return JoinNames(names) + u" could not be read: " + OutcomeReason(outcome, command, names.size() > 1) + u".";
}

std::u16string NotShownText(const std::vector<std::u16string>& names) {
  return JoinNames(names) + (names.size() > 1 ? u" could not be shown: the device's values are not finite numbers."
                                              : u" could not be shown: the device's value is not a finite number.");
}

std::u16string NotDoneText(std::u16string_view what, const SDeviceOutcome& outcome, BYTE command) {
  return std::u16string(what) + u" failed: " + OutcomeReason(outcome, command) + u".";
}

std::u16string CarriesUnreadText(const std::vector<std::u16string>& written,
                                 const std::vector<std::u16string>& unread) {
  if (written.empty())
    return JoinNames(unread) + (unread.size() == 1 ? u" was not written: it could not be read."
                                                   : u" were not written: they could not be read.");
  const bool one = written.size() == 1;
  return JoinNames(written) + (one ? u" was not written: it goes" : u" were not written: they go") +
         u" to the device with " + JoinNames(unread) + u", which could not be read.";
}

std::u16string DownloadFailureText(std::u16string_view failed, const std::vector<std::u16string>& written,
                                   const std::vector<std::u16string>& notHeld) {
  std::u16string text = u"The download did not go through: " + std::u16string(failed);
  if (!text.ends_with(u'.')) text += u'.';
  if (written.empty())
    return text + (notHeld.empty() ? u" The device was not changed; the changes stay in the data set."
                                   : u" The device was not changed: it holds none of the changes (" + JoinNames(notHeld) +
                                         u"); they stay in the data set.");
  text += u" The device now holds what the download wrote before it stopped (" + JoinNames(written) + u")";
  if (notHeld.empty()) return text + u".";
  return text + u", not the changes " + JoinNames(notHeld) + u"; they stay in the data set.";
}

std::u16string InvalidEntryText(const std::vector<std::u16string>& names) {
  const bool several = names.size() > 1;
  return JoinNames(names) +
         (several ? u" were not written: their entries are not valid." : u" was not written: its entry is not valid.");
}

std::u16string HoldsInvalidText(const std::vector<std::u16string>& names) {
  return JoinNames(names) +
         (names.size() > 1 ? u" hold entries that are not valid" : u" holds an entry that is not valid");
}

std::u16string StoppedAtText(const std::vector<std::u16string>& names) {
  return u"the Send stopped at " + JoinNames(names);
}

std::u16string NotSentText(const std::vector<std::u16string>& names, std::u16string_view why) {
  return JoinNames(names) + (names.size() > 1 ? u" were" : u" was") + u" not sent: " + std::u16string(why) + u".";
}

std::u16string WrittenText(const std::vector<std::u16string>& names) {
  return JoinNames(names) + (names.size() > 1 ? u" were" : u" was") + u" written.";
}

unsigned long long DeviceFailureMark() { return vkr::ui::DeviceAccessMark(); }

std::optional<SDeviceOutcome> DeviceFailureSince(unsigned long long mark, LONG parameterId) {
  const std::optional<vkr::ui::SDeviceAccessFailure> failure = vkr::ui::DeviceAccessFailureSince(mark, parameterId);
  if (!failure) return std::nullopt;
  return ClassifyFailureText(failure->text);
}

SDeviceOutcome ServiceOutcome(HRESULT hr, BYTE responseCode, std::u16string_view errorText, BYTE command) {
  // A warning is no refusal: the command ran.
  if (responseCode == 32) return Of(EDeviceOutcome::Busy, responseCode);
  if (responseCode != 0 && !vkr::hart::IsWarning(command, responseCode)) return Of(EDeviceOutcome::Refused, responseCode);
  // The wait given up (the service names its result in its text).
  if (hr == E_ABORT || Contains(errorText, u"0x80004004")) return Of(EDeviceOutcome::NoAnswer);
  // The service's word for a request the channel did not take.
  if (Contains(errorText, u"error during transaction")) return Of(EDeviceOutcome::NotTaken);
  if (!errorText.empty()) return ClassifyFailureText(errorText);
  if (FAILED(hr) || hr == S_FALSE) return Of(EDeviceOutcome::NotTaken);
  return Of(EDeviceOutcome::Done);
}

bool DecodeDeviceFailure(const VARIANT& command, const VARIANT& argument, LONG* parameterId, SDeviceOutcome* outcome) {
  vkr::Variant number;
  if (FAILED(VariantChangeType(&number, &command, 0, VT_UI4)) || number.ulVal != kBroadcastDeviceAccessFailed)
    return false;
  if (argument.vt != (VT_ARRAY | VT_VARIANT) || !argument.parray) return false;
  vkr::Variant id, text;
  LONG index = 0;
  if (FAILED(SafeArrayGetElement(argument.parray, &index, id.Put())) || FAILED(VariantChangeType(&id, &id, 0, VT_I4)))
    return false;
  index = 1;
  if (FAILED(SafeArrayGetElement(argument.parray, &index, text.Put())) || text.vt != VT_BSTR) return false;
  if (parameterId) *parameterId = id.lVal;
  if (outcome) *outcome = ClassifyFailureText(std::u16string_view(text.bstrVal, SysStringLen(text.bstrVal)));
  return true;
}

bool DtmIsOnline(IUnknown* dtm) {
  vkr::ComPtr<IovFdtBaseDTM> base;
  if (!dtm || FAILED(dtm->QueryInterface(IovFdtBaseDTM::iid, base.PutVoid())) || !base) return false;
  EDtmState state = dsUNDEFINED;
  return SUCCEEDED(base->GetDTMState(&state)) && static_cast<ULONG>(state) == kDtmStateOnline;
}

SDeviceOutcome WriteDeviceValue(IovFdtParameterHandler4* handler, LONG parameterId, const VARIANT& value) {
  if (!handler || !DtmIsOnline(handler)) return Of(EDeviceOutcome::Offline);
  const unsigned long long mark = DeviceFailureMark();
  // The device's answer to this write, not one before it, tells of a warning.
  VARIANT none = vkr::EmptyVariant();
  none.vt = VT_UI1;
  handler->SetParameterValue(vkr::UI4(kParCommandResponse), none);
  VARIANT_BOOL done = VARIANT_FALSE;
  const HRESULT hr = handler->WriteDeviceParameterEx(vkr::UI4(static_cast<ULONG>(parameterId)), value, &done);
  SDeviceOutcome outcome = AfterCall(hr, done, mark, parameterId);
  vkr::Variant answer, code;
  if (outcome.Ok() && SUCCEEDED(handler->GetParameterValue(vkr::UI4(kParCommandResponse), answer.Put())) &&
      SUCCEEDED(VariantChangeType(&code, &answer, 0, VT_UI1)) && code.bVal != 0 && vkr::hart::IsWarning(0, code.bVal))
    outcome.warning = code.bVal;
  return outcome;
}

SDeviceOutcome ReadDeviceValue(IovFdtParameterHandler4* handler, LONG parameterId) {
  if (!handler || !DtmIsOnline(handler)) return Of(EDeviceOutcome::Offline);
  const unsigned long long mark = DeviceFailureMark();
  VARIANT_BOOL done = VARIANT_FALSE;
  const HRESULT hr = handler->ReadDeviceParameterEx(vkr::UI4(static_cast<ULONG>(parameterId)), &done);
  return AfterCall(hr, done, mark, parameterId);
}

SDeviceOutcome StartDeviceRead(IovFdtParameterHandler4* handler, LONG parameterId) {
  if (!handler || !DtmIsOnline(handler)) return Of(EDeviceOutcome::Offline);
  const unsigned long long mark = DeviceFailureMark();
  VARIANT_BOOL sent = VARIANT_FALSE;
  const HRESULT hr = handler->ReadDeviceParameter(vkr::UI4(static_cast<ULONG>(parameterId)), &sent);
  if (SUCCEEDED(hr) && sent != VARIANT_FALSE) return Of(EDeviceOutcome::Done);
  return AfterCall(FAILED(hr) ? hr : S_FALSE, sent, mark, parameterId);
}

SDeviceOutcome StartDeviceWrite(IovFdtParameterHandler4* handler, LONG parameterId, const VARIANT& value) {
  if (!handler || !DtmIsOnline(handler)) return Of(EDeviceOutcome::Offline);
  const unsigned long long mark = DeviceFailureMark();
  VARIANT_BOOL sent = VARIANT_FALSE;
  const HRESULT hr = handler->WriteDeviceParameter(vkr::UI4(static_cast<ULONG>(parameterId)), value, &sent);
  if (SUCCEEDED(hr) && sent != VARIANT_FALSE) return Of(EDeviceOutcome::Done);
  return AfterCall(FAILED(hr) ? hr : S_FALSE, sent, mark, parameterId);
}

}  // namespace vkr::dui
