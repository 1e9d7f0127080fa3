// What a HART command response code means: the texts HART gives the codes that mean the same for
// every command, the codes the VKR's range, unit and setting writes give their own meaning, and
// which of them are warnings (the device ran the command and says so).
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace vkr::hart {

// The meaning of `code` in the answer to `command`, lower case ("upper range value too high");
// a warning without a meaning of its own is named by its class ("warning", "device-specific
// warning"); empty for 0 and for an error code HART gives this command no meaning for.
std::u16string ResponseCodeText(BYTE command, BYTE code);
// The code as "0x0B (upper range value too high)", or "0x0B" when it has no text.
std::u16string DescribeResponseCode(BYTE command, BYTE code);
// Whether `code` answers `command` with a warning: the command ran, the device took what it was
// sent.
bool IsWarning(BYTE command, BYTE code);
// The DTM's word on a write the device took with a warning: "\"NAME\" was written; the device
// warns: 0x0E (...)"; and whether a text is such a word.
std::u16string WarnedWriteText(std::u16string_view name, BYTE command, BYTE code);
bool IsWarnedWriteText(std::u16string_view text);
// A notice with such words joined by "; " ('"A" was written; the device warns: W; "B" was
// written; the device warns: W') with each warning told once, the writes it answered named
// together in the order they came ('"A" and "B" were written; the device warns: W'); the rest of
// the notice as it was.
std::u16string GroupWarnedWrites(std::u16string_view text);

}  // namespace vkr::hart
