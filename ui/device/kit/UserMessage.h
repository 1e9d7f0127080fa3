// Asking and telling the user through the DTM's function container (ShowUserMessage), with the
// message-box style bits of DeviceUiIds.h (kMessageError, kMessageOkCancelInfo, ...).
#pragma once

#include <string_view>

#include "platform/platform.h"

namespace vkr::dui {

// Shows text under caption with the style; *answer (may be null) gets the button the user chose
// (kAnswerCancel, kAnswerYes, ...; 0 when nothing was shown). E_NOINTERFACE when the DTM offers
// no function container; otherwise the container's answer.
HRESULT ShowDeviceMessage(IUnknown* dtm, std::u16string_view caption, std::u16string_view text, LONG style,
                          LONG* answer = nullptr);

}  // namespace vkr::dui
