// The failed device accesses the DTM told its user interfaces (the broadcast
// kBroadcastDeviceAccessFailed: {VT_UI4 parameter id, VT_BSTR error text, VT_UI4 the DTM's number
// of the failure}), kept for the user
// interface that started the access: a blocking write learns why it failed after it returns, a
// page learns why its read never came. Every user interface that takes the broadcast notes it here
// (the DTM's number keeps one failure that reaches several once); the log holds the last few, numbered in order.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace vkr::ui {

struct SDeviceAccessFailure {
  unsigned long long serial = 0;  // from 1, in the order noted
  LONG parameterId = -1;
  std::u16string text;  // the DTM's error text as it came
};

// Notes the broadcast when it is one (true); anything else is left alone (false).
bool NoteDeviceAccessFailure(const VARIANT& command, const VARIANT& argument);
// The serial of the last failure noted (0: none yet): a mark to ask "since" later.
unsigned long long DeviceAccessMark();
// The last failure of the parameter noted after the mark.
std::optional<SDeviceAccessFailure> DeviceAccessFailureSince(unsigned long long mark, LONG parameterId);
// Every failure noted after the mark (of those the log still holds), in the order noted.
std::vector<SDeviceAccessFailure> DeviceAccessFailuresSince(unsigned long long mark);

}  // namespace vkr::ui
