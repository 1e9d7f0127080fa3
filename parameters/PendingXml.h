// XML helpers the parameter handler uses that have not reached this tree yet.
//
// Declared weak with their signatures so the code builds and links before they arrive; the caller
// refuses with E_NOTIMPL while one is missing. This header goes away when they land.
#pragma once

#include "platform/platform.h"

[[gnu::weak]] HRESULT XmlEscapeText(BSTR text, BSTR* escaped);
