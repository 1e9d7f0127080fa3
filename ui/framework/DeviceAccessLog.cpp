// The log of failed device accesses (see DeviceAccessLog.h).
#include "ui/framework/DeviceAccessLog.h"

#include <deque>
#include <mutex>

#include "include/DtmMessages.h"

namespace vkr::ui {

namespace {

constexpr std::size_t kKept = 64;

struct SLog {
  std::mutex lock;
  std::deque<SDeviceAccessFailure> entries;
  std::deque<ULONG> dtmNumbers;  // beside entries
  unsigned long long serial = 0;
};

SLog& Log() {
  static SLog log;
  return log;
}

bool ElementOf(SAFEARRAY* array, LONG index, vkr::Variant* out) {
  return SUCCEEDED(SafeArrayGetElement(array, &index, out->Put()));
}

}  // namespace

bool NoteDeviceAccessFailure(const VARIANT& command, const VARIANT& argument) {
  vkr::Variant number;
  if (FAILED(VariantChangeType(&number, &command, 0, VT_UI4)) || number.ulVal != kBroadcastDeviceAccessFailed)
    return false;
  if (argument.vt != (VT_ARRAY | VT_VARIANT) || !argument.parray) return true;
  vkr::Variant id, text, dtmNumber;
  if (!ElementOf(argument.parray, 0, &id) || !ElementOf(argument.parray, 1, &text) ||
      !ElementOf(argument.parray, 2, &dtmNumber) || FAILED(VariantChangeType(&id, &id, 0, VT_I4)) ||
      text.vt != VT_BSTR || FAILED(VariantChangeType(&dtmNumber, &dtmNumber, 0, VT_UI4)))
    return true;
  SLog& log = Log();
  std::lock_guard guard(log.lock);
  for (ULONG seen : log.dtmNumbers)
    if (seen == dtmNumber.ulVal) return true;
  SDeviceAccessFailure failure;
  failure.serial = ++log.serial;
  failure.parameterId = id.lVal;
  failure.text = std::u16string(text.bstrVal, SysStringLen(text.bstrVal));
  log.entries.push_back(std::move(failure));
  log.dtmNumbers.push_back(dtmNumber.ulVal);
  if (log.entries.size() > kKept) {
    log.entries.pop_front();
    log.dtmNumbers.pop_front();
  }
  return true;
}

unsigned long long DeviceAccessMark() {
  SLog& log = Log();
  std::lock_guard guard(log.lock);
  return log.serial;
}

std::optional<SDeviceAccessFailure> DeviceAccessFailureSince(unsigned long long mark, LONG parameterId) {
  SLog& log = Log();
  std::lock_guard guard(log.lock);
  for (auto it = log.entries.rbegin(); it != log.entries.rend() && it->serial > mark; ++it)
    if (it->parameterId == parameterId) return *it;
  return std::nullopt;
}

std::vector<SDeviceAccessFailure> DeviceAccessFailuresSince(unsigned long long mark) {
  SLog& log = Log();
  std::lock_guard guard(log.lock);
  std::vector<SDeviceAccessFailure> since;
  for (const SDeviceAccessFailure& failure : log.entries)
    if (failure.serial > mark) since.push_back(failure);
  return since;
}

}  // namespace vkr::ui
