// Debugger output: OutputDebugStringA/W.
//
// On Windows the text goes to an attached debugger, or nowhere. Here it goes to the sink: by
// default stderr when the environment variable VKR_DEBUG_OUTPUT is set (one line per call), and
// nowhere otherwise. Tests and hosts install their own sink.
#pragma once

#include <functional>
#include <string_view>

#include "platform/win/types.h"

// The "W" form converts to UTF-8; both give the sink the text exactly (no line end added).
VKR_API void OutputDebugStringA(LPCSTR text);
VKR_API void OutputDebugStringW(LPCWSTR text);

namespace vkr::platform {
// Receives each text, from whichever thread wrote it; calls are serialised. A sink must not
// write debugger output itself.
using DebugOutputSink = std::function<void(std::string_view text)>;
// Installs a sink (an empty one restores the default) and returns the previous one. Once this
// returns, the previous sink is no longer running and will not be called again.
VKR_API DebugOutputSink SetDebugOutputSink(DebugOutputSink sink);
}  // namespace vkr::platform
